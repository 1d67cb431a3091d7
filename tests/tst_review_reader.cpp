#include <QBuffer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <random>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "platform/code_page.h"
#include "records/record_layout.h"
#include "review/file_follower.h"
#include "review/input_text.h"
#include "review/live_view.h"
#include "review/question_summary.h"
#include "review/record_parser.h"
#include "review/record_reader.h"
#include "review/report.h"
#include "review/review_command.h"
#include "review/review_text.h"
#include "review/stretch_splitter.h"
#include "storage/session_index.h"
#include "support/tutor_setup.h"

namespace {

using review::Record;

QByteArray bytes(const QString& text)
{
    return codepage::encode(text);
}

QString text(QByteArrayView b)
{
    return codepage::decode(b.toByteArray());
}

// A code line with the bytes that a strict Windows-1252 decoder refuses.
const QString kCodeLine = codepage::decode(QByteArray("\x81\x8D\x8F\x90\x9D\xF0\xC8\xE1\xAA\xFB\xD2\x8A\x9E"
                                                      "\xB5\xE6\xC0\xDF\xF7\xA4\xEEj\xBC"));

QByteArray header(const QString& set)
{
    return bytes(records::sessionHeader(kCodeLine, QStringLiteral("assignment #") + set,
                                        set + QStringLiteral(".  `class notes"), records::kCourseTitle,
                                        QStringLiteral("12-08-2026")));
}

QByteArray response(const QString& time, const QString& line, const QString& answer,
                    std::optional<double> number = std::nullopt)
{
    return bytes(records::questionRecord(time, line, answer, number));
}

QByteArray note(const QString& time, const QString& line, const QString& body, bool lineEnd)
{
    return bytes(records::notesRecord(time, QStringLiteral("12-07-2026"), line, records::kNotesMarker + body, lineEnd));
}

struct Collect final : review::ReadSink {
    QStringList items;
    void session(const review::Session& s) override
    {
        items << QStringLiteral("session %1 %2 %3 @%4").arg(s.number).arg(text(s.date), text(s.set)).arg(s.line);
    }
    void record(const Record& r) override
    {
        items << QStringLiteral("%1 s%2 %3 %4 q=%5 [%6] [%7] +%8 @%9")
                     .arg(r.kind == Record::Kind::Note ? QStringLiteral("note") : QStringLiteral("response"))
                     .arg(r.session)
                     .arg(text(r.date), text(r.time), text(r.question), text(r.line), text(r.text),
                          r.seconds ? QString::number(*r.seconds) : QStringLiteral("-"))
                     .arg(r.lineNumber);
    }
    void skipped(const review::Skipped& s) override
    {
        items << QStringLiteral("skip @%1 %2 bytes: %3").arg(s.line).arg(s.bytes).arg(s.reason);
    }
};

// Read whole, and read a few bytes at a time so that every start falls across a boundary.
QStringList readBack(const QByteArray& file, qsizetype chunk)
{
    QBuffer buffer;
    buffer.setData(file);
    buffer.open(QIODevice::ReadOnly);
    Collect collect;
    review::readRecords(buffer, collect, chunk);
    return collect.items;
}

// A device that takes nothing, as a full disk does.
class FullDevice final : public QIODevice {
public:
    FullDevice() { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64) override
    {
        setErrorString(QStringLiteral("No space left on device"));
        return -1;
    }
};

// One run of the review's command line: its status, what it wrote and what it said.
struct ReviewRun {
    int status = 0;
    QByteArray out;
    QStringList errors;
    QStringList progress;
};

// The first element a page opens and closes a different number of times; a tag that lost its
// '>' breaks the rest of the page in a browser.
QByteArray unbalancedTag(const QByteArray& page)
{
    for (const char* tag : {"section", "h2", "h3", "p", "a", "ul", "li", "div", "details", "summary", "table", "thead",
                            "tr", "th", "td", "span", "q"}) {
        if (page.count(QByteArray("<") + tag + ">") + page.count(QByteArray("<") + tag + " ") !=
            page.count(QByteArray("</") + tag + ">"))
            return tag;
    }
    return {};
}

ReviewRun runReview(const QStringList& arguments)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ReviewRun run;
    review::Console console;
    console.out = &out;
    console.error = [&](const QString& line) { run.errors << line; };
    console.progress = [&](const QString& line) { run.progress << line; };
    run.status = review::reviewMain(arguments, console);
    run.out = out.data();
    return run;
}

} // namespace

class TestReviewReader : public QObject {
    Q_OBJECT
private slots:
    void readsWhatWasWritten_data();
    void readsWhatWasWritten();
    void damage_data();
    void damage();
    void codeLineStarts_data();
    void codeLineStarts();
    void escaping_data();
    void escaping();
    void flags_data();
    void flags();
    void commandLine_data();
    void commandLine();
    void reportOutput_data();
    void reportOutput();
    void htmlPages_data();
    void htmlPages();
    void furtherPagesReplaced_data();
    void furtherPagesReplaced();
    void utf8Input_data();
    void utf8Input();
    void utf8Validity_data();
    void utf8Validity();
    void indexCodec_data();
    void indexCodec();
    void interleavedWriters_data();
    void interleavedWriters();
    void gradebook();
    void questionSummary_data();
    void questionSummary();
    void follower_data();
    void follower();
    void followsAFileLargerThanItsBytes();
    void liveView();
    void liveFolders_data();
    void liveFolders();
    void liveEnds_data();
    void liveEnds();
};

void TestReviewReader::readsWhatWasWritten_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("expected");

    const QString q = QStringLiteral("`q01 A car covers 12 m in 4 s.");
    QTest::newRow("master: numbered response and note")
        << header("005") + response("10:15:30", q, "3 m/s", 50012.0) + note("10:16:02", "given", "units!", true)
        << QStringList{"session 1 12-08-2026 005 @1",
                       "response s1 12-08-2026 10:15:30 q=50012 [" + q + "] [3 m/s] +- @6",
                       "note s1 12-08-2026 10:16:02 q= [given] [units!] +32 @16"};
    QTest::newRow("send: a note runs into the next header on its line")
        << header("005") + note("10:16:02", "L", "n", false) + header("006") + response("10:20:00", "M", "a")
        << QStringList{"session 1 12-08-2026 005 @1", "note s1 12-08-2026 10:16:02 q= [L] [n] +- @6",
                       "session 2 12-08-2026 006 @12", "response s2 12-08-2026 10:20:00 q= [M] [a] +- @17"};
    QTest::newRow("notes file: no header, each note's own date")
        << note("09:00:00", "L", "one", false) + note("09:05:00", "L", "two", false)
        << QStringList{"note s0 12-07-2026 09:00:00 q= [L] [one] +- @1",
                       "note s0 12-07-2026 09:05:00 q= [L] [two] +- @7"};
    const QString ruled = "a\r\n" + records::kClosingRule + "\r\n" + records::kOpeningRule + "\r\nb";
    QTest::newRow("texts holding the rules, empty texts")
        << header("005") + response("10:00:00", "L", ruled) + response("10:00:01", "", "") +
               note("10:00:03", "L", "", false)
        << QStringList{"session 1 12-08-2026 005 @1", "response s1 12-08-2026 10:00:00 q= [L] [" + ruled + "] +- @6",
                       "response s1 12-08-2026 10:00:01 q= [] [] +1 @16",
                       "note s1 12-08-2026 10:00:03 q= [L] [] +2 @23"};
    const QString headerLike = QStringLiteral("see\r\nassignment #3 again");
    QTest::newRow("text with a line like a header's")
        << response("10:00:00", "L", headerLike)
        << QStringList{"response s0  10:00:00 q= [L] [" + headerLike + "] +- @1"};
    QTest::newRow("a session past midnight")
        << header("005") + response("23:59:50", "L", "a") + response("00:00:05", "L", "b")
        << QStringList{"session 1 12-08-2026 005 @1", "response s1 12-08-2026 23:59:50 q= [L] [a] +- @6",
                       "response s1 12-08-2026 00:00:05 q= [L] [b] +15 @13"};
    const QString everyHighByte = codepage::decode(QByteArray("\x80\x81\x8D\x8F\x90\x9D\xFF\xE9"));
    QTest::newRow("every byte kept") << response("10:00:00", everyHighByte, everyHighByte)
                                     << QStringList{"response s0  10:00:00 q= [" + everyHighByte + "] [" +
                                                    everyHighByte + "] +- @1"};
}

void TestReviewReader::readsWhatWasWritten()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);
    QCOMPARE(readBack(file, qsizetype(1) << 20), expected);
    QCOMPARE(readBack(file, 5), expected);
}

