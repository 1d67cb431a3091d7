#include "record_checker.h"

#include <algorithm>
#include <array>

// What the writers type and log: the stamp that gives every answer its identity, the bodies,
// and the writers' report lines.
namespace recordcheck {
namespace {

QString fieldsText(const Stamp& s)
{
    return QStringLiteral("w=%1 r=%2 s=%3 k=%4 cn=%5 n=%6 c=%7 l=%8")
        .arg(s.id.writer)
        .arg(s.id.run)
        .arg(s.id.seq)
        .arg(QChar(s.kind == RecordKind::Note ? u'n' : u'q'))
        .arg(s.classNotes)
        .arg(s.bodySize)
        .arg(s.bodyCrc, 8, 16, QLatin1Char('0'))
        .arg(s.lineCrc, 8, 16, QLatin1Char('0'));
}

std::optional<Stamp> parseFields(const QByteArray& text)
{
    const QList<QByteArray> fields = text.split(' ');
    if (fields.size() != 8)
        return std::nullopt;
    static const std::array<const char*, 8> names{"w=", "r=", "s=", "k=", "cn=", "n=", "c=", "l="};
    std::array<QByteArray, 8> values;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!fields[qsizetype(i)].startsWith(names[i]))
            return std::nullopt;
        values[i] = fields[qsizetype(i)].mid(qsizetype(qstrlen(names[i])));
    }
    Stamp s;
    bool ok[7] = {};
    s.id.writer = values[0].toInt(&ok[0]);
    s.id.run = values[1].toInt(&ok[1]);
    s.id.seq = values[2].toInt(&ok[2]);
    if (values[3] != "q" && values[3] != "n")
        return std::nullopt;
    s.kind = values[3] == "n" ? RecordKind::Note : RecordKind::Response;
    s.classNotes = values[4].toInt(&ok[3]);
    s.bodySize = values[5].toLongLong(&ok[4]);
    s.bodyCrc = values[6].toUInt(&ok[5], 16);
    s.lineCrc = values[7].toUInt(&ok[6], 16);
    if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }) || s.bodySize < 0)
        return std::nullopt;
    return s;
}

} // namespace

quint32 crc32(const QByteArray& bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char b : bytes)
        crc = table[(crc ^ uchar(b)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QString stampLine(const Stamp& stamp)
{
    return QStringLiteral("@@ ") + fieldsText(stamp) + QStringLiteral(" @@");
}

std::optional<Stamp> parseStampLine(const QByteArray& line)
{
    if (!line.startsWith("@@ ") || !line.endsWith(" @@") || line.size() < 6)
        return std::nullopt;
    return parseFields(line.mid(3, line.size() - 6));
}

QString makeBody(std::mt19937_64& random, qsizetype size)
{
    static const QString alphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789     ,;:-+=()/'\"?<>&*%") +
        QString::fromUtf8("éüñÿ€‘’\u00a0");
    auto character = [&] { return alphabet[qsizetype(random() % quint64(alphabet.size()))]; };
    QString body;
    body.reserve(size);
    // Lines of 0 to 100 characters; a line end only where at least one character can follow it.
    while (body.size() < size) {
        if (!body.isEmpty() && size - body.size() >= 3)
            body += QStringLiteral("\r\n");
        const qsizetype length = std::min<qsizetype>(qsizetype(random() % 101), size - body.size());
        for (qsizetype i = 0; i < length; ++i)
            body += character();
        if (length == 0 && size - body.size() < 3 && body.size() < size)
            body += character();
    }
    return body;
}

qsizetype pickBodySize(std::mt19937_64& random)
{
    const auto between = [&](qsizetype low, qsizetype high) {
        return low + qsizetype(random() % quint64(high - low + 1));
    };
    const auto band = random() % 100;
    if (band < 40)
        return between(0, 80);
    if (band < 75)
        return between(81, 4096);
    if (band < 95)
        return between(4097, 32768);
    return between(32769, 65408);
}

QString answerText(const Stamp& stamp, const QString& body)
{
    return body.isEmpty() ? stampLine(stamp) : stampLine(stamp) + QStringLiteral("\r\n") + body;
}

QByteArray reportLine(const Stamp& stamp)
{
    return "R " + fieldsText(stamp).toLatin1() + '\n';
}

QByteArray headerReportLine(int writer, int run)
{
    return QStringLiteral("H w=%1 r=%2\n").arg(writer).arg(run).toLatin1();
}

void parseLog(const QByteArray& log, WriterLog& into)
{
    qsizetype at = 0;
    for (qsizetype end = log.indexOf('\n'); end >= 0; at = end + 1, end = log.indexOf('\n', at)) {
        const QByteArray line = log.mid(at, end - at);
        if (line.startsWith("R ")) {
            if (const auto stamp = parseFields(line.mid(2)))
                into.records << *stamp;
        } else if (line.startsWith("H ")) {
            const QList<QByteArray> f = line.mid(2).split(' ');
            if (f.size() == 2 && f[0].startsWith("w=") && f[1].startsWith("r="))
                into.headers.insert({f[0].mid(2).toInt(), f[1].mid(2).toInt()});
        }
    }
}

} // namespace recordcheck
