#include "record_checker.h"

#include <QHash>
#include <QMap>

#include <algorithm>
#include <array>

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

bool belongsIn(RecordKind kind, FileKind file)
{
    return kind == RecordKind::Note || file != FileKind::Notes;
}

QString name(FileKind file)
{
    switch (file) {
    case FileKind::Master:
        return QStringLiteral("master");
    case FileKind::Send:
        return QStringLiteral("send");
    case FileKind::Notes:
        return QStringLiteral("notes");
    }
    return {};
}

QString idText(const Identity& id)
{
    return QStringLiteral("w%1 r%2 s%3").arg(id.writer).arg(id.run).arg(id.seq);
}

FileFigures checkFile(const QByteArray& bytes, FileKind file, const Expectation& expected,
                      const QHash<Identity, Stamp>& reported)
{
    FileFigures f;
    auto problem = [&](const QString& text) {
        if (f.problems.size() < 20)
            f.problems << name(file) + QStringLiteral(": ") + text;
    };
    QHash<Identity, int> seen;
    QMap<int, Identity> lastOfWriter;
    int stamplessTorn = 0;
    int stampedInFlight = 0;
    for (const Item& item : parseFile(bytes, file)) {
        switch (item.type) {
        case Item::Type::Header:
            ++f.headers;
            break;
        case Item::Type::Damaged:
            ++f.torn;
            if (item.stampsInside == 0) {
                ++stamplessTorn;
            } else if (item.stamp && expected.inFlight.contains(item.stamp->id)) {
                ++stampedInFlight;
                ++f.tornInFlight;
            } else {
                problem(QStringLiteral("%1 bytes at %2 are no whole record (%3; %4 stamps inside)")
                            .arg(item.size)
                            .arg(item.offset)
                            .arg(item.problem)
                            .arg(item.stampsInside));
            }
            break;
        case Item::Type::Record: {
            const Stamp& s = *item.stamp;
            ++f.records;
            if (!belongsIn(s.kind, file)) {
                ++f.unexpected;
                problem(QStringLiteral("%1 is an answer, found in the notes file").arg(idText(s.id)));
                break;
            }
            if (reported.contains(s.id) ? reported.value(s.id) != s : !expected.inFlight.contains(s.id)) {
                ++f.unexpected;
                problem(QStringLiteral("%1 was never written so").arg(idText(s.id)));
            }
            f.whole.insert(s.id, s.kind);
            if (++seen[s.id] > 1) {
                ++f.duplicated;
                problem(QStringLiteral("%1 is there %2 times").arg(idText(s.id)).arg(seen[s.id]));
                break;
            }
            const auto last = lastOfWriter.find(s.id.writer);
            if (last != lastOfWriter.end() && !(*last < s.id)) {
                ++f.outOfOrder;
                problem(QStringLiteral("%1 comes after %2").arg(idText(s.id), idText(*last)));
            } else
                lastOfWriter[s.id.writer] = s.id;
            break;
        }
        }
    }
    // Each kill may leave at most one torn record in each file.
    const int tolerated = std::clamp(expected.kills - stampedInFlight, 0, stamplessTorn);
    f.tornInFlight += tolerated;
    if (stamplessTorn > tolerated)
        problem(QStringLiteral("%1 torn stretches without a stamp, more than the kills explain").arg(stamplessTorn));
    for (const Stamp& s : expected.reported) {
        if (belongsIn(s.kind, file) && !seen.contains(s.id)) {
            ++f.lost;
            problem(QStringLiteral("%1 was reported written but is not there whole").arg(idText(s.id)));
        }
    }
    if (file == FileKind::Notes ? f.headers != 0
                                : f.headers < expected.headersReported || f.headers > expected.runsStarted) {
        f.headerProblems = 1;
        problem(QStringLiteral("%1 whole session headers; %2 reported, %3 runs")
                    .arg(f.headers)
                    .arg(expected.headersReported)
                    .arg(expected.runsStarted));
    }
    return f;
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

Expectation expectationFromLogs(const WriterLog& logs, const QSet<QPair<int, int>>& killedRuns, int runsStarted)
{
    Expectation e;
    e.reported = logs.records;
    e.headersReported = int(logs.headers.size());
    e.runsStarted = runsStarted;
    e.kills = int(killedRuns.size());
    // A killed run's record in flight is the one after its last reported record.
    QHash<QPair<int, int>, int> nextSeq;
    for (const Stamp& s : logs.records) {
        int& next = nextSeq[{s.id.writer, s.id.run}];
        next = std::max(next, s.id.seq + 1);
    }
    for (const auto& run : killedRuns)
        e.inFlight.insert({run.first, run.second, nextSeq.value(run)});
    return e;
}

Figures check(const QByteArray& master, const QByteArray& send, const QByteArray& notes, const Expectation& expected)
{
    QHash<Identity, Stamp> reported;
    for (const Stamp& s : expected.reported)
        reported.insert(s.id, s);
    Figures figures;
    figures.master = checkFile(master, FileKind::Master, expected, reported);
    figures.send = checkFile(send, FileKind::Send, expected, reported);
    figures.notes = checkFile(notes, FileKind::Notes, expected, reported);
    // A record is in all of its files or in none.
    QHash<Identity, RecordKind> anywhere = figures.master.whole;
    anywhere.insert(figures.send.whole);
    anywhere.insert(figures.notes.whole);
    QList<Identity> ids = anywhere.keys();
    std::sort(ids.begin(), ids.end());
    for (const Identity& id : ids) {
        QStringList missing;
        if (!figures.master.whole.contains(id))
            missing << name(FileKind::Master);
        if (!figures.send.whole.contains(id))
            missing << name(FileKind::Send);
        if (anywhere.value(id) == RecordKind::Note && !figures.notes.whole.contains(id))
            missing << name(FileKind::Notes);
        if (missing.isEmpty())
            continue;
        ++figures.partial;
        if (figures.partialProblems.size() < 20)
            figures.partialProblems
                << QStringLiteral("%1 is missing from %2 only").arg(idText(id), missing.join(QStringLiteral(", ")));
    }
    return figures;
}

QString Figures::table() const
{
    QString text =
        QStringLiteral("  file    records  headers  lost  duplicated  torn (in flight)  out of order  unexpected\n");
    auto row = [&](const char* file, const FileFigures& f) {
        text += QStringLiteral("  %1 %2 %3 %4 %5 %6 %7 %8\n")
                    .arg(QLatin1String(file), -7)
                    .arg(f.records, 7)
                    .arg(f.headers, 8)
                    .arg(f.lost, 5)
                    .arg(f.duplicated, 11)
                    .arg(QStringLiteral("%1 (%2)").arg(f.torn).arg(f.tornInFlight), 17)
                    .arg(f.outOfOrder, 13)
                    .arg(f.unexpected, 11);
    };
    row("master", master);
    row("send", send);
    row("notes", notes);
    text += QStringLiteral("  records in only some of their files: %1\n").arg(partial);
    for (const FileFigures* f : {&master, &send, &notes}) {
        for (const QString& p : f->problems)
            text += QStringLiteral("  ! ") + p + u'\n';
    }
    for (const QString& p : partialProblems)
        text += QStringLiteral("  ! ") + p + u'\n';
    return text;
}

} // namespace recordcheck