void TestReviewReader::damage_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("expected");

    const QByteArray first = header("005") + response("10:00:00", "L", "a");
    const QByteArray second = response("10:00:09", "M", "bb");
    const QStringList firstRead{"session 1 12-08-2026 005 @1", "response s1 12-08-2026 10:00:00 q= [L] [a] +- @6"};
    const QString cut = QStringLiteral("a record cut short or altered");
    const QString after = QStringLiteral("text after the end of a record or session header");
    const QString neither = QStringLiteral("text that is no record and no session header");
    QTest::newRow("cut inside a record")
        << first + second.left(second.size() - 20)
        << firstRead + QStringList{QStringLiteral("skip @13 %1 bytes: ").arg(second.size() - 20) + cut};
    // Cut one digit short of its time: the time's shape is not looked for past the file's end.
    const qsizetype inTime = second.indexOf("10:00:09") + 7;
    QTest::newRow("cut inside a record's time")
        << first + second.left(inTime)
        << firstRead + QStringList{QStringLiteral("skip @13 %1 bytes: ").arg(inTime) + after};
    QTest::newRow("torn record before a whole one")
        << first + second.left(70) + second
        << firstRead + QStringList{"skip @13 70 bytes: " + after, "response s1 12-08-2026 10:00:09 q= [M] [bb] +9 @14"};
    QByteArray altered = note("10:00:05", "L", "n", true);
    altered[altered.lastIndexOf("10:00:05") + 7] = 'x'; // the time beside the date
    QTest::newRow("a note's second time altered")
        << first + altered + second
        << firstRead + QStringList{QStringLiteral("skip @13 %1 bytes: ").arg(altered.size()) + cut,
                                   "response s1 12-08-2026 10:00:09 q= [M] [bb] +9 @20"};
    QTest::newRow("hand-edited lines between records")
        << first + "edited\r\n" + second
        << firstRead + QStringList{"skip @13 8 bytes: " + after, "response s1 12-08-2026 10:00:09 q= [M] [bb] +9 @14"};
    QTest::newRow("header cut") << header("005").left(40) + second
                                << QStringList{"skip @1 40 bytes: a session header cut short or altered",
                                               "response s0  10:00:09 q= [M] [bb] +- @2"};
    QTest::newRow("text before the first header")
        << "Dear instructor,\r\n" + first
        << QStringList{"skip @1 18 bytes: " + neither, "session 1 12-08-2026 005 @2",
                       "response s1 12-08-2026 10:00:00 q= [L] [a] +- @7"};
    std::mt19937 random(7);
    QByteArray noise(4096, Qt::Uninitialized);
    for (char& c : noise)
        c = char(random());
    QTest::newRow("a line like a header's, in no record")
        << "Dear instructor,\r\nassignment #5 is attached.\r\n" + first
        << QStringList{"skip @1 46 bytes: " + neither, "session 1 12-08-2026 005 @3",
                       "response s1 12-08-2026 10:00:00 q= [L] [a] +- @8"};
    QTest::newRow("an impossible clock time")
        << first + response("24:00:00", "M", "b") + response("10:00:09", "M", "c")
        << firstRead + QStringList{QStringLiteral("skip @13 %1 bytes: a record whose time 24:00:00 is no time of day")
                                       .arg(second.size() - 1),
                                   "response s1 12-08-2026 10:00:09 q= [M] [c] +9 @20"};
    QTest::newRow("random bytes") << noise << QStringList{"skip @1 4096 bytes: " + neither};
    QTest::newRow("empty") << QByteArray() << QStringList{};
    // Past what is held at once, a stretch is skipped in pieces: one skip, its lines all counted.
    // The header right after it starts exactly where the first piece ends (read a MB at a time).
    const QByteArray line = "no record here\r\n";
    const qsizetype lines = (review::StretchSplitter::kMaxHeld + (qsizetype(1) << 20) - 256) / line.size();
    QTest::newRow("more than is held at once")
        << line.repeated(lines) + first
        << QStringList{QStringLiteral("skip @1 %1 bytes: more than 64 MB with no record or session header in it")
                           .arg(lines * line.size()),
                       QStringLiteral("session 1 12-08-2026 005 @%1").arg(lines + 1),
                       QStringLiteral("response s1 12-08-2026 10:00:00 q= [L] [a] +- @%1").arg(lines + 6)};
    QTest::newRow("an answer of more than is held at once")
        << first + response("10:00:05", "M", QString(review::StretchSplitter::kMaxHeld, u'x')) + second
        << firstRead +
               QStringList{QStringLiteral("skip @13 %1 bytes: a record of more than 64 MB, more than the reader "
                                          "holds at once (an answer that long is not read)")
                               .arg(review::StretchSplitter::kMaxHeld + 240),
                           "response s1 12-08-2026 10:00:09 q= [M] [bb] +9 @20"};
    QTest::newRow("a record right where a skipped piece ends")
        << line.repeated(lines) + second + second
        << QStringList{QStringLiteral("skip @1 %1 bytes: more than 64 MB with no record or session header in it")
                           .arg(lines * line.size()),
                       QStringLiteral("response s0  10:00:09 q= [M] [bb] +- @%1").arg(lines + 1),
                       QStringLiteral("response s0  10:00:09 q= [M] [bb] +- @%1").arg(lines + 8)};
}

void TestReviewReader::damage()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);
    QCOMPARE(readBack(file, qsizetype(1) << 20), expected);
    if (file.size() < (qsizetype(1) << 20))
        QCOMPARE(readBack(file, 3), expected);
}

void TestReviewReader::codeLineStarts_data()
{
    QTest::addColumn<QByteArray>("before"); // the bytes before a session header's anchor
    QTest::addColumn<int>("start");         // where its code line starts; -1: no code line

    // A code line: at least 19 characters from byte 118 up, some after one from 66 to 116;
    // 56 characters at most.
    const QByteArray high(19, '\xF0');
    QTest::newRow("after a line end") << "x\r\n" + high + high << 3;
    QTest::newRow("at the start of the file") << high + high << 0;
    QTest::newRow("19 high characters") << "\r\n" + high << 2;
    QTest::newRow("18 are too few") << "\r\n" + high.left(18) << -1;
    QTest::newRow("v (118) is the lowest high one") << "\r\nv" + high.left(18) << 2;
    QTest::newRow("u (117) is none") << "\r\nu" + high << 3;
    QTest::newRow("B (66) and t (116) are low ones") << "\r\nBt" + high << 2;
    QTest::newRow("low ones do not count as high") << "\r\nBt" + high.left(17) << -1;
    QTest::newRow("A (65) is none") << "A" + high << 1;
    QTest::newRow("56 characters at most") << QByteArray(57, '\xF0') << 1;
}

void TestReviewReader::codeLineStarts()
{
    QFETCH(QByteArray, before);
    QFETCH(int, start);
    QCOMPARE(review::codeLineStart(before + review::headerAnchor().toByteArray(), before.size()), start);
}

void TestReviewReader::escaping_data()
{
    QTest::addColumn<QByteArray>("recordBytes");
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QByteArray>("html");

    QTest::newRow("plain") << QByteArray("v = 3 m/s") << QByteArray("v = 3 m/s") << QByteArray("v = 3 m/s");
    QTest::newRow("comma") << QByteArray("3, then 4") << QByteArray("\"3, then 4\"") << QByteArray("3, then 4");
    QTest::newRow("quotes") << QByteArray("\"fast\"") << QByteArray("\"\"\"fast\"\"\"")
                            << QByteArray("&quot;fast&quot;");
    QTest::newRow("CR LF") << QByteArray("a\r\nb") << QByteArray("\"a\r\nb\"") << QByteArray("a\r\nb");
    QTest::newRow("markup") << QByteArray("<b>&amp;</b>") << QByteArray("<b>&amp;</b>")
                            << QByteArray("&lt;b&gt;&amp;amp;&lt;/b&gt;");
    QTest::newRow("code page") << QByteArray("\x80\x81\xE9") << QByteArray("\xE2\x82\xAC\xC2\x81\xC3\xA9")
                               << QByteArray("\xE2\x82\xAC\xC2\x81\xC3\xA9");
    // What a spreadsheet would compute shows as text; the field stays one RFC 4180 value.
    QTest::newRow("formula") << QByteArray("=35/5") << QByteArray("\"'=35/5\"") << QByteArray("=35/5");
    QTest::newRow("plus") << QByteArray("+1") << QByteArray("\"'+1\"") << QByteArray("+1");
    QTest::newRow("minus, with a quote") << QByteArray("-2 \"m\"") << QByteArray("\"'-2 \"\"m\"\"\"")
                                         << QByteArray("-2 &quot;m&quot;");
    QTest::newRow("at") << QByteArray("@SUM(A1)") << QByteArray("\"'@SUM(A1)\"") << QByteArray("@SUM(A1)");
    QTest::newRow("tab") << QByteArray("\t=1") << QByteArray("\"'\t=1\"") << QByteArray("\t=1");
    QTest::newRow("CR") << QByteArray("\r\n=1") << QByteArray("\"'\r\n=1\"") << QByteArray("\r\n=1");
    QTest::newRow("an equals sign inside") << QByteArray("v=3") << QByteArray("v=3") << QByteArray("v=3");
    QTest::newRow("control bytes") << QByteArray("a\0b\x1B\x7F", 5) << QByteArray("a\u2400b\u241B\u2421")
                                   << QByteArray("a\u2400b\u241B\u2421");
    // Past the eight-byte runs the CSV skips over at once, and beside code-page bytes.
    QTest::newRow("control bytes among long text")
        << QByteArray("abcdefgh\x1B[31mijklmnop\x7Fqrstuvwxyz\xE9\x01")
        << QByteArray("abcdefgh\u241B[31mijklmnop\u2421qrstuvwxyz\xC3\xA9\u2401")
        << QByteArray("abcdefgh\u241B[31mijklmnop\u2421qrstuvwxyz\xC3\xA9\u2401");
}

void TestReviewReader::escaping()
{
    QFETCH(QByteArray, recordBytes);
    QFETCH(QByteArray, csv);
    QFETCH(QByteArray, html);
    QByteArray out;
    review::appendCsvRecordField(out, recordBytes);
    QCOMPARE(out, csv);
    out.clear();
    review::appendHtmlRecordText(out, recordBytes);
    QCOMPARE(out, html);
}

void TestReviewReader::flags_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<review::TextFlag>("flag");

    QTest::newRow("empty") << QString() << review::TextFlag::Empty;
    QTest::newRow("blanks and line ends") << QStringLiteral(" \r\n ") << review::TextFlag::Empty;
    QTest::newRow("only the reminder") << records::kAnswerPrompt << review::TextFlag::OnlyReminder;
    QTest::newRow("reminder and a line end") << records::kAnswerPrompt + "\r\n" << review::TextFlag::OnlyReminder;
    const auto holds = review::TextFlag::HoldsReminder;
    QTest::newRow("reminder, then an answer") << records::kAnswerPrompt + " 3 m/s" << holds;
    QTest::newRow("an answer, then the reminder") << "3 m/s " + records::kAnswerPrompt << holds;
    QTest::newRow("typed inside the reminder")
        << records::kAnswerPrompt.left(40) + "3 m/s" + records::kAnswerPrompt.mid(40) << holds;
    // What is typed ends with the letter before it: that letter is not counted twice.
    QTest::newRow("typed inside the reminder, ending as the reminder before it")
        << records::kAnswerPrompt.left(40) + records::kAnswerPrompt.mid(39, 1) + records::kAnswerPrompt.mid(40)
        << holds;
    QTest::newRow("its first words only") << records::kAnswerPrompt.left(30) << review::TextFlag::None;
    QTest::newRow("its first and last words, nothing typed")
        << records::kAnswerPrompt.left(30) + records::kAnswerPrompt.right(10) << review::TextFlag::None;
    QTest::newRow("its first and last words, part of it cut out")
        << records::kAnswerPrompt.left(30) + "x" + records::kAnswerPrompt.right(10) << review::TextFlag::None;
    QTest::newRow("an answer") << QStringLiteral("OK") << review::TextFlag::None;
}

void TestReviewReader::flags()
{
    QFETCH(QString, answer);
    QFETCH(review::TextFlag, flag);
    QCOMPARE(review::flagOf(bytes(answer)), flag);
}

void TestReviewReader::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // "@name": a path in the test's folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("rows"); // of the CSV, its first line included

    QTest::newRow("all read") << QStringList{"@good.txt"} << 0 << QString() << 2;
    QTest::newRow("-v as the tutor takes it") << QStringList{"-v"} << 0 << QString() << 1;
    QTest::newRow("path that does not exist: nothing written")
        << QStringList{"@good.txt", "@nope.txt"} << 2 << "no such file or folder" << 0;
    QTest::newRow("empty file") << QStringList{"@empty.txt"} << 0 << "empty.txt: empty, no records in it" << 1;
    QTest::newRow("folder of non-record files") << QStringList{"@other"} << 1 << "skipped 5 bytes: text that" << 1;
    QTest::newRow("folder without *.txt") << QStringList{"@nothing"} << 2 << "no record files" << 0;
    // Each student's folder below the class folder, names that are no UTF-8 included.
#ifdef Q_OS_UNIX
    constexpr int kLinked = 1; // a student's folder linked in is read
    QTest::newRow("a folder that links back to itself")
        << QStringList{"@looped"} << 0 << "looped/again: the same folder as one already read (through a link)" << 2;
#else
    constexpr int kLinked = 0;
