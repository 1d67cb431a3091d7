#include "record_parser.h"

#include <QList>

#include "platform/code_page.h"
#include "records/record_layout.h"

namespace review {
namespace {

// Stand-ins for the variable parts: the layouts are taken from the functions that write
// the records, so that reading follows writing to the byte.
constexpr char kTimeMark = '\x01';
constexpr char kDateMark = '\x02';
constexpr char kLineMark = '\x03';
constexpr char kTextMark = '\x04';
constexpr char kNumberMark = '\x05';
constexpr char kCodeMark = '\x06';
constexpr char kSetMark = '\x07';
constexpr char kHeaderMark = '\x08';
constexpr qsizetype kTimeSize = 8;
constexpr qsizetype kDateSize = 10;

// The longest code line: 28 characters, each perhaps after one more.
constexpr qsizetype kLongestCodeLine = 56;
constexpr int kFewestCodeCharacters = 19;

struct Segment {
    QByteArray literal; // empty for a field
    Field field = Field::Count;
    qsizetype width = 0; // 0: as long as it takes to reach the next literal
};

struct Layout {
    Parsed::Type type = Parsed::Type::None;
    QList<Segment> segments;
};

Field fieldOf(char mark)
{
    switch (mark) {
    case kTimeMark:
        return Field::Time;
    case kDateMark:
        return Field::Date;
    case kLineMark:
        return Field::Line;
    case kTextMark:
        return Field::Text;
    case kNumberMark:
        return Field::Number;
    case kCodeMark:
        return Field::CodeLine;
    case kSetMark:
        return Field::Set;
    case kHeaderMark:
        return Field::HeaderLine;
    default:
        return Field::Count;
    }
}

Layout layoutOf(Parsed::Type type, const QByteArray& sample)
{
    Layout layout{type, {}};
    for (qsizetype i = 0; i < sample.size();) {
        const Field field = fieldOf(sample[i]);
        if (field == Field::Count) {
            if (layout.segments.isEmpty() || !layout.segments.last().literal.size())
                layout.segments.append(Segment{});
            layout.segments.last().literal += sample[i++];
            continue;
        }
        const qsizetype width = field == Field::Time ? kTimeSize : field == Field::Date ? kDateSize : 0;
        layout.segments.append(Segment{{}, field, width});
        i += width ? width : 1;
    }
    return layout;
}

const QList<Layout>& layouts()
{
    static const QList<Layout> all = [] {
        const QString time(kTimeSize, QChar(kTimeMark));
        const QString date(kDateSize, QChar(kDateMark));
        const QString line{QChar(kLineMark)};
        const QString text{QChar(kTextMark)};
        auto bytes = [](const QString& s) { return codepage::encode(s); };
        QByteArray numbered = bytes(records::questionRecord(time, line, text, 7.0));
        numbered.replace(" 7 ", QByteArray(1, kNumberMark));
        const QString note = records::kNotesMarker + text;
        return QList<Layout>{
            layoutOf(Parsed::Type::Header,
                     bytes(records::sessionHeader(QString(QChar(kCodeMark)),
                                                  QStringLiteral("assignment #") + QChar(kSetMark),
                                                  QString(QChar(kHeaderMark)), records::kCourseTitle, date))),
            // Each record layout parts from the others right after the time line, so those
            // that do not fit fail at once; a note is tried before the plain response, whose
            // shown line would otherwise be looked for through the whole note.
            layoutOf(Parsed::Type::Response, numbered),
            layoutOf(Parsed::Type::Note, bytes(records::notesRecord(time, date, line, note, true))),
            layoutOf(Parsed::Type::Note, bytes(records::notesRecord(time, date, line, note, false))),
            layoutOf(Parsed::Type::Response, bytes(records::questionRecord(time, line, text, std::nullopt))),
        };
    }();
    return all;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool matchesShape(QByteArrayView b, qsizetype at, const char* shape)
{
    for (qsizetype i = 0; shape[i]; ++i) {
        if (at + i >= b.size())
            return false;
        if (shape[i] == 'd' ? !isDigit(b[at + i]) : b[at + i] != shape[i])
            return false;
    }
    return true;
}

bool isCodeChar(uchar c)
{
    return (c >= 66 && c <= 116) || c >= 118;
}

bool hasNoLineEnd(QByteArrayView b)
{
    return !b.contains('\r') && !b.contains('\n');
}

// A field that must hold something on one line.
bool isOneLine(Field f, QByteArrayView b)
{
    return !b.isEmpty() && hasNoLineEnd(b) && (f != Field::Number || !b.trimmed().isEmpty());
}

// `exact`: the stretch ends where the record ends, as in every whole file; checked first, so
// that a record costs one pass over its text.
bool match(const Layout& layout, QByteArrayView s, bool exact, Parsed& p)
{
    p.type = layout.type;
    p.fields.fill(QByteArrayView());
    qsizetype pos = 0;
    for (qsizetype i = 0; i < layout.segments.size(); ++i) {
        const Segment& seg = layout.segments[i];
        if (!seg.literal.isEmpty()) {
            if (!s.sliced(pos).startsWith(seg.literal))
                return false;
            pos += seg.literal.size();
            continue;
        }
        qsizetype end = pos + seg.width;
        if (seg.width) {
            if (seg.field == Field::Time ? !isTimeAt(s, pos) : !matchesShape(s, pos, "dd-dd-dddd"))
                return false;
        } else {
            // A record's text may hold anything, even the closing rule: it ends at the last
            // closing rule of the stretch. Every other field ends at the first literal after it.
            const QByteArray& next = layout.segments[i + 1].literal;
            if (i + 2 < layout.segments.size())
                end = s.indexOf(next, pos);
            else if (exact)
                end = s.endsWith(next) ? s.size() - next.size() : -1;
            else
                end = s.lastIndexOf(next);
            if (end < pos)
                return false;
        }
        const QByteArrayView value = s.sliced(pos, end - pos);
        const bool multiLine = seg.field == Field::Text || seg.field == Field::Line;
        if (!seg.width && !multiLine && !isOneLine(seg.field, value))
            return false;
        // The first time of a record is its own; a note repeats it beside the date.
        if (p.fields[size_t(seg.field)].isNull())
            p.fields[size_t(seg.field)] = value;
        pos = end;
    }
    p.size = pos;
    return true;
}

} // namespace

QByteArrayView recordStartPattern()
{
    static const QByteArray pattern = layouts()[1].segments.first().literal;
    return pattern;
}

QByteArrayView headerAnchor()
{
    static const QByteArray anchor = layouts()[0].segments[1].literal;
    return anchor;
}

bool hasTimeShapeAt(QByteArrayView bytes, qsizetype at)
{
    return matchesShape(bytes, at, "dd:dd:dd");
}

bool isTimeAt(QByteArrayView bytes, qsizetype at)
{
    if (!hasTimeShapeAt(bytes, at))
        return false;
    auto two = [&](qsizetype i) { return (bytes[at + i] - '0') * 10 + (bytes[at + i + 1] - '0'); };
    return two(0) < 24 && two(3) < 60 && two(6) < 60;
}

qsizetype codeLineStart(QByteArrayView bytes, qsizetype anchor)
{
    qsizetype start = anchor;
    int high = 0;
    while (start > 0 && anchor - start < kLongestCodeLine && isCodeChar(uchar(bytes[start - 1]))) {
        --start;
        high += uchar(bytes[start]) >= 118 ? 1 : 0;
    }
    return high >= kFewestCodeCharacters ? start : -1;
}

Parsed parseStretch(QByteArrayView stretch)
{
    Parsed best;
    Parsed candidate;
    const bool record = stretch.startsWith(recordStartPattern());
    for (const bool exact : {true, false}) {
        for (const Layout& layout : layouts()) {
            if ((layout.type != Parsed::Type::Header) != record || !match(layout, stretch, exact, candidate))
                continue;
            if (exact || candidate.size > best.size)
                best = candidate;
            if (exact)
                return best;
        }
        if (best.type != Parsed::Type::None)
            return best;
    }
    const qsizetype anchor = stretch.indexOf(headerAnchor());
    const qsizetype time = recordStartPattern().size();
    if (record && hasTimeShapeAt(stretch, time) && !isTimeAt(stretch, time))
        best.problem = QStringLiteral("a record whose time %1 is no time of day")
                           .arg(QString::fromLatin1(stretch.sliced(time, 8)));
    else if (record)
        best.problem = QStringLiteral("a record cut short or altered");
    else if (anchor > 0 && codeLineStart(stretch, anchor) == 0)
        best.problem = QStringLiteral("a session header cut short or altered");
    else
        best.problem = QStringLiteral("text that is no record and no session header");
    return best;
}

} // namespace review
