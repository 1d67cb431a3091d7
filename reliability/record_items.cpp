#include "record_checker.h"

#include <QHash>
#include <QMap>

#include <algorithm>
#include <array>

// Reading the record files back into items, by their bytes alone.
namespace recordcheck {
namespace {

// The record files' fixed texts, written out here on their own so that the checker does
// not take the program's word for its own format.
const QByteArray kCrLf = "\r\n";
const QByteArray kOpeningRule = "......!!!!!!!!...................................";
const QByteArray kClosingRule = ".................................................";
const QByteArray kRecordStart = kOpeningRule + kCrLf + QByteArray(56, ' ');
const QByteArray kNumberLine = "`questionNumber" + QByteArray(13, ' ');
const QByteArray kResponseMarker = "RESPONSE -->  \r\n";
const QByteArray kNotesMarker = "NOTES -------> ";
const QByteArray kCourseTitle = "Physics I Class Notes";
const QByteArray kAssignment = "\r\nassignment #";
const QByteArray kStampOpen = "@@ w=";
constexpr qsizetype kTimeSize = 8;
constexpr qsizetype kDateSize = 10;

// Characters of a code line: 66..116 before one of 118..255.
bool isCodeLow(uchar c)
{
    return c >= 66 && c <= 116;
}
bool isCodeHigh(uchar c)
{
    return c >= 118;
}
bool isCodeChar(uchar c)
{
    return isCodeLow(c) || isCodeHigh(c);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// hh:mm:ss or mm-dd-yyyy: digits with the separator at the given places.
bool matches(const QByteArray& b, qsizetype at, const char* shape)
{
    for (qsizetype i = 0; shape[i]; ++i) {
        if (at + i >= b.size())
            return false;
        const char want = shape[i];
        if (want == 'd' ? !isDigit(b[at + i]) : b[at + i] != want)
            return false;
    }
    return true;
}

bool isTimeAt(const QByteArray& b, qsizetype at)
{
    return matches(b, at, "dd:dd:dd");
}

bool isDateAt(const QByteArray& b, qsizetype at)
{
    return matches(b, at, "dd-dd-dddd");
}

struct Reader {
    const QByteArray& bytes;
    qsizetype at;
    qsizetype end;

    bool take(const QByteArray& literal)
    {
        if (end - at < literal.size() || bytes.mid(at, literal.size()) != literal)
            return false;
        at += literal.size();
        return true;
    }
    bool takeIf(bool (*test)(const QByteArray&, qsizetype), qsizetype size)
    {
        if (end - at < size || !test(bytes, at))
            return false;
        at += size;
        return true;
    }
    bool startsWith(const QByteArray& literal) const
    {
        return end - at >= literal.size() && bytes.mid(at, literal.size()) == literal;
    }
    // Up to (not including) the next occurrence of `literal`; the reader moves past it.
    std::optional<QByteArray> until(const QByteArray& literal)
    {
        const qsizetype found = bytes.indexOf(literal, at);
        if (found < 0 || found + literal.size() > end)
            return std::nullopt;
        QByteArray text = bytes.mid(at, found - at);
        at = found + literal.size();
        return text;
    }
};

// A code line of n characters from 118 to 255 (n = 19..28), each perhaps after one
// character from 66 to 116.
bool isCodeLine(const QByteArray& line)
{
    int high = 0;
    bool lastLow = false;
    for (const char ch : line) {
        const uchar c = uchar(ch);
        if (!isCodeChar(c) || (isCodeLow(c) && lastLow))
            return false;
        lastLow = isCodeLow(c);
        high += lastLow ? 0 : 1;
    }
    return !lastLow && high >= 19 && high <= 28;
}

// A whole item ends at `end`; otherwise `problem` says what is wrong.
struct Parsed {
    qsizetype end = -1;
    QString problem;
};

Parsed failed(const QString& problem)
{
    return {-1, problem};
}

Parsed parseHeader(Reader r)
{
    const auto codeLine = r.until(kCrLf);
    if (!codeLine || !isCodeLine(*codeLine))
        return failed(QStringLiteral("the header's code line is not whole"));
    if (!r.take("assignment #"))
        return failed(QStringLiteral("no assignment line"));
    const auto number = r.until(kCrLf);
    if (!number || number->isEmpty())
        return failed(QStringLiteral("no class-notes number"));
    const auto headerLine = r.until(kCrLf);
    if (!headerLine || !headerLine->startsWith(*number + '.'))
        return failed(
            QStringLiteral("the set's header line does not match assignment #%1").arg(QString::fromLatin1(*number)));
    if (!r.take(kCourseTitle + kCrLf) || !r.takeIf(isDateAt, kDateSize) || !r.take(kCrLf))
        return failed(QStringLiteral("the course title or date line is not whole"));
    return {r.at, {}};
}

// Parses one record; a whole one fills `item`.
Parsed parseRecord(Reader r, FileKind file, Item& item)
{
    if (!r.take(kRecordStart) || !r.takeIf(isTimeAt, kTimeSize) || !r.take(kCrLf))
        return failed(QStringLiteral("no opening rule and time line"));
    std::optional<qint64> number;
    if (r.take(QByteArray(42, ' '))) {
        if (!r.takeIf(isDateAt, kDateSize) || !r.take("    ") || !r.takeIf(isTimeAt, kTimeSize) || !r.take(kCrLf))
            return failed(QStringLiteral("the date-and-time line is not whole"));
        item.kind = RecordKind::Note;
    } else {
        item.kind = RecordKind::Response;
        if (file == FileKind::Master) {
            if (!r.take(kCrLf + kCrLf + kNumberLine + ' '))
                return failed(QStringLiteral("no question-number line"));
            const auto digits = r.until(" \r\n");
            bool ok = false;
            if (digits)
                number = digits->toLongLong(&ok);
            if (!ok || !std::all_of(digits->begin(), digits->end(), isDigit))
                return failed(QStringLiteral("the question number is not written as whole digits"));
        }
    }
    const auto shownLine = r.until(kCrLf + kOpeningRule + kCrLf);
    if (!shownLine)
        return failed(QStringLiteral("no second opening rule"));
    if (!r.take(item.kind == RecordKind::Note ? kNotesMarker : kResponseMarker))
        return failed(QStringLiteral("no response or notes marker"));
    qsizetype stampEnd = r.bytes.indexOf(kCrLf, r.at);
    if (stampEnd < 0 || stampEnd > r.end)
        stampEnd = r.end;
    const auto stamp = parseStampLine(r.bytes.mid(r.at, stampEnd - r.at));
    if (!stamp)
        return failed(QStringLiteral("no stamp line at the start of the answer"));
    r.at = stampEnd;
    if (stamp->bodySize > 0) {
        if (!r.take(kCrLf) || r.end - r.at < stamp->bodySize)
            return failed(QStringLiteral("the answer is shorter than its stamp says"));
        if (crc32(r.bytes.mid(r.at, stamp->bodySize)) != stamp->bodyCrc)
            return failed(QStringLiteral("the answer's bytes differ from its stamp"));
        r.at += stamp->bodySize;
    }
    if (!r.take(kCrLf + kClosingRule))
        return failed(QStringLiteral("no closing rule right after the answer"));
    const bool lineEnd = file == FileKind::Master || item.kind == RecordKind::Response;
    if (!r.take(lineEnd ? kCrLf : QByteArray(7, ' ')))
        return failed(QStringLiteral("the closing rule does not end as it should"));
    if (crc32(*shownLine) != stamp->lineCrc)
        return failed(QStringLiteral("the shown line differs from the one the writer saw"));
    if (stamp->kind != item.kind)
        return failed(QStringLiteral("a record of the other kind than its stamp"));
    if (number && *number != qint64(stamp->classNotes) * 10000)
        return failed(
            QStringLiteral("question number %1 where %2 was due").arg(*number).arg(qint64(stamp->classNotes) * 10000));
    item.stamp = stamp;
    return {r.at, {}};
}

// Where records and headers begin: the opening rule followed by the time line, and the
// code line before each "assignment #" line.
QList<qsizetype> startsOfItems(const QByteArray& bytes)
{
    QList<qsizetype> starts;
    for (qsizetype at = bytes.indexOf(kRecordStart); at >= 0; at = bytes.indexOf(kRecordStart, at + 1)) {
        const qsizetype time = at + kRecordStart.size();
        if (isTimeAt(bytes, time) && bytes.mid(time + kTimeSize, 2) == kCrLf)
            starts << at;
    }
    // A code line has no blank and no line end, but a record torn inside a word may leave
    // code-line characters right before it: take the longest run that has a code line's shape.
    constexpr qsizetype kLongestCodeLine = 56;
    for (qsizetype at = bytes.indexOf(kAssignment); at >= 0; at = bytes.indexOf(kAssignment, at + 1)) {
        qsizetype start = at;
        while (start > 0 && at - start < kLongestCodeLine && isCodeChar(uchar(bytes[start - 1])))
            --start;
        qsizetype shaped = start;
        while (shaped < at && !isCodeLine(bytes.mid(shaped, at - shaped)))
            ++shaped;
        starts << (shaped < at ? shaped : start);
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    return starts;
}

void describeDamage(const QByteArray& bytes, Item& item)
{
    const QByteArray stretch = bytes.mid(item.offset, item.size);
    for (qsizetype at = stretch.indexOf(kStampOpen); at >= 0; at = stretch.indexOf(kStampOpen, at + 1)) {
        ++item.stampsInside;
        const qsizetype end = stretch.indexOf(" @@", at + 3);
        if (item.stampsInside == 1 && end > at)
            item.stamp = parseStampLine(stretch.mid(at, end + 3 - at));
    }
    if (item.stampsInside != 1)
        item.stamp.reset();
}

} // namespace

QList<Item> parseFile(const QByteArray& bytes, FileKind kind)
{
    QList<qsizetype> starts = startsOfItems(bytes);
    if (!bytes.isEmpty() && (starts.isEmpty() || starts.first() != 0))
        starts.prepend(0);
    QList<Item> items;
    auto damaged = [&](qsizetype from, qsizetype to, const QString& problem) {
        Item item;
        item.offset = from;
        item.size = to - from;
        item.problem = problem;
        describeDamage(bytes, item);
        items << item;
    };
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
        const Reader reader{bytes, starts[i], end};
        Item item;
        item.offset = starts[i];
        item.type = reader.startsWith(kOpeningRule) ? Item::Type::Record : Item::Type::Header;
        const Parsed parsed = item.type == Item::Type::Record ? parseRecord(reader, kind, item) : parseHeader(reader);
        if (parsed.end < 0) {
            damaged(starts[i], end, parsed.problem);
            continue;
        }
        item.size = parsed.end - item.offset;
        items << item;
        // A record cut short by a kill that is too short to hold a record start of its own
        // follows the item before it.
        if (parsed.end < end)
            damaged(parsed.end, end, QStringLiteral("bytes after a whole item"));
    }
    return items;
}

} // namespace recordcheck