#endif
    QTest::newRow("folders of students") << QStringList{"@class"} << 0 << QString() << 4 + kLinked;
    QTest::newRow("more files than go without a progress line") << QStringList{"@many"} << 0 << QString() << 22;
    QTest::newRow("a name that would retitle the terminal")
        << QStringList{"@esc\x1B]0;owned\x07.txt"} << 2 << "esc\\x1b]0;owned\\x07.txt: no such file or folder" << 0;
    QTest::newRow("cut file") << QStringList{"@cut.txt"} << 1 << "cut.txt:6: skipped" << 1;
    QTest::newRow("both formats") << QStringList{"--csv", "--html", "@good.txt"} << 2 << "cannot be given together"
                                  << 0;
    QTest::newRow("unknown option") << QStringList{"--xml", "@good.txt"} << 2 << "unknown option --xml" << 0;
    QTest::newRow("no files") << QStringList{"--csv"} << 2 << "no record files given" << 0;
    QTest::newRow("--live with two folders")
        << QStringList{"--live", "@class", "@other"} << 2 << "--live needs one record folder" << 0;
    QTest::newRow("--live with a report format")
        << QStringList{"--live", "--html", "@class"} << 2 << "--csv and --html are for reports" << 0;
    QTest::newRow("--quiet of no minutes")
        << QStringList{"--live", "@class", "--quiet", "0"} << 2 << "--quiet needs a number of minutes" << 0;
    QTest::newRow("--live without an event loop")
        << QStringList{"--live", "@class"} << 2 << "--live cannot be run here" << 0;
    QTest::newRow("--gradebook with a report format")
        << QStringList{"--gradebook", "--html", "@class"} << 2 << "--gradebook writes its own CSV" << 0;
    QTest::newRow("report over a record file")
        << QStringList{"-o", "@good.txt", "@good.txt"} << 2 << "never writes over them" << 0;
}

void TestReviewReader::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(int, rows);

    QTemporaryDir dir;
    const QByteArray good = header("005") + response("10:00:00", "L", "a");
    auto write = [&](const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    };
    for (const char* folder : {"other", "nothing", "class/ann/day 1", "class/bob"})
        QDir(dir.path()).mkpath(QLatin1String(folder));
    write(QStringLiteral("good.txt"), good);
    write(QStringLiteral("empty.txt"), {});
    write(QStringLiteral("cut.txt"), good.left(good.size() - 9));
    write(QStringLiteral("other/a.txt"), "hello");
    write(QStringLiteral("class/ann/day 1/send_1208.txt"), good);
    write(QStringLiteral("class/bob/send_1208.txt"), good);
    write(QStringLiteral("class/bob/records.index"), {}); // read as a record file, it would be named empty
    write(QStringLiteral("class/bob/.txt"), "hello");     // a name with nothing before .txt is no record file
    QDir(dir.path()).mkpath(QStringLiteral("many"));
    for (int i = 1; i <= 21; ++i)
        write(QStringLiteral("many/%1.txt").arg(i, 2, 10, QLatin1Char('0')), good);
#ifdef Q_OS_UNIX
    QDir(dir.path()).mkpath(QStringLiteral("elsewhere/cy"));
    QDir(dir.path()).mkpath(QStringLiteral("looped"));
    write(QStringLiteral("elsewhere/cy/send_1208.txt"), good);
    write(QStringLiteral("looped/send_1208.txt"), good);
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere/cy")), dir.filePath(QStringLiteral("class/cy"))));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("looped")), dir.filePath(QStringLiteral("looped/again"))));
#endif
#ifdef Q_OS_LINUX
    QFile latin1;
    const int fd = ::open(QFile::encodeName(dir.filePath(QStringLiteral("class/bob"))) + "/caf\xE9.txt",
                          O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0 && latin1.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    QCOMPARE(latin1.write(good), good.size());
    latin1.close();
#else
    write(QStringLiteral("class/bob/cafe.txt"), good);
#endif
    for (QString& a : arguments) {
        if (a.startsWith(u'@'))
            a = dir.filePath(a.mid(1));
    }

    const ReviewRun run = runReview(arguments);
    QCOMPARE(run.status, status);
    const QStringList& errors = run.errors;
    if (message.isEmpty())
        QCOMPARE(errors, QStringList());
    else
        QVERIFY2(errors.join(u'\n').contains(message), qPrintable(errors.join(u'\n')));
    QCOMPARE(run.out.count("\r\n") + run.out.count(TUTOR_VERSION "\n"), rows);
    QVERIFY(!run.out.startsWith("\xEF\xBB\xBF")); // a byte-order mark only in a file
    // Past 20 files, the file being read, on a line cleared at the end.
    QCOMPARE(run.progress.size(), rows > 21 ? 22 : 0);
    if (rows > 21)
        QCOMPARE(run.progress.value(20) + run.progress.last(), "reading 21 of 21: " + dir.filePath("many/21.txt"));
    QFile check(dir.filePath(QStringLiteral("good.txt")));
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), good);
}

void TestReviewReader::reportOutput_data()
{
    QTest::addColumn<QStringList>("arguments"); // "@name": a path in the test's folder
    QTest::addColumn<bool>("stdoutRefuses");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("report"); // what report.csv (there before the run) holds after it

    const QString newReport = QStringLiteral("\uFEFFfile,session,");
    QTest::newRow("device that refuses the report") << QStringList{"-o", "/dev/full", "@good.txt"} << false << 2
                                                    << "classnotes-review: /dev/full: the report could not be written"
                                                    << "old";
    QTest::newRow("standard output that refuses the report")
        << QStringList{"--html", "@good.txt"} << true << 2
        << "classnotes-review: standard output: the report could not be written"
        << "old";
    QTest::newRow("standard output that refuses the version")
        << QStringList{"--version"} << true << 2 << "classnotes-review: standard output could not be written"
        << "old";
    QTest::newRow("a missing input leaves the report as it was")
        << QStringList{"-o", "@report.csv", "@good.txt", "@nope.txt"} << false << 2
        << "classnotes-review: @report.csv: left as it was"
        << "old";
#ifdef Q_OS_LINUX
    QTest::newRow("a FIFO is refused, not read for ever")
        << QStringList{"-o", "@report.csv", "@fifo.txt"} << false << 2
        << "classnotes-review: @fifo.txt: not a regular file (a pipe, socket or device)"
        << "old";
    QTest::newRow("a socket is refused, the report left as it was")
        << QStringList{"-o", "@report.csv", "@socket.txt", "@good.txt"} << false << 2
        << "classnotes-review: @socket.txt: not a regular file (a pipe, socket or device); name the record file"
        << "old";
#endif
    QTest::newRow("an empty folder leaves the report as it was")
        << QStringList{"-o", "@report.csv", "@nothing", "@good.txt"} << false << 2 << "left as it was"
        << "old";
    QTest::newRow("all read: replaced") << QStringList{"-o", "@report.csv", "@good.txt"} << false << 0 << QString()
                                        << newReport;
    QTest::newRow("stretches skipped: still replaced, the skips named")
        << QStringList{"-o", "@report.csv", "@cut.txt"} << false << 1 << "classnotes-review: @cut.txt:6: skipped"
        << newReport;
    QTest::newRow("--no-bom") << QStringList{"-o", "@report.csv", "--no-bom", "@good.txt"} << false << 0 << QString()
                              << "file,session,";
    QTest::newRow("an HTML page has no byte-order mark")
        << QStringList{"-o", "@report.csv", "--html", "@good.txt"} << false << 0 << QString() << "<!DOCTYPE html>";
    QTest::newRow("one byte skipped") << QStringList{"-o", "@report.csv", "@one.txt"} << false << 1
                                      << "classnotes-review: @one.txt:1: skipped 1 byte: text that" << newReport;
    QTest::newRow("report in a folder that does not exist")
        << QStringList{"-o", "@no/report.csv", "@good.txt"} << false << 2
        << "classnotes-review: @no/report.csv: cannot be written"
        << "old";
}

void TestReviewReader::reportOutput()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, stdoutRefuses);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QString, report);
#ifdef _WIN32
    if (arguments.contains(QStringLiteral("/dev/full")))
        QSKIP("Windows has no device like /dev/full, which opens and then refuses every write");
#endif

    QTemporaryDir dir;
    auto write = [&](const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    };
    const QByteArray good = header("005") + response("10:00:00", "L", "a");
    QDir(dir.path()).mkpath(QStringLiteral("nothing"));
    write(QStringLiteral("good.txt"), good);
    write(QStringLiteral("cut.txt"), good.left(good.size() - 9));
    write(QStringLiteral("one.txt"), "x");
    write(QStringLiteral("report.csv"), "old");
#ifdef Q_OS_LINUX
    // A socket is there as a file is, yet nobody can open it, not even root.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(dir.filePath(QStringLiteral("socket.txt"))), sizeof address.sun_path);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
    ::close(socket);
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.txt"))).constData(), 0600), 0);
#endif
    const QString at = dir.path() + u'/';
    for (QString& a : arguments)
        a.replace(u'@', at);
    message.replace(u'@', at);

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    FullDevice full;
    QStringList errors;
    review::Console console;
    console.out = stdoutRefuses ? static_cast<QIODevice*>(&full) : &out;
    console.error = [&](const QString& line) { errors << line; };
    QCOMPARE(review::reviewMain(arguments, console), status);
    const QString said = errors.join(u'\n');
    if (message.isEmpty())
        QCOMPARE(errors, QStringList());
    else
        QVERIFY2(said.contains(message), qPrintable(said));
    for (const QString& line : std::as_const(errors))
        QVERIFY2(line.startsWith(QLatin1String("classnotes-review: ")), qPrintable(line));
    QFile after(dir.filePath(QStringLiteral("report.csv")));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QVERIFY2(after.readAll().startsWith(report.toUtf8()), qPrintable(report));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 4); // nothing left beside the report
}

