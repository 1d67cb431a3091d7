#include "session_index.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace sessionindex {
namespace {

constexpr char kSession[] = "session";
constexpr char kHeader[] = "header";
constexpr char kRecord[] = "record";
constexpr char kEndKind[] = "end";
constexpr std::array kHows{EndEntry::How::Finished, EndEntry::How::Quit, EndEntry::How::Closed};
constexpr char kEnd[] = ".";

void appendEscaped(QByteArray& out, const QString& text)
{
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
}

std::optional<QString> unescaped(QByteArrayView field)
{
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            bytes += field[i];
            continue;
        }
        if (++i == field.size())
            return std::nullopt;
        switch (field[i]) {
        case '\\':
            bytes += '\\';
            break;
        case 't':
            bytes += '\t';
            break;
        case 'r':
            bytes += '\r';
            break;
        case 'n':
            bytes += '\n';
            break;
        default:
            return std::nullopt;
        }
    }
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) // no valid UTF-8
        return std::nullopt;
    return text;
}

bool isId(QByteArrayView b)
{
    return b.size() == kIdDigits &&
           std::all_of(b.begin(), b.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool hasShape(QByteArrayView b, const char* shape)
{
    if (b.size() != qsizetype(qstrlen(shape)))
        return false;
    for (qsizetype i = 0; i < b.size(); ++i) {
        if (shape[i] == 'd' ? !(b[i] >= '0' && b[i] <= '9') : b[i] != shape[i])
            return false;
    }
    return true;
}

std::optional<qint64> number(QByteArrayView b)
{
    if (b.isEmpty() || b.size() > 18 || !std::all_of(b.begin(), b.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return b.toLongLong();
}

// Relative, '/' between folders, no empty part, no "." or "..".
bool isRelativeFileName(const QString& name)
{
    if (name.isEmpty() || name.contains(u'\\') || name.contains(u':') || name.contains(QChar(0)))
        return false;
    const QStringList parts = name.split(u'/');
    return std::none_of(parts.begin(), parts.end(), [](const QString& part) {
        return part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..");
    });
}

// The entry on one line (without its LF), or why there is none.
std::variant<Entry, QString> parseLine(QByteArrayView line)
{
    const QList<QByteArrayView> fields = [&] {
        QList<QByteArrayView> parts;
        for (qsizetype from = 0;;) {
            const qsizetype tab = line.indexOf('\t', from);
            parts << line.sliced(from, (tab < 0 ? line.size() : tab) - from);
            if (tab < 0)
                return parts;
            from = tab + 1;
        }
    }();
    if (fields.last() != kEnd)
        return QStringLiteral("an entry cut short (it lacks its closing field)");
    const QByteArrayView kind = fields.first();
    if (kind == kSession) {
        if (fields.size() != 8)
            return QStringLiteral("a session entry with %1 fields, not 8").arg(fields.size());
        SessionEntry s;
        s.id = fields[1].toByteArray();
        if (!isId(s.id))
            return QStringLiteral("a session entry whose id is not 16 hex digits");
        const auto set = unescaped(fields[2]);
        const auto host = unescaped(fields[3]);
        const auto name = unescaped(fields[6]);
        if (!set || !host || !name)
            return QStringLiteral("a session entry with a text that is no valid UTF-8 or has an unknown escape");
        if (!hasShape(fields[4], "dd-dd-dddd") || !hasShape(fields[5], "dd:dd:dd"))
            return QStringLiteral("a session entry whose start is not mm-dd-yyyy hh:mm:ss");
        s.set = *set;
        s.host = *host;
        s.date = QString::fromLatin1(fields[4]);
        s.time = QString::fromLatin1(fields[5]);
        s.name = *name;
        return Entry(s);
    }
    if (kind == kHeader || kind == kRecord) {
        if (fields.size() != 6)
            return QStringLiteral("a %1 entry with %2 fields, not 6").arg(QLatin1String(kind)).arg(fields.size());
        PlaceEntry p;
        p.kind = kind == kHeader ? PlaceEntry::Kind::Header : PlaceEntry::Kind::Record;
        p.session = fields[1].toByteArray();
        const auto file = unescaped(fields[2]);
        const auto offset = number(fields[3]);
        const auto length = number(fields[4]);
        if (!isId(p.session))
            return QStringLiteral("a %1 entry whose session id is not 16 hex digits").arg(QLatin1String(kind));
        if (!file || !isRelativeFileName(*file))
            return QStringLiteral("a %1 entry whose file is no name inside the record folder").arg(QLatin1String(kind));
        if (!offset || !length || *length == 0)
            return QStringLiteral("a %1 entry whose offset or length is no number of bytes").arg(QLatin1String(kind));
        p.file = *file;
        p.offset = *offset;
        p.length = *length;
        return Entry(p);
    }
    if (kind == kEndKind) {
        if (fields.size() != 6)
            return QStringLiteral("an end entry with %1 fields, not 6").arg(fields.size());
        EndEntry e;
        e.session = fields[1].toByteArray();
        if (!isId(e.session))
            return QStringLiteral("an end entry whose session id is not 16 hex digits");
        const auto how = std::find_if(kHows.begin(), kHows.end(), [&](auto h) { return howWord(h) == fields[2]; });
        if (how == kHows.end())
            return QStringLiteral("an end entry whose way of ending is none of finished, quit, closed");
        if (!hasShape(fields[3], "dd-dd-dddd") || !hasShape(fields[4], "dd:dd:dd"))
            return QStringLiteral("an end entry whose time is not mm-dd-yyyy hh:mm:ss");
        e.how = *how;
        e.date = QString::fromLatin1(fields[3]);
        e.time = QString::fromLatin1(fields[4]);
        return Entry(e);
    }
    return QStringLiteral("no entry this program knows");
}

} // namespace

QByteArray newSessionId(QRandomGenerator& random)
{
    return QByteArray::number(random.generate64(), 16).rightJustified(kIdDigits, '0');
}

QByteArray howWord(EndEntry::How how)
{
    switch (how) {
    case EndEntry::How::Quit:
        return "quit";
    case EndEntry::How::Closed:
        return "closed";
    case EndEntry::How::Finished:
        break;
    }
    return "finished";
}

QByteArray encode(const Entry& entry)
{
    QByteArray line;
    if (const auto* s = std::get_if<SessionEntry>(&entry)) {
        line = QByteArray(kSession) + '\t' + s->id + '\t';
        appendEscaped(line, s->set);
        line += '\t';
        appendEscaped(line, s->host);
        line += '\t';
        appendEscaped(line, s->date);
        line += '\t';
        appendEscaped(line, s->time);
        line += '\t';
        appendEscaped(line, s->name);
    } else if (const auto* e = std::get_if<EndEntry>(&entry)) {
        line = QByteArray(kEndKind) + '\t' + e->session + '\t' + howWord(e->how) + '\t';
        appendEscaped(line, e->date);
        line += '\t';
        appendEscaped(line, e->time);
    } else {
        const auto& p = std::get<PlaceEntry>(entry);
        line = QByteArray(p.kind == PlaceEntry::Kind::Header ? kHeader : kRecord) + '\t' + p.session + '\t';
        appendEscaped(line, p.file);
        line += '\t' + QByteArray::number(p.offset) + '\t' + QByteArray::number(p.length);
    }
    return line + '\t' + kEnd + '\n';
}

QByteArray bytesToAppend(const QList<Entry>& entries, std::optional<char> lastByte)
{
    QByteArray bytes = lastByte && *lastByte != '\n' ? QByteArray("\n") : QByteArray();
    for (const Entry& e : entries)
        bytes += encode(e);
    return bytes;
}

Parsed parse(QByteArrayView bytes, bool atEnd, qint64 firstLine)
{
    Parsed parsed;
    qint64 lineNumber = firstLine;
    for (qsizetype from = 0; from < bytes.size(); ++lineNumber) {
        const qsizetype end = bytes.indexOf('\n', from);
        if (end < 0 && !atEnd)
            break;
        const QByteArrayView line = bytes.sliced(from, (end < 0 ? bytes.size() : end) - from);
        const qsizetype at = from;
        from = end < 0 ? bytes.size() : end + 1;
        parsed.consumed = from;
        if (end < 0) {
            parsed.problems << Problem{lineNumber, at, QStringLiteral("a last line without its line end, cut short")};
            break;
        }
        if (line.isEmpty())
            continue; // holds nothing to name
        auto result = parseLine(line);
        if (const QString* why = std::get_if<QString>(&result)) {
            parsed.problems << Problem{lineNumber, at, *why};
            continue;
        }
        const Entry& entry = std::get<Entry>(result);
        if (const auto* s = std::get_if<SessionEntry>(&entry)) {
            parsed.sessions << *s;
            parsed.sessionLines << lineNumber;
        } else if (const auto* e = std::get_if<EndEntry>(&entry)) {
            parsed.ends << *e;
            parsed.endLines << lineNumber;
        } else {
            parsed.places << std::get<PlaceEntry>(entry);
            parsed.placeLines << lineNumber;
        }
    }
    return parsed;
}

} // namespace sessionindex