void TestReviewReader::utf8Input_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("readAs"); // the code-page bytes whose report it must give
    QTest::addColumn<QString>("message");

    const QByteArray written = header("005") + response("10:00:00", QStringLiteral("Line é € ‘x’ Œ"),
                                                        QStringLiteral("café, naïve\r\n“quoted” ™ ÿ"));
    const QByteArray utf8 = codepage::decode(written).toUtf8();
    const QByteArray bom("\xEF\xBB\xBF");
    QTest::newRow("as the tutor writes it") << written << written << QString();
    QTest::newRow("saved again as UTF-8")
        << utf8 << written << "standard input: read as UTF-8 (all of it is valid UTF-8, with characters outside ASCII)";
    QTest::newRow("saved again as UTF-8 with a byte-order mark")
        << bom + utf8 << written << "standard input: read as UTF-8 (it starts with a UTF-8 byte-order mark)";
    const QByteArray ascii = note("09:00:00", "L", "plain", false);
    QTest::newRow("ASCII after a byte-order mark") << bom + ascii << ascii << "byte-order mark";
    // The tutor wrote these texts' bytes, which happen to be UTF-8 for "é": the code line
    // keeps the file in the code page.
    const QByteArray lookalike = header("005") + response("10:00:00", "L", codepage::decode("caf\xC3\xA9"));
    QTest::newRow("code page whose texts look like UTF-8") << lookalike << lookalike << QString();
    QTest::newRow("characters the code page lacks")
        << bom + codepage::decode(written).replace(u'é', QStringLiteral("Δ😀")).toUtf8()
        << QByteArray(written).replace("\xE9", "??") << "4 characters that Windows-1252 does not have";
    // Without a mark, such a file is no copy of one the tutor wrote; its bytes are kept.
    const QByteArray beyond = codepage::decode(written).replace(u'é', QStringLiteral("Δ")).toUtf8();
    QTest::newRow("valid UTF-8 with characters the code page lacks, no mark")
        << beyond << beyond << "read as the Windows-1252 the tutor writes, though it is valid UTF-8";
    const QByteArray lf = QByteArray(written).replace("\r\n", "\n");
    QTest::newRow("LF line ends") << lf << written << "standard input: its line ends are LF alone, not the CR LF";
    QTest::newRow("CR CR LF line ends") << QByteArray(written).replace("\r\n", "\r\r\n") << written
                                        << "its line ends are CR CR LF";
    const qsizetype half = lf.indexOf('\n', lf.size() / 2);
    QTest::newRow("both kinds of line ends") << QByteArray(lf).replace(half, 1, "\r\r\n") << written
                                             << "its line ends are LF alone and CR CR LF, not the CR LF";
    QTest::newRow("UTF-8 with LF line ends") << bom + codepage::decode(lf).toUtf8() << written << "LF alone";
    QTest::newRow("UTF-8 cut inside a character") << bom + ascii + "\xE2\x82" << ascii + "?"
                                                  << "1 character that Windows-1252 does not have";
}

// The CSV of `input` given on standard input must be the CSV of `readAs`, and the notices
// on standard error as expected: files that travelled, their encoding or line ends changed.
void TestReviewReader::utf8Input()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, readAs);
    QFETCH(QString, message);

    auto run = [](const QByteArray& bytes, QStringList& errors) {
        QBuffer in;
        in.setData(bytes);
        in.open(QIODevice::ReadOnly);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        review::Console console;
        console.in = &in;
        console.out = &out;
        console.error = [&](const QString& line) { errors << line; };
        review::reviewMain({QStringLiteral("-")}, console);
        return out.data();
    };
    QStringList errors;
    QStringList expectedErrors;
    const QByteArray csv = run(input, errors);
    QCOMPARE(csv, run(readAs, expectedErrors));
    QVERIFY2(csv.contains("standard input,"), qPrintable(errors.join(u'\n') + csv));
    QCOMPARE(errors.isEmpty(), message.isEmpty());
    if (!message.isEmpty())
        QVERIFY2(errors.join(u'\n').contains(message), qPrintable(errors.join(u'\n')));

    // The same wherever the chunks that are read end.
    auto open = [&](QBuffer& buffer) {
        buffer.setData(input);
        buffer.open(QIODevice::ReadOnly);
    };
    QBuffer whole;
    open(whole);
    const review::InputEncoding encoding = review::detectEncoding(whole);
    review::Utf8ToCodePage wholeConverted(whole);
    wholeConverted.open(QIODevice::ReadOnly);
    const QByteArray converted = wholeConverted.readAll();
    const bool onlyLineEnds = encoding == review::InputEncoding::CodePage;
    for (const qsizetype chunk : {1, 2, 3, 5}) {
        QBuffer raw;
        open(raw);
        if (onlyLineEnds && review::detectLineEnds(raw, chunk * 1000) != review::LineEnds::CrLf) {
            review::LineEndsToCrLf crLf(raw, chunk);
            crLf.open(QIODevice::ReadOnly);
            QCOMPARE(crLf.readAll(), readAs);
        }
        QBuffer in;
        open(in);
        QCOMPARE(review::detectEncoding(in, chunk), encoding);
        QCOMPARE(in.pos(), 0);
        review::Utf8ToCodePage small(in, chunk);
        small.open(QIODevice::ReadOnly);
        QCOMPARE(small.readAll(), converted);
    }
}

void TestReviewReader::utf8Validity_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("validUpTo");
    QTest::addColumn<bool>("invalid");
    QTest::addColumn<bool>("beyondCodePage");

    QTest::newRow("ASCII") << QByteArray("plain text, longer than a word") << qsizetype(30) << false << false;
    QTest::newRow("characters of the code page")
        << QByteArray("\xC3\xA9\xE2\x82\xAC\xC5\x92\xC2\x81") << qsizetype(9) << false << false;
    QTest::newRow("two bytes beyond the code page") << QByteArray("\xCE\x94") << qsizetype(2) << false << true;
    QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80") << qsizetype(4) << false << true;
    QTest::newRow("U+10FFFF") << QByteArray("\xF4\x8F\xBF\xBF") << qsizetype(4) << false << true;
    QTest::newRow("cut at the end") << QByteArray("abcdefghij\xE2\x82") << qsizetype(10) << false << false;
    QTest::newRow("lone continuation byte") << QByteArray("abc\x80") << qsizetype(3) << true << false;
    QTest::newRow("overlong two bytes") << QByteArray("\xC0\xAF") << qsizetype(0) << true << false;
    QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\xAF") << qsizetype(0) << true << false;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << qsizetype(0) << true << false;
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << qsizetype(0) << true << false;
    QTest::newRow("ASCII inside a sequence") << QByteArray("\xE2\x82x") << qsizetype(0) << true << false;
    QTest::newRow("Windows-1252 text") << QByteArray("caf\xE9 ok") << qsizetype(3) << true << false;
}

void TestReviewReader::utf8Validity()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, validUpTo);
    QFETCH(bool, invalid);
    QFETCH(bool, beyondCodePage);

    bool foundInvalid = false;
    bool nonAscii = false;
    bool beyond = false;
    QCOMPARE(review::validUtf8Prefix(bytes, foundInvalid, nonAscii, &beyond), validUpTo);
    QCOMPARE(foundInvalid, invalid);
    QCOMPARE(nonAscii, std::any_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) >= 0x80; }));
    QCOMPARE(beyond, beyondCodePage);
}

using sessionindex::EndEntry;
using sessionindex::Entry;
using sessionindex::PlaceEntry;
using sessionindex::SessionEntry;

void TestReviewReader::indexCodec_data()
{
    QTest::addColumn<QByteArray>("index");
    QTest::addColumn<int>("entries");          // read from it
    QTest::addColumn<QStringList>("problems"); // "line: reason"
    QTest::addColumn<qint64>("consumed");      // when not read as a whole file

    const SessionEntry ann{"0123456789abcdef", "006", "lab-03", "12-08-2026", "10:00:00", "Ann\tO'Neil \\ Zoë\r\n"};
    const PlaceEntry record{"0123456789abcdef", PlaceEntry::Kind::Record, "sub/send_1208.txt", 120, 241};
    const QByteArray good = sessionindex::encode(ann) + sessionindex::encode(record);
    QTest::newRow("whole") << good << 2 << QStringList() << qint64(good.size());
    const EndEntry quit{"0123456789abcdef", EndEntry::How::Quit, "12-08-2026", "10:40:02"};
    QCOMPARE(sessionindex::encode(quit), QByteArray("end\t0123456789abcdef\tquit\t12-08-2026\t10:40:02\t.\n"));
    QTest::newRow("with its end") << good + sessionindex::encode(quit) << 3 << QStringList()
                                  << qint64(good.size() + sessionindex::encode(quit).size());
    // A writer killed mid-line, then the next writer's entries after an LF of their own.
    const QByteArray torn = good + sessionindex::encode(record).chopped(7);
    const QByteArray mended = torn + sessionindex::bytesToAppend({Entry(record)}, torn.back());
    QTest::newRow("torn line, then more entries")
        << mended << 3 << QStringList{"3: an entry cut short (it lacks its closing field)"} << qint64(mended.size());
    QTest::newRow("torn at the end") << torn << 2 << QStringList{"3: a last line without its line end, cut short"}
                                     << qint64(good.size());
    auto line = [](const char* text) { return QByteArray(text) + "\n"; };
    const QByteArray damaged =
        line("record\t0123456789abcdef\tsend.txt\t1\t.") + line("record\t0123456789ABCDEF\tsend.txt\t1\t2\t.") +
        line("header\t0123456789abcdef\t/etc/passwd\t1\t2\t.") + line("header\t0123456789abcdef\ta/../b.txt\t1\t2\t.") +
        line("record\t0123456789abcdef\tsend.txt\t1\t0\t.") + line("record\t0123456789abcdef\tsend.txt\t-1\t2\t.") +
        line("session\t0123456789abcdef\t006\th\t12-08-2026\t10:00\tAnn\t.") +
        line("session\t0123456789abcdef\t006\th\t12-08-2026\t10:00:00\tA\\qn\t.") +
        line("session\t0123456789abcdef\t006\th\t12-08-2026\t10:00:00\t\xE9\t.") +
        line("session\t0123456789abcdeg\t006\th\t12-08-2026\t10:00:00\tAnn\t.") + line("later\tx\t.") + "\n" +
        line("end\t0123456789abcdef\tleft\t12-08-2026\t10:00:00\t.") +
        line("end\t0123456789abcdef\tquit\t12-08-2026\t.");
    QTest::newRow("damaged lines")
        << damaged + good << 2
        << QStringList{"1: a record entry with 5 fields, not 6",
                       "2: a record entry whose session id is not 16 hex digits",
                       "3: a header entry whose file is no name inside the record folder",
                       "4: a header entry whose file is no name inside the record folder",
                       "5: a record entry whose offset or length is no number of bytes",
                       "6: a record entry whose offset or length is no number of bytes",
                       "7: a session entry whose start is not mm-dd-yyyy hh:mm:ss",
                       "8: a session entry with a text that is no valid UTF-8 or has an unknown escape",
                       "9: a session entry with a text that is no valid UTF-8 or has an unknown escape",
                       "10: a session entry whose id is not 16 hex digits",
                       "11: no entry this program knows",
                       "13: an end entry whose way of ending is none of finished, quit, closed",
                       "14: an end entry with 5 fields, not 6"}
        << qint64(damaged.size() + good.size());
}

void TestReviewReader::indexCodec()
{
    QFETCH(QByteArray, index);
    QFETCH(int, entries);
    QFETCH(QStringList, problems);
    QFETCH(qint64, consumed);

    const sessionindex::Parsed whole = sessionindex::parse(index);
    QCOMPARE(whole.sessions.size() + whole.places.size() + whole.ends.size(), entries);
    for (const EndEntry& e : whole.ends) // what was written comes back
        QCOMPARE(sessionindex::encode(e), index.sliced(index.lastIndexOf("end\t")));
    QStringList said;
    for (const sessionindex::Problem& p : whole.problems)
        said << QStringLiteral("%1: %2").arg(p.line).arg(p.reason);
    QCOMPARE(said, problems);
    if (!whole.sessions.isEmpty()) // escaped texts come back as they were
        QCOMPARE(whole.sessions.first().name, QStringLiteral("Ann\tO'Neil \\ Zoë\r\n"));
    // A follower reads what is whole and leaves a line still being written for later.
    const sessionindex::Parsed growing = sessionindex::parse(index, false);
    QCOMPARE(growing.consumed, consumed);
    QCOMPARE(sessionindex::bytesToAppend({}, std::nullopt), QByteArray());
    QCOMPARE(sessionindex::bytesToAppend({}, '\n'), QByteArray());
    QCOMPARE(sessionindex::bytesToAppend({}, 'x'), QByteArray("\n"));
    QRandomGenerator seeded(7);
    const QByteArray id = sessionindex::newSessionId(seeded);
    QCOMPARE(id.size(), sessionindex::kIdDigits);
    QVERIFY(id != sessionindex::newSessionId(seeded));
}

namespace {

// One student at a tutor on the shared folder.
struct Writer {
    HeadlessTutor tutor{false};
    QDateTime at;
};

// RFC 4180 as the report writes it.
QList<QStringList> csvRows(const QByteArray& csv)
{
    QList<QStringList> rows{{}};
    QString field;
    bool quoted = false;
    const QString text = QString::fromUtf8(csv);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"')
                field += text[++i];
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            rows.last() << field;
            field.clear();
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            rows.last() << field;
            field.clear();
            rows << QStringList();
            ++i;
        } else {
            field += c;
        }
    }
    rows.removeLast();
    return rows;
}

} // namespace

void TestReviewReader::htmlPages_data()
{
    QTest::addColumn<qint64>("pageBytes");
    QTest::addColumn<int>("failAt"); // the page that cannot be opened; 0: none
    QTest::addColumn<int>("pages");

    QTest::newRow("no further pages given") << qint64(1) << 0 << 1;
    QTest::newRow("small enough for one page") << (qint64(1) << 30) << 0 << 1;
    QTest::newRow("several pages") << qint64(8000) << 0 << 5;
    QTest::newRow("a page that cannot be opened") << qint64(8000) << 3 << 2;
}

// The sessions of a large report are spread over pages of about the size given, each session
// whole on one page, every one of them there once, and the first page lists the others.
void TestReviewReader::htmlPages()
{
    QFETCH(qint64, pageBytes);
    QFETCH(int, failAt);
    QFETCH(int, pages);

    QByteArray records;
    for (int i = 0; i < 30; ++i)
        records += header("005") + response("10:00:00", "L", QString(300, u'a'));
    QBuffer in(&records);
    in.open(QIODevice::ReadOnly);
    std::vector<std::unique_ptr<QBuffer>> out;
    out.push_back(std::make_unique<QBuffer>());
    out.front()->open(QIODevice::WriteOnly);
    review::MorePages more;
    more.pageBytes = pageBytes;
    more.folder = QStringLiteral("r-pages");
    more.firstPage = QStringLiteral("r.html");
    more.open = [&](int page) -> QIODevice* {
        if (page == failAt)
            return nullptr;
        out.push_back(std::make_unique<QBuffer>());
        out.back()->open(QIODevice::WriteOnly);
        return out.back().get();
    };
    const bool paged = QByteArray(QTest::currentDataTag()) != "no further pages given";
    const auto report = review::makeHtmlReport(*out.front(), paged ? &more : nullptr);
    report->beginFile(QStringLiteral("masterFile.txt"), false);
    report->endFile(review::readRecords(in, *report));
    QCOMPARE(report->finish(), failAt == 0);
    QCOMPARE(int(out.size()), pages);
    if (failAt)
        return;
    QByteArray all;
    for (size_t i = 0; i < out.size(); ++i) {
        const QByteArray& page = out[i]->data();
        QVERIFY(page.startsWith("<!DOCTYPE html>") && page.endsWith("</body>\n</html>\n"));
        QVERIFY2(pages == 1 || page.size() < pageBytes + 2000, qPrintable(QString::number(page.size())));
        QCOMPARE(unbalancedTag(page), QByteArray());
        if (i)
            QVERIFY(out.front()->data().contains("<a href=\"r-pages/page-" + QByteArray::number(i + 1) + ".html\">"));
        all += page;
    }
    for (int n = 1; n <= 30; ++n)
        QCOMPARE(all.count("<h3>Session " + QByteArray::number(n) + " ·"), 1);
    QCOMPARE(out.front()->data().contains("Further pages"), pages > 1);
    QVERIFY(out.front()->data().contains("30 sessions, 30 records"));
}

void TestReviewReader::furtherPagesReplaced_data()
{
    QTest::addColumn<bool>("othersFile"); // a file of someone's put in the folder of pages
    QTest::newRow("the pages of the run before") << false;
    QTest::newRow("a file beside them, left alone") << true;
}

// A report too large for one page, written twice: the second run's pages take the place of the
// first's, and a folder that holds anything else is never removed.
void TestReviewReader::furtherPagesReplaced()
{
    QFETCH(bool, othersFile);
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("in.txt")), pages = dir.filePath(QStringLiteral("r-pages"));
    for (const char letter : {'a', 'b'}) {
        QByteArray records; // the third session starts past the first page's 8 MB
        for (int i = 0; i < 3; ++i)
            records += header("005") + response("10:00:00", "L", QString(4 << 20, QLatin1Char(letter)));
        QVERIFY(testfiles::write(input, records));
        if (letter == 'b' && othersFile)
            QVERIFY(testfiles::write(pages + "/mine.txt", "mine"));
        const ReviewRun run = runReview({"--html", "-o", dir.filePath(QStringLiteral("r.html")), input});
        const bool refused = letter == 'b' && othersFile;
        QCOMPARE(run.status, refused ? 2 : 0);
        QCOMPARE(run.errors.join(u'\n').contains("could not take the place of the old ones"), refused);
    }
    QCOMPARE(testfiles::read(pages + "/mine.txt"), othersFile ? QByteArray("mine") : QByteArray());
    QCOMPARE(testfiles::read(pages + "/page-2.html").contains(QByteArray(1000, 'b')), !othersFile);
}

void TestReviewReader::interleavedWriters_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("placed"); // of the 18 rows, in their writer's session
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("messages"); // each in what standard error says

    QTest::newRow("whole index") << "" << 18 << 0 << QStringList();
    QTest::newRow("no index") << "none" << 0 << 0
                              << QStringList{"masterFile.txt: 9 records placed in sessions by their order in the "
                                             "file only",
                                             "send_1208.txt: 9 records placed"};
    QTest::newRow("last entry torn") << "torn" << 17 << 1
                                     << QStringList{"records.index:27: skipped: a last line without its line end",
                                                    "send_1208.txt: 1 record placed"};
    QTest::newRow("an entry with the wrong length")
        << "length" << 17 << 1
        << QStringList{"records.index:27: entry for ", "send_1208.txt skipped: it gives ", "bytes to the record at ",
                       ", which takes ", "send_1208.txt: 1 record placed"};
    QTest::newRow("an entry into the middle of a record")
        << "offset" << 17 << 1
        << QStringList{"send_1208.txt skipped: it points at no whole record (", "send_1208.txt: 1 record placed"};
    // Finished by a breaker and written by its holder too: the same entry twice is one.
    QTest::newRow("an entry written twice") << "twice" << 18 << 0 << QStringList();
    // A session line copied with another name and computer, appended: the first one stands.
    QTest::newRow("a session named again")
        << "forged" << 18 << 1
        << QStringList{"records.index:28: skipped: session ", " (Impostor on lab-99) was named at line 1 already "
                                                              "(Ann Lee on lab-6); the first entry stands"};
    // Converted in place by an editor: read back as CR LF, the entries fit again.
    QTest::newRow("send file converted to LF")
        << "lf" << 18 << 0 << QStringList{"send_1208.txt: its line ends are LF alone, not the CR LF"};
    QTest::newRow("send file converted to CR CR LF")
        << "crcrlf" << 18 << 0 << QStringList{"send_1208.txt: its line ends are CR CR LF, not the CR LF"};
    QTest::newRow("an entry at a header")
        << "kind" << 18 << 1
        << QStringList{"records.index:2: entry for ",
                       "masterFile.txt skipped: it points at a session header, not a record"};
    // Ann finished, then a later end says she quit; the same end again; an end for nobody.
    QTest::newRow("ends: the first stands")
        << "ends" << 18 << 1
        << QStringList{"records.index:29: skipped: session ",
                       " (quit) ended at line 28 already (finished at 10:05:00); the first end stands",
                       "records.index:33: skipped: an end (closed) of session ffffffffffffffff, which no session "
                       "entry names"};
}

// Three students on one folder record in turn: each CSV row must be in its writer's session,
// with its set, computer and name, and seconds counted from the writer's own record before.
void TestReviewReader::interleavedWriters()
{
    QFETCH(QString, damage);
    QFETCH(int, placed);
    QFETCH(int, status);
    QFETCH(QStringList, messages);

    QTemporaryDir shared;
    QDir(shared.path()).mkpath(testfiles::kHomeFolder);
    std::vector<std::unique_ptr<Writer>> writers;
    // The third pressed Enter at the name prompt: known by the computer only.
    const QList<std::pair<QString, int>> students{{"Ann Lee", 6}, {"Bo Chen", 12}, {"", 14}};
    for (const auto& [name, set] : students) {
        auto w = std::make_unique<Writer>();
        w->tutor.drivesRoot = shared.path();
        w->tutor.hostName = "lab-" + QString::number(set);
        w->at = QDateTime(QDate(2026, 12, 8), QTime(10, 0, int(writers.size())));
        w->tutor.clock.set(w->at);
        w->tutor.start({QStringLiteral("1"), name, QString::number(set)});
        QVERIFY(w->tutor.next());
        writers.push_back(std::move(w));
    }
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < writers.size(); ++i) {
            Writer& w = *writers[i];
            w.at = w.at.addSecs(10 + int(i));
            w.tutor.clock.set(w.at);
            w.tutor.enterResponse(QStringLiteral("r%1").arg(round));
        }
    }
    // The index the tutors wrote: each session, its header in two files, its records in two.
    const QString indexPath = writers[0]->tutor.homePath(QLatin1String(sessionindex::kFileName));
    QByteArray index = testfiles::read(indexPath);
    QList<QByteArray> lines = index.split('\n');
    QCOMPARE(lines.size(), 3 * 3 + 3 * 3 * 2 + 1);
    QVERIFY(lines[1].startsWith("header\t") && lines[1].contains("\tmasterFile.txt\t"));
    // The last entry is a record of the send file (the last writer's last record).
    QList<QByteArray> last = lines[lines.size() - 2].split('\t');
    QCOMPARE(last[2], "send_1208.txt");
    if (damage == QLatin1String("length"))
        last[4] = QByteArray::number(last[4].toLongLong() - 1);
    else if (damage == QLatin1String("offset"))
        last[3] = QByteArray::number(last[3].toLongLong() + 1);
    lines[lines.size() - 2] = last.join('\t');
    if (damage == QLatin1String("twice"))
        lines.insert(lines.size() - 1, lines[lines.size() - 2]);
    if (damage == QLatin1String("kind"))
        lines[1].replace("header\t", "record\t"); // Ann's header in the master file
    if (damage == QLatin1String("ends")) {
        QByteArrayList id; // Ann, Bo, Cy
        for (const QByteArray& l : std::as_const(lines))
            id << (l.startsWith("session\t") ? QByteArrayList{l.split('\t')[1]} : QByteArrayList());
        for (const QByteArray& end :
             {id[0] + "\tfinished\t12-08-2026\t10:05:00", id[0] + "\tquit\t12-08-2026\t10:06:00",
              id[0] + "\tfinished\t12-08-2026\t10:05:00", id[1] + "\tquit\t12-08-2026\t10:06:30",
              id[2] + "\tclosed\t12-08-2026\t10:07:00", QByteArray("ffffffffffffffff\tclosed\t12-08-2026\t10:07:00")})
            lines.insert(lines.size() - 1, "end\t" + end + "\t.");
    }
    if (damage == QLatin1String("forged")) {
        QList<QByteArray> forged = lines[0].split('\t');
        forged[3] = "lab-99";
        forged[6] = "Impostor";
        lines.insert(lines.size() - 1, forged.join('\t'));
    }
    const QString send = writers[0]->tutor.homePath(QStringLiteral("send_1208.txt"));
    if (damage == QLatin1String("lf") || damage == QLatin1String("crcrlf"))
        QVERIFY(testfiles::write(
            send, testfiles::read(send).replace("\r\n", damage == QLatin1String("lf") ? "\n" : "\r\r\n")));
    index = lines.join('\n');
    if (damage == QLatin1String("torn"))
        index.chop(4);
    if (damage == QLatin1String("none"))
        QVERIFY(QFile::remove(indexPath));
    else
        QVERIFY(testfiles::write(indexPath, index));

    const ReviewRun run = runReview({writers[0]->tutor.homePath(QString())});
    QCOMPARE(run.status, status);
    const QStringList& errors = run.errors;
    const QString said = errors.join(u'\n');
    for (const QString& m : std::as_const(messages))
        QVERIFY2(said.contains(m), qPrintable(said));
    if (messages.isEmpty())
        QCOMPARE(said, QString());

    const QList<QStringList> rows = csvRows(run.out);
    QCOMPARE(rows.first().mid(9), QStringList({"seconds", "computer", "name"}));
    QCOMPARE(rows.size(), 1 + 18);
    int right = 0;
    for (qsizetype r = 1; r < rows.size(); ++r) {
        const QStringList& row = rows[r];
        QCOMPARE(row.size(), 12);
        const int round = row[8].mid(1).toInt();
        const int w = int((r - 1) % 9 % 3); // each file holds the rounds in turn, writer by writer
        const bool own = row[11] == students[w].first && row[10] == "lab-" + QString::number(students[w].second) &&
                         row[3].toInt() == students[w].second &&
                         row[9] == (round ? QString::number(10 + w) : QString());
        right += own ? 1 : 0;
    }
    QCOMPARE(right, placed);

    if (!damage.isEmpty() && damage != QLatin1String("ends"))
        return;
    // The page gathers each student's records under one heading, even where they interleave,
    // and says how each session ended.
    const ReviewRun html = runReview({QStringLiteral("--html"), writers[0]->tutor.homePath(QString())});
    QCOMPARE(html.status, status);
    QCOMPARE(unbalancedTag(html.out), QByteArray());
    const QByteArray page = html.out.left(html.out.indexOf("<h2>Each line across the class</h2>"));
    QList<QByteArray> sessions;
    for (qsizetype at = page.indexOf("<h3>"); at >= 0;) {
        const qsizetype next = page.indexOf("<h3>", at + 4);
        sessions << page.mid(at + 4, next < 0 ? -1 : next - at - 4);
        at = next;
    }
    QCOMPARE(sessions.size(), 6);
    for (qsizetype i = 0; i < sessions.size(); ++i) {
        QVERIFY2(
            sessions[i].startsWith("Session " + QByteArray::number(i % 3 + 1)) &&
                sessions[i].contains(" · " + (i % 3 == 2 ? "(no name)" : students[i % 3].first.toUtf8()) + " on lab-"),
            sessions[i].left(120).constData());
        QCOMPARE(sessions[i].count("<tr><td class=\"n\">"), 3);
        const char* const ended[] = {"<p class=\"end finished\">Finished the set at 10:05:00 12-08-2026.</p>",
                                     "<p class=\"end left\">Left: quit the program at 10:06:30 12-08-2026.</p>",
                                     "<p class=\"end left\">Left: closed the window at 10:07:00 12-08-2026.</p>"};
        QVERIFY2(sessions[i].contains(damage.isEmpty() ? "<p class=\"end unknown\">Its end is not recorded: still at "
                                                         "work, or the tutor was stopped.</p>"
                                                       : ended[i % 3]),
                 sessions[i].constData());
    }
}

// A lab folder (master and send files, both indexed): one row per student and set, each record
// counted once, and the instructor told of a student who moved and a computer that changed hands.
void TestReviewReader::gradebook()
{
    QTemporaryDir shared;
    QDir(shared.path()).mkpath(testfiles::kHomeFolder);
    std::vector<std::unique_ptr<Writer>> writers;
    auto session = [&](const QString& name, const QString& host, int set, int minute, const QStringList& answers) {
        auto w = std::make_unique<Writer>();
        w->tutor.drivesRoot = shared.path();
        w->tutor.hostName = host;
        w->tutor.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, minute)));
        w->tutor.start({QStringLiteral("1"), name, QString::number(set)});
        for (const QString& answer : answers) {
            w->tutor.next();
            w->tutor.clock.set(w->tutor.clock.now().addSecs(90));
            if (answer.startsWith(u'!'))
                w->tutor.saveAsNotes(answer.mid(1));
            else
                w->tutor.enterResponse(answer);
        }
        writers.push_back(std::move(w));
    };
    session(QStringLiteral("Ann Lee"), QStringLiteral("lab-01"), 6, 0, {"a", "!why", "b"});
    session(QStringLiteral("Ann Lee"), QStringLiteral("lab-07"), 6, 30, {"c"});
    session(QStringLiteral("Bo Chen"), QStringLiteral("lab-02"), 12, 0, {"d", records::kAnswerPrompt + "\r\n"});
    session(QStringLiteral("Cy Diaz"), QStringLiteral("lab-02"), 14, 40, {});
    // How they ended, as the index says (Ann's second session was killed); Cy's second end is named.
    const QString index = writers[0]->tutor.homePath(QLatin1String(sessionindex::kFileName));
    const QList<sessionindex::SessionEntry> named = sessionindex::parse(testfiles::read(index)).sessions;
    using How = EndEntry::How;
    for (const auto& [at, how] : {std::pair{0, How::Finished}, {2, How::Quit}, {3, How::Closed}, {3, How::Quit}})
        QVERIFY(testfiles::append(index, sessionindex::encode(EndEntry{named[at].id, how, "12-08-2026", "11:00:00"})));

    const ReviewRun run = runReview({"--gradebook", writers[0]->tutor.homePath(QString())});
    QCOMPARE(run.status, 1);
    const QStringList& errors = run.errors;
    QVERIFY2(errors.value(0).contains("(quit) ended at line 28 already (closed at 11:00:00)"),
             qPrintable(errors.value(0)));
    QCOMPARE(errors.mid(1), QStringList({"classnotes-review: Ann Lee: one name on 2 computers (lab-01, lab-07)",
                                         "classnotes-review: lab-02: one computer with 2 names (Bo Chen, Cy Diaz)"}));
    const QList<QStringList> rows = csvRows(run.out);
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows[0].join(u','), "name,computer,set,questions,reached,answered,notes,first,last,minutes,ended");
    QCOMPARE(rows[1].join(u','), "Ann Lee,lab-01,006,20,3,2,1,12-08-2026 10:01:30,12-08-2026 10:04:30,3,finished");
    QCOMPARE(rows[2].join(u','), "Ann Lee,lab-07,006,20,1,1,0,12-08-2026 10:31:30,12-08-2026 10:31:30,0,");
    QCOMPARE(rows[3].join(u','), "Bo Chen,lab-02,012,12,2,1,0,12-08-2026 10:01:30,12-08-2026 10:03:00,2,quit");
    QCOMPARE(rows[4].join(u','), "Cy Diaz,lab-02,014,12,0,0,0,,,0,closed"); // started, recorded nothing
}

void TestReviewReader::questionSummary_data()
{
    QTest::addColumn<QStringList>("records"); // "who:" then line, kind (answer, reminder, empty, note), seconds
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("counts"); // reached|answered|only the reminder|nothing|median seconds

    QTest::newRow("one answer") << QStringList{"Ann:1a30"} << 1 << "1|1|0|0|30";
    QTest::newRow("median of three") << QStringList{"A:1a10", "B:1a50", "C:1a20"} << 1 << "3|3|0|0|20";
    QTest::newRow("median of two, rounded") << QStringList{"A:1a10", "B:1a21"} << 1 << "2|2|0|0|16";
    QTest::newRow("the first answer's seconds, after the reminder")
        << QStringList{"A:1r5,1a40,1a99"} << 1 << "1|1|0|0|40";
    QTest::newRow("the reminder after an answer") << QStringList{"A:1a7,1r3"} << 1 << "1|1|0|0|7";
    QTest::newRow("a note and an empty answer are nothing") << QStringList{"A:1n4,1e4"} << 1 << "1|0|0|1|—";
    QTest::newRow("a line passed over") << QStringList{"A:3a5"} << 2 << "1|0|0|1|—";
    QTest::newRow("a line not reached") << QStringList{"A:1a5", "B:2r5"} << 3 << "0|0|0|0|—";
    QTest::newRow("each state once") << QStringList{"A:2a5", "B:2r5", "C:3a5"} << 2 << "3|1|1|1|5";
    QTest::newRow("two sessions of one student") << QStringList{"A:1r5", "A:1a12"} << 1 << "1|1|0|0|12";
    QTest::newRow("records against no line of the set") << QStringList{"A:1a30,0a5", "B:0n5"} << 1 << "1|1|0|0|30";
}

// Each line across the class, from students' records as the reports and the live page gather them.
void TestReviewReader::questionSummary()
{
    QFETCH(QStringList, records);
    QFETCH(int, line);
    QFETCH(QString, counts);

    std::map<QString, review::StudentLines> students;
    for (const QString& student : std::as_const(records)) {
        review::StudentLines lines;
        for (const QString& r : student.section(u':', 1).split(u',')) {
            const QChar kind = r[1];
            const auto flag = kind == u'r'   ? review::TextFlag::OnlyReminder
                              : kind == u'e' ? review::TextFlag::Empty
                                             : review::TextFlag::None;
            lines.add(r.left(1).toInt(), kind == u'n', flag, r.mid(2).toInt(), bytes("answer " + r));
        }
        students[student.section(u':', 0, 0)].merge(lines);
    }
    review::QuestionSummary summary(2);
    for (const auto& [who, lines] : students)
        summary.add("006", who, lines);
    QByteArray page;
    summary.writeHtml(page);
    QCOMPARE(unbalancedTag(page), QByteArray());
    const QString text = QString::fromUtf8(page);
    const qsizetype at = text.indexOf(QStringLiteral("<tr><td class=\"n\">%1</td>").arg(line));
    QString row = text.mid(at, text.indexOf(QStringLiteral("</tr>"), at) - at);
    row.remove(QRegularExpression(QStringLiteral("<ul>.*?</ul>")));
    row.replace(QRegularExpression(QStringLiteral("(<[^>]*>)+")), QStringLiteral("|"));
    QCOMPARE(row.section(u'|', 3, -2), counts);
    const qsizetype elsewhere = records.join(u',').count(QRegularExpression(QStringLiteral("[:,]0")));
    QCOMPARE(page.contains("\">" + QByteArray::number(elsewhere) + " records against lines this set does not hold"),
             elsewhere > 1);
    // Each count opens to whose it is, the answers with their text, two at most.
    if (counts.startsWith(QLatin1String("3|3")))
        QVERIFY(page.contains("<details><summary>3</summary><ul><li>A: <q>answer 1a10</q></li><li>B: <q>answer "
                              "1a50</q></li><li>… and 1 more</li></ul></details>"));
}

void TestReviewReader::follower_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after"); // empty: the file removed
    QTest::addColumn<bool>("appended");    // `after` added to the file, not put in its place
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("read");

    using State = review::FileFollower::Look::State;
    const QByteArray head(100, 'h');
    QTest::newRow("grows") << head << QByteArray("more") << true << int(State::Grew) << QByteArray("more");
    QTest::newRow("stays") << head << QByteArray() << true << int(State::Same) << QByteArray();
    QTest::newRow("cut short") << head << QByteArray("hh") << false << int(State::Restarted) << QByteArray("hh");
    QTest::newRow("replaced by a longer file") << head << "x" + head << false << int(State::Restarted) << "x" + head;
    QTest::newRow("removed") << head << QByteArray() << false << int(State::Missing) << QByteArray();
}

void TestReviewReader::follower()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(bool, appended);
    QFETCH(int, state);
    QFETCH(QByteArray, read);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("masterFile.txt"));
    review::FileFollower follower(path);
    QCOMPARE(int(follower.look().state), int(review::FileFollower::Look::State::Missing));
    QVERIFY(testfiles::write(path, before.left(30)));
    QCOMPARE(follower.look().bytes, before.left(30));
    QVERIFY(testfiles::append(path, before.mid(30)));
    QCOMPARE(follower.look().bytes, before.mid(30));
    const qint64 readBefore = follower.bytesRead();
    if (appended)
        QVERIFY(testfiles::append(path, after));
    else if (after.isEmpty())
        QVERIFY(QFile::remove(path));
    else
        QVERIFY(testfiles::write(path, after));
    const review::FileFollower::Look look = follower.look();
    QCOMPARE(int(look.state), state);
    QCOMPARE(look.bytes, read);
    if (appended) // only what was added, and the first bytes that tell a file put in its place
        QCOMPARE(follower.bytesRead() - readBefore,
                 read.size() + (read.isEmpty() ? 0 : review::FileFollower::kHeadSize));
}

// A file whose size runs ahead of the bytes it gives (a network client's cached size after
// the file was cut, here one of the kernel's attribute files) reads as unchanged, not unreadable.
void TestReviewReader::followsAFileLargerThanItsBytes()
{
    const QString path = QStringLiteral("/sys/class/net/lo/mtu");
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        QSKIP("no attribute file of the loopback link here");
    const QByteArray bytes = probe.readAll();
    if (bytes.isEmpty() || probe.size() <= bytes.size())
        QSKIP("the attribute file tells its true size here");
    review::FileFollower follower(path);
    QCOMPARE(follower.look().bytes, bytes);
    const review::FileFollower::Look again = follower.look();
    QCOMPARE(int(again.state), int(review::FileFollower::Look::State::Same));
    QCOMPARE(again.bytes, QByteArray());
}

namespace {

// A row of the live page, by the student's name: its cells' text and the row's classes.
QString liveRow(const QByteArray& page, const QString& name)
{
    const QString text = QString::fromUtf8(page);
    const qsizetype at = text.indexOf("<td>" + name + "</td>");
    if (at < 0)
        return QString();
    const qsizetype start = text.lastIndexOf(QStringLiteral("<tr"), at);
    QString row = text.mid(start, text.indexOf(QStringLiteral("</tr>"), at) - start);
    row.replace(QRegularExpression(QStringLiteral("</?(td|span)[^>]*>")), QStringLiteral("|"));
    return row.replace(QRegularExpression(QStringLiteral("\\|+")), QStringLiteral("|"));
}

} // namespace

// The class as it happens, look by look, on a settable clock: students starting and
// recording, a record arriving in two pieces, a quiet student, a reminder sent as an answer,
// a session ended by the next one on its computer, the share away and back, a file cut short.
void TestReviewReader::liveView()
{
    QTemporaryDir shared;
    const QString folder = shared.filePath(testfiles::kHomeFolder);
    QVERIFY(QDir().mkpath(folder));
    SettableClock clock(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0)));
    review::LiveOptions options;
    options.folder = folder;
    options.page = shared.filePath(QStringLiteral("live.html"));
    options.pollMilliseconds = 20;
    review::LiveView live(options, clock);
    QVERIFY(live.poll());
    QVERIFY(live.page().contains("The folder holds no master file yet: no student has recorded in it, or it is a "
                                 "share that is not mounted"));
    // The browser reloads well within the 5 s the page promises to be current.
    QVERIFY(live.page().contains("<meta http-equiv=\"refresh\" content=\"3\">"));
    QVERIFY(!live.page().contains("<script"));

    std::vector<std::unique_ptr<Writer>> writers;
    auto startWriter = [&](const QString& name, const QString& host, int set) {
        auto w = std::make_unique<Writer>();
        w->tutor.drivesRoot = shared.path();
        w->tutor.hostName = host;
        w->tutor.clock.set(clock.now());
        w->tutor.start({QStringLiteral("1"), name, QString::number(set)});
        w->tutor.next();
        writers.push_back(std::move(w));
        return writers.back().get();
    };
    auto record = [&](Writer& w, const QString& answer) {
        w.tutor.clock.set(clock.now());
        w.tutor.enterResponse(answer);
    };
    const QString index = QDir(folder).filePath(QLatin1String(sessionindex::kFileName));
    auto advance = [&](int seconds) { clock.set(clock.now().addSecs(seconds)); };

    Writer& ann = *startWriter(QStringLiteral("Ann Lee"), QStringLiteral("lab-01"), 6);
    Writer& bo = *startWriter(QStringLiteral("Bo Chen"), QStringLiteral("lab-02"), 12);
    for (int i = 0; i < 3; ++i) {
        advance(20);
        record(ann, QStringLiteral("a%1").arg(i));
        advance(5);
        record(bo, QStringLiteral("b%1").arg(i));
    }
    QVERIFY(live.poll());
    QCOMPARE(liveRow(live.page(), "Ann Lee").section(u'|', 2, 3), QStringLiteral("lab-01|006"));
    QVERIFY2(liveRow(live.page(), "Ann Lee").endsWith(QStringLiteral("|1 of 20|3|5 s|working|")),
             qPrintable(liveRow(live.page(), "Ann Lee")));
    QVERIFY2(liveRow(live.page(), "Bo Chen").endsWith(QStringLiteral("|3|0 s|working|")),
             qPrintable(liveRow(live.page(), "Bo Chen")));

    // A record seen in two pieces is taken once it is whole, not before.
    const QString master = QDir(folder).filePath(QStringLiteral("masterFile.txt"));
    const QByteArray before = testfiles::read(master);
    advance(10);
    const qint64 indexBefore = QFileInfo(index).size();
    record(ann, QStringLiteral("a3"));
    const QByteArray added = testfiles::read(master).mid(before.size());
    QVERIFY(testfiles::write(master, before + added.left(added.size() / 2)));
    const qint64 read = live.bytesRead();
    QVERIFY(live.poll());
    QVERIFY(liveRow(live.page(), "Ann Lee").contains(QStringLiteral("|3|")));
    QVERIFY(testfiles::append(master, added.mid(added.size() / 2)));
    QVERIFY(live.poll());
    QVERIFY2(liveRow(live.page(), "Ann Lee").endsWith(QStringLiteral("|4|0 s|working|")),
             qPrintable(liveRow(live.page(), "Ann Lee")));
    // Only what was appended, and the first bytes of each file that grew, once a look.
    QCOMPARE(live.bytesRead() - read,
             added.size() + (QFileInfo(index).size() - indexBefore) + 3 * review::FileFollower::kHeadSize);

    // Bo stays quiet; Ann sends the reminder as her answer; Bo's computer starts a new session.
    advance(6 * 60);
    record(ann, records::kAnswerPrompt + "\r\n"); // the reminder alone is not recorded; with a line end it is
    QVERIFY(live.poll());
    QVERIFY2(liveRow(live.page(), "Bo Chen").startsWith(QStringLiteral("<tr class=\"quiet\">")) &&
                 liveRow(live.page(), "Bo Chen").endsWith(QStringLiteral("|3|6 min 10 s|quiet 6 min|")),
             qPrintable(liveRow(live.page(), "Bo Chen")));
    QVERIFY(liveRow(live.page(), "Ann Lee").startsWith(QStringLiteral("<tr class=\"reminder\">")));
    QVERIFY(liveRow(live.page(), "Ann Lee").contains(QStringLiteral("1 answer only the reminder")));
    startWriter(QStringLiteral("Cy Diaz"), QStringLiteral("lab-02"), 14);
    QVERIFY(live.poll());
    QVERIFY(liveRow(live.page(), "Bo Chen").startsWith(QStringLiteral("<tr class=\"ended\">")));
    QVERIFY(liveRow(live.page(), "Cy Diaz").contains(QStringLiteral("no record yet")));
    QVERIFY(live.page().contains("· 3 sessions today ·")); // each header the index names is one of them

    // A record with no index entry, cut where its text holds a closing rule: it reads whole
    // there, so it is taken only once it stayed so for a look (not as the reminder alone).
    const QByteArray rest = "\r\n" + recordBytes(records::kClosingRule) + "\r\nand more";
    const QString longest(80, u'L'); // the longest line the page shows whole
    const QByteArray handmade = recordBytes(
        records::questionRecord(QStringLiteral("10:08:00"), longest, records::kAnswerPrompt + rest, 140003));
    const qsizetype cut = handmade.indexOf(rest) + rest.indexOf("and");
    QVERIFY(testfiles::append(master, handmade.left(cut)));
    QVERIFY(live.poll());
    QVERIFY(testfiles::append(master, handmade.mid(cut)));
    QVERIFY(live.poll());
    QVERIFY(live.poll());
    advance(10); // how long a record waits for its index entry before the file's order places it
    QVERIFY(live.poll());
    QVERIFY2(liveRow(live.page(), "Cy Diaz").endsWith(QStringLiteral("|3|%1|1|10 s|working|").arg(longest)),
             qPrintable(liveRow(live.page(), "Cy Diaz")));

    // A copy of Ann's session line with another name, appended: it does not relabel her.
    QList<QByteArray> forged = testfiles::read(index).split('\n').first().split('\t');
    forged[6] = "Impostor";
    QVERIFY(testfiles::append(index, forged.join('\t') + '\n'));
    // Dee records against her set's last line: finished, listed apart after the others.
    Writer& dee = *startWriter(QStringLiteral("Ann Dee"), QStringLiteral("lab-03"), 6);
    for (int i = 1; i < 20; ++i)
        dee.tutor.next();
    record(dee, QStringLiteral("done"));
    QVERIFY(live.poll());
    QVERIFY(!live.page().contains("Impostor"));
    QCOMPARE(unbalancedTag(live.page()), QByteArray());
    QVERIFY2(liveRow(live.page(), "Ann Dee").startsWith(QStringLiteral("<tr class=\"apart finished\">")) &&
                 liveRow(live.page(), "Ann Dee").endsWith(QStringLiteral("|20 of 20|1|0 s|finished|")),
             qPrintable(liveRow(live.page(), "Ann Dee")));
    QVERIFY(live.page().indexOf("Ann Dee") > live.page().indexOf("Cy Diaz"));

    // The share goes away and comes back.
    QVERIFY(QDir().rename(folder, folder + ".away"));
    advance(30);
    const QString awaySince = clock.now().toString(QStringLiteral("hh:mm:ss"));
    QVERIFY(live.poll());
    advance(30);
    QVERIFY(live.poll());
    QVERIFY(live.page().contains("Cannot read the folder since " + awaySince.toLatin1()));
    QVERIFY(liveRow(live.page(), "Ann Lee").contains(QStringLiteral("|5|")));
    QVERIFY(QDir().rename(folder + ".away", folder));
    QVERIFY(live.poll());
    QVERIFY(!live.page().contains("Cannot read the folder"));
    QVERIFY(liveRow(live.page(), "Ann Lee").contains(QStringLiteral("|5|")));
    // The mount point left empty: the folder stays, its files go. Said at once; nobody turns quiet.
    QVERIFY(QDir().rename(folder, folder + ".away") && QDir().mkpath(folder));
    QVERIFY(live.poll());
    QVERIFY2(live.page().contains("Cannot read the folder since " + clock.now().toString("hh:mm:ss").toLatin1() +
                                  " (masterFile.txt is gone: a share whose mount point is now empty"),
             live.page().constData());
    advance(10 * 60);
    QVERIFY(live.poll());
    QVERIFY2(liveRow(live.page(), "Ann Lee").contains("|working|"), qPrintable(liveRow(live.page(), "Ann Lee")));
    QVERIFY(QDir().rmdir(folder) && QDir().rename(folder + ".away", folder));
    QVERIFY(live.poll());
    QVERIFY(!live.page().contains("Cannot read the folder"));

    // The master file cut back by hand to its first records: read again from its start, and said.
    QVERIFY(testfiles::write(master, before));
    QVERIFY(live.poll());
    QVERIFY(live.page().contains("masterFile.txt got shorter or was replaced at " +
                                 clock.now().toString(QStringLiteral("hh:mm:ss")).toLatin1()));
    QVERIFY2(liveRow(live.page(), "Ann Lee").contains(QStringLiteral("|3|")),
             qPrintable(liveRow(live.page(), "Ann Lee")));
    advance(3600); // an hour on from her last record of those, at 10:01:10, and the 10 min away
    QVERIFY(live.poll());
    QVERIFY2(liveRow(live.page(), "Ann Lee").endsWith(QStringLiteral("|3|1 h 17 min|quiet 77 min|")),
             qPrintable(liveRow(live.page(), "Ann Lee")));

    // Left to itself, it looks again and again.
    QSignalSpy written(&live, &review::LiveView::pageWritten);
    live.start();
    QVERIFY(written.wait(5000));
}

// Students' folders below the class folder: {folder, outside and linked in, made after the first look}.
void TestReviewReader::liveFolders_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("note");
    QTest::newRow("own folders") << QStringList{"ann", "bo"} << QString();
    QTest::newRow("one linked in") << QStringList{"ann", "bo:linked"} << QString();
    QTest::newRow("one made later") << QStringList{"ann", "bo/deeper:later"} << QString();
    QTest::newRow("a loop") << QStringList{"ann", "bo", "ann/back:loop"}
                            << "ann/back: the same folder as one already read";
    QTest::newRow("linked twice") << QStringList{"ann", "bo:linked", "bo2:linked"} << "bo2: the same folder as one";
}

void TestReviewReader::liveFolders()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, note);
    QTemporaryDir shared;
    QDir top(shared.path());
    SettableClock clock(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0)));
    review::LiveView live({top.filePath("class"), top.filePath("live.html")}, clock);
    const QStringList names{"Ann Lee", "Bo Chen"};
    for (int i = 0; i < folders.size(); ++i) {
        const QString name = folders[i].section(u':', 0, 0), how = folders[i].section(u':', 1);
        if (how == "later")
            QVERIFY(live.poll());
        if (how == "loop" || (how == "linked" && top.exists("outside"))) {
            QVERIFY(QFile::link(top.filePath(how == "loop" ? "class" : "outside"), top.filePath("class/" + name)));
            continue;
        }
        QVERIFY(top.mkpath(testfiles::kHomeFolder));
        {
            Writer w;
            w.tutor.drivesRoot = shared.path();
            w.tutor.hostName = names[i].left(3);
            w.tutor.clock.set(clock.now());
            w.tutor.start({QStringLiteral("1"), names[i], QStringLiteral("6")});
            w.tutor.next();
            w.tutor.enterResponse(QStringLiteral("a"));
        }
        QVERIFY(top.mkpath(QFileInfo("class/" + name).path()));
        QVERIFY(top.rename(testfiles::kHomeFolder, how == "linked" ? "outside" : "class/" + name));
        if (how == "linked")
            QVERIFY(QFile::link(top.filePath("outside"), top.filePath("class/" + name)));
    }
    QVERIFY(live.poll());
    for (const QString& name : names)
        QVERIFY2(liveRow(live.page(), name).endsWith("|1 of 20|1|0 s|working|"), qPrintable(live.page()));
    QVERIFY2(live.page().contains("· 2 sessions today ·"), qPrintable(live.page()));
    QCOMPARE(live.page().contains(note.toUtf8()) && live.page().count("class=\"note\"") == !note.isEmpty(), true);
}

// How sessions ended, from the index's end entries: {student:how}, then each row's classes and
// the end of its cells, for Ann (line 1 of 20), Bo (line 1 of 12), Dee (at her set's last line).
void TestReviewReader::liveEnds_data()
{
    QTest::addColumn<QStringList>("ends");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("note");

    const QString quiet = QStringLiteral("quiet;|quiet 6 min|");
    const QString annFinished = QStringLiteral("apart finished;|finished|the set's end at 10:01:00|");
    const QString annQuit = QStringLiteral("left;|left|quit the program at 10:01:00|");
    QTest::newRow("none written: the last line stands for the set's end")
        << QStringList() << QStringList{quiet, quiet, "apart finished;|finished|"} << QString();
    QTest::newRow("finished: only where it is written")
        << QStringList{"Ann:finished"} << QStringList{annFinished, quiet, quiet} << QString();
    QTest::newRow("quit and closed: left, never quiet")
        << QStringList{"Ann:quit", "Bo:closed"}
        << QStringList{annQuit, "left;|left|closed the window at 10:01:00|", quiet} << QString();
    QTest::newRow("a second end does not relabel")
        << QStringList{"Ann:finished", "Ann:quit"} << QStringList{annFinished, quiet, quiet}
        << "records.index:19: not used: a second end (quit) of session ";
    QTest::newRow("the same end twice is one")
        << QStringList{"Ann:quit", "Ann:quit"} << QStringList{annQuit, quiet, quiet} << QString();
    QTest::newRow("an end for no session")
        << QStringList{"ffffffffffffffff:closed"} << QStringList{quiet, quiet, quiet}
        << "records.index:18: not used: an end (closed) of session ffffffffffffffff, which no session entry names";
}

void TestReviewReader::liveEnds()
{
    QFETCH(QStringList, ends);
    QFETCH(QStringList, rows);
    QFETCH(QString, note);
    QTemporaryDir shared;
    const QString folder = shared.filePath(testfiles::kHomeFolder);
    SettableClock clock(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 10)));
    review::LiveView live({folder, shared.filePath("live.html")}, clock);
    const QStringList names{"Ann Lee", "Bo Chen", "Dee Ray"};
    std::vector<std::unique_ptr<Writer>> writers;
    QVERIFY(QDir().mkpath(folder));
    for (int i = 0; i < 3; ++i) {
        writers.push_back(std::make_unique<Writer>());
        HeadlessTutor& t = writers.back()->tutor;
        t.drivesRoot = shared.path();
        t.hostName = QStringLiteral("lab-%1").arg(i);
        t.clock.set(clock.now().addSecs(i == 2 ? -30 : 0)); // Dee answers her first line too, 30 s before
        t.start({QStringLiteral("1"), names[i], i == 1 ? QStringLiteral("12") : QStringLiteral("6")});
        for (int line = 0; line < (i == 2 ? 20 : 1); ++line) {
            t.next();
            if (i == 2 && line == 0) {
                t.enterResponse(QStringLiteral("a"));
                t.clock.set(clock.now());
            }
        }
        t.enterResponse(QStringLiteral("a"));
    }
    const QString index = QDir(folder).filePath(QLatin1String(sessionindex::kFileName));
    QHash<QString, QByteArray> ids{{"ffffffffffffffff", "ffffffffffffffff"}};
    for (const SessionEntry& s : sessionindex::parse(testfiles::read(index)).sessions)
        ids.insert(s.name.section(u' ', 0, 0), s.id);
    for (const QString& end : std::as_const(ends))
        QVERIFY(testfiles::append(index, "end\t" + ids.value(end.section(u':', 0, 0)) + '\t' +
                                             end.section(u':', 1).toLatin1() + "\t12-08-2026\t10:01:00\t.\n"));
    clock.set(clock.now().addSecs(6 * 60));
    QVERIFY(live.poll());
    for (int i = 0; i < 3; ++i) {
        const QString row = liveRow(live.page(), names[i]);
        QVERIFY2(row.startsWith("<tr class=\"" + rows[i].section(u';', 0, 0) + "\">") &&
                     row.endsWith(rows[i].section(u';', 1)),
                 qPrintable(row));
    }
    QCOMPARE(unbalancedTag(live.page()), QByteArray());
    // Finished rows are listed apart, below the others.
    QCOMPARE(live.page().indexOf("Ann Lee") > live.page().indexOf("Dee Ray"), rows[0].contains("finished"));
    QCOMPARE(live.page().contains(note.toUtf8()) && live.page().count("class=\"note\"") == !note.isEmpty(), true);
    // Each line across the class: set 006's ends with Dee's answer to its last line, 30 s after her first.
    QVERIFY(live.page().contains("<h3>Class notes 006 · 2 students</h3>"));
    QVERIFY(live.page().contains("<td class=\"n\">30</td></tr>\n</table>"));
}

QTEST_GUILESS_MAIN(TestReviewReader)
#include "tst_review_reader.moc"
