#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

#include "content/class_notes_content.h"
#include "content/class_notes_file.h"
#include "content/line_table.h"
#include "support/expected_records.h"
#include "support/tutor_setup.h"

namespace {

const QString kParagraphBreak = QStringLiteral("\r\n\r\n");
constexpr int kShippedLines = 281;

bool isQuestion(const QString& line)
{
    qsizetype end = line.size();
    while (end > 0 && line.at(end - 1) == u' ')
        --end;
    return end > 0 && line.at(end - 1) == u'?';
}

bool isHeader(const QString& line)
{
    return !line.isEmpty() && line.at(0).isDigit();
}

// A started tutor on the given content: the three start-up answers given, the content
// loaded, the session header written into a temporary drives root.
struct Started : HeadlessTutor {
    Started(const QString& content, const QString& classNotes)
    {
        contentPath = content;
        start({QStringLiteral("1"), QStringLiteral("Student"), classNotes});
    }
};

// Synthetic content: a header for set 1, then "line 2", "line 3", ...
QString writeSyntheticContent(const QTemporaryDir& dir, int lineCount)
{
    QJsonArray lines{QStringLiteral("001.  Synthetic notes")};
    for (int i = 2; i <= lineCount; ++i)
        lines.append(QStringLiteral("line %1").arg(i));
    const QString path = dir.filePath(QStringLiteral("synthetic.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(lines).toJson()) < 0)
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// How often something occurs in one line; summed over the content.
using LineMeasure = std::function<int(const QString&)>;

} // namespace

Q_DECLARE_METATYPE(LineMeasure)

class TestContent : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sets_data();
    void sets();
    void tableAroundTheContent();
    void wholeContent_data();
    void wholeContent();
    void paragraphBreaksAreDoubleLineEndsInAnswers();
    void nonAsciiCharactersArriveUnchanged();
    void longestLine();
    void tableBound_data();
    void tableBound();
    void unusableContent_data();
    void unusableContent();
    void fillLineTable_data();
    void fillLineTable();
    void instructorsFile_data();
    void instructorsFile();
    void instructorsSetWithAGraph();

private:
    std::vector<QString> shipped_;
};

void TestContent::initTestCase()
{
    Started session(QStringLiteral(":/content/class_notes.json"), QStringLiteral("5"));
    QVERIFY2(!session.session().hasEnded(), qPrintable(session.prompter.messages.join(u'\n')));
    QCOMPARE(session.prompter.messages, QStringList());
    shipped_ = lineTableOf(session.session());
}

void TestContent::sets_data()
{
    QTest::addColumn<int>("headerSlot");
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("lastSlot");
    QTest::addColumn<int>("entryLines");
    QTest::addColumn<int>("questions");
    QTest::addColumn<int>("emptyLines");
    QTest::addColumn<int>("markedAnswers");

    QTest::newRow("001") << 1 << "001.  `Class Notes 1" << 52 << 22 << 11 << 29 << 11;
    QTest::newRow("002") << 53 << "002.  `Class Notes 2" << 73 << 12 << 5 << 8 << 5;
    QTest::newRow("003") << 74 << "003.  `Class Notes 3:" << 83 << 4 << 2 << 5 << 2;
    QTest::newRow("004") << 84 << "004.  `class notes 4" << 109 << 12 << 6 << 13 << 6;
    QTest::newRow("005") << 110 << "005.  `class notes 5" << 119 << 4 << 2 << 5 << 2;
    QTest::newRow("006") << 120 << "006.  `class notes 6" << 161 << 20 << 10 << 21 << 10;
    QTest::newRow("007") << 162 << "007.  `Class Notes 7" << 175 << 6 << 3 << 7 << 3;
    QTest::newRow("008") << 176 << "008.  `class notes 8" << 189 << 6 << 3 << 7 << 3;
    QTest::newRow("009") << 190 << "009.  `class notes 9" << 212 << 10 << 5 << 12 << 5;
    QTest::newRow("010") << 213 << "010.  `class notes 10" << 230 << 8 << 4 << 9 << 4;
    QTest::newRow("011") << 231 << "011.  Class Notes 11" << 239 << 8 << 4 << 0 << 4;
    QTest::newRow("012") << 240 << "012.  Class Notes 12" << 252 << 12 << 6 << 0 << 3;
    QTest::newRow("013") << 253 << "013.  Class Notes 13" << 261 << 7 << 3 << 1 << 1;
    QTest::newRow("014") << 262 << "014.  Class Notes 14" << 274 << 12 << 6 << 0 << 0;
    QTest::newRow("015") << 275 << "015.  Class Notes 15" << 281 << 6 << 3 << 0 << 0;
}

void TestContent::sets()
{
    QFETCH(int, headerSlot);
    QFETCH(QString, header);
    QFETCH(int, lastSlot);
    QFETCH(int, entryLines);
    QFETCH(int, questions);
    QFETCH(int, emptyLines);
    QFETCH(int, markedAnswers);

    QCOMPARE(shipped_[size_t(headerSlot)], header);
    QStringList entries;
    int empty = 0;
    for (int i = headerSlot + 1; i <= lastSlot; ++i) {
        const QString& line = shipped_[size_t(i)];
        QVERIFY2(!isHeader(line), qPrintable(QStringLiteral("slot %1 begins with a digit").arg(i)));
        if (line.isEmpty())
            ++empty;
        else
            entries << line;
    }
    QCOMPARE(entries.size(), entryLines);
    QCOMPARE(empty, emptyLines);
    QCOMPARE(int(std::count_if(entries.cbegin(), entries.cend(),
                               [](const QString& line) { return line.startsWith(QStringLiteral("**")); })),
             markedAnswers);

    // Each question is followed by its answer. Any other line either opens a question that
    // runs over two lines or is the lone quote that closes a set.
    int asked = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const bool follows = i > 0 && isQuestion(entries[i - 1]);
        if (isQuestion(entries[i])) {
            ++asked;
            QVERIFY2(i + 1 < entries.size() && !isQuestion(entries[i + 1]), qPrintable(entries[i]));
            QVERIFY2(!follows, qPrintable(entries[i]));
        } else if (!follows) {
            QVERIFY2(entries[i] == u'"' || (i + 1 < entries.size() && isQuestion(entries[i + 1])),
                     qPrintable(entries[i]));
        }
    }
    QCOMPARE(asked, questions);
}

void TestContent::tableAroundTheContent()
{
    QCOMPARE(shipped_.size(), size_t(Session::kLastSlot + 1));
    QVERIFY(shipped_[0].isEmpty());
    QVERIFY(!shipped_[kShippedLines].isEmpty());
    for (int i = kShippedLines + 1; i <= Session::kLastSlot; ++i)
        QVERIFY2(shipped_[size_t(i)].isEmpty(), qPrintable(QString::number(i)));
}

void TestContent::wholeContent_data()
{
    QTest::addColumn<LineMeasure>("measure");
    QTest::addColumn<int>("expected");

    auto startsWith = [](const char* text) {
        return LineMeasure(
            [text](const QString& line) { return line.startsWith(QLatin1String(text), Qt::CaseInsensitive); });
    };
    auto holds = [](char16_t c) { return LineMeasure([c](const QString& line) { return line.contains(QChar(c)); }); };

    QTest::newRow("headers") << LineMeasure(isHeader) << 15;
    QTest::newRow("empty lines") << LineMeasure(&QString::isEmpty) << 117;
    QTest::newRow("entry lines") << LineMeasure([](const QString& l) { return !l.isEmpty() && !isHeader(l); }) << 149;
    QTest::newRow("questions") << LineMeasure(isQuestion) << 73;
    QTest::newRow("lines with paragraph breaks")
        << LineMeasure([](const QString& l) { return l.contains(kParagraphBreak); }) << 40;
    QTest::newRow("paragraph breaks") << LineMeasure([](const QString& l) { return int(l.count(kParagraphBreak)); })
                                      << 113;
    QTest::newRow("lines ending in blanks") << LineMeasure([](const QString& l) { return l.endsWith(u' '); }) << 64;
    QTest::newRow("lines holding U+00FF") << holds(0x00FF) << 2;
    QTest::newRow("lines holding U+2018") << holds(0x2018) << 1;
    QTest::newRow("picture lines") << startsWith("`routine") << 0;
    QTest::newRow("question-marker lines") << startsWith("`q") << 0;
    QTest::newRow("end-marker lines") << startsWith("####") << 0;
}

void TestContent::wholeContent()
{
    QFETCH(LineMeasure, measure);
    QFETCH(int, expected);
    int n = 0;
    for (int i = 1; i <= kShippedLines; ++i)
        n += measure(shipped_[size_t(i)]);
    QCOMPARE(n, expected);
}

void TestContent::paragraphBreaksAreDoubleLineEndsInAnswers()
{
    for (int i = 1; i <= kShippedLines; ++i) {
        const QString& line = shipped_[size_t(i)];
        QString rest = line;
        rest.remove(kParagraphBreak);
        QVERIFY2(!rest.contains(u'\r') && !rest.contains(u'\n'), qPrintable(QString::number(i)));
        if (line.contains(kParagraphBreak)) {
            int before = i - 1;
            while (shipped_[size_t(before)].isEmpty())
                --before;
            QVERIFY2(isQuestion(shipped_[size_t(before)]), qPrintable(QStringLiteral("slot %1 is no answer").arg(i)));
        }
    }
}

void TestContent::nonAsciiCharactersArriveUnchanged()
{
    for (int i = 1; i <= kShippedLines; ++i) {
        const QString& line = shipped_[size_t(i)];
        for (qsizetype k = 0; k < line.size(); ++k) {
            const char16_t c = line.at(k).unicode();
            if (c < 0x80)
                continue;
            if (c == 0x00FF) {
                // Between two sentences of a question.
                QVERIFY(isQuestion(line));
                QVERIFY(k > 0 && line.at(k - 1) == u'.');
                QVERIFY(k + 1 < line.size() && line.at(k + 1).isUpper());
            } else {
                QCOMPARE(c, char16_t(0x2018));
                QVERIFY2(line.startsWith(QStringLiteral("** ")), qPrintable(line));
                QCOMPARE(line.at(k + 1), QChar(u'd'));
            }
        }
    }
}

void TestContent::longestLine()
{
    qsizetype longest = 0;
    int where = 0;
    for (int i = 1; i <= kShippedLines; ++i) {
        if (shipped_[size_t(i)].size() > longest) {
            longest = shipped_[size_t(i)].size();
            where = i;
        }
    }
    QCOMPARE(longest, qsizetype(2464));
    QVERIFY(shipped_[size_t(where)].contains(kParagraphBreak));
}

void TestContent::tableBound_data()
{
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<bool>("fits");

    QTest::newRow("4,999 lines") << 4999 << true;
    QTest::newRow("5,000 lines fill the table") << 5000 << true;
    QTest::newRow("5,001 lines") << 5001 << false;
    QTest::newRow("6,000 lines") << 6000 << false;
}

void TestContent::tableBound()
{
    QFETCH(int, lineCount);
    QFETCH(bool, fits);

    QTemporaryDir contentDir;
    const QString path = writeSyntheticContent(contentDir, lineCount);
    Started session(path, QStringLiteral("1"));
    const std::vector<QString> table = lineTableOf(session.session());

    QCOMPARE(table.size(), size_t(Session::kLastSlot + 1));
    QVERIFY(table[0].isEmpty());
    QCOMPARE(table[1], QStringLiteral("001.  Synthetic notes"));
    const int lastWritten = std::min(lineCount, Session::kLastSlot);
    QCOMPARE(table[size_t(lastWritten)], QStringLiteral("line %1").arg(lastWritten));
    if (lastWritten < Session::kLastSlot)
        QVERIFY(table[size_t(lastWritten + 1)].isEmpty());

    QCOMPARE(session.session().hasEnded(), !fits);
    QCOMPARE(session.ends, fits ? 0 : 1);
    if (fits) {
        QCOMPARE(session.prompter.messages, QStringList());
    } else {
        QCOMPARE(session.prompter.messages.size(), 1);
        const QString message = session.prompter.messages.first();
        QVERIFY2(message.contains(path), qPrintable(message));
        QVERIFY2(message.contains(QLocale(QLocale::English).toString(lineCount)), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("5,000")), qPrintable(message));
    }
}

void TestContent::unusableContent_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing file") << QByteArray() << "cannot be opened";
    QTest::newRow("broken JSON") << QByteArray("[\"001.  x\",") << "not valid JSON";
    QTest::newRow("object instead of array") << QByteArray("{\"lines\": [\"001.  x\"]}") << "array";
    QTest::newRow("number among the lines") << QByteArray("[\"001.  x\", \"\", 7]") << "line 3";
}

void TestContent::unusableContent()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, reason);

    QTemporaryDir contentDir;
    const QString path = contentDir.filePath(QStringLiteral("notes.json"));
    if (!json.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
    }
    Started session(path, QStringLiteral("1"));

    QVERIFY(session.session().hasEnded());
    QCOMPARE(session.ends, 1);
    QCOMPARE(session.prompter.messages.size(), 1);
    const QString message = session.prompter.messages.first();
    QVERIFY2(message.contains(path) && message.contains(reason), qPrintable(message));
    for (const QString& slot : lineTableOf(session.session()))
        QVERIFY(slot.isEmpty());
}

void TestContent::fillLineTable_data()
{
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("cursorAfter");

    QTest::newRow("no lines") << 0 << 0 << true << 0;
    QTest::newRow("three lines") << 0 << 3 << true << 0;
    QTest::newRow("up to the last slot") << 0 << 5000 << true << 0;
    QTest::newRow("one past the last slot") << 0 << 5001 << false << 5001;
    QTest::newRow("cursor left near the end") << 4998 << 3 << false << 5001;
    QTest::newRow("cursor below the table") << -2 << 1 << false << -1;
}

void TestContent::fillLineTable()
{
    QFETCH(int, cursor);
    QFETCH(int, lineCount);
    QFETCH(bool, fits);
    QFETCH(int, cursorAfter);

    QStringList lines;
    for (int i = 1; i <= lineCount; ++i)
        lines << QStringLiteral("line %1").arg(i);
    std::vector<QString> table(Session::kLastSlot + 1);
    const int start = cursor;

    QCOMPARE(::fillLineTable(table, cursor, lines), fits);
    QCOMPARE(cursor, cursorAfter);
    for (int slot = 0; slot <= Session::kLastSlot; ++slot) {
        const int line = slot - start;
        const QString expected = line >= 1 && line <= lineCount ? QStringLiteral("line %1").arg(line) : QString();
        QCOMPARE(table[size_t(slot)], expected);
    }
}

void TestContent::instructorsFile_data()
{
    QTest::addColumn<QByteArray>("bytes"); // none: a folder in the file's place
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("faultLine");
    QTest::addColumn<QString>("fault");

    const QStringList none;
    QByteArray tooLong = "001.  Long\n";
    for (int i = 2; i <= 5002; ++i)
        tooLong += "line\n";
    const QStringList builtIn(shipped_.begin() + 1, shipped_.begin() + 1 + kShippedLines);
    QTest::newRow("the built-in sets as written") << classnotesfile::write(builtIn) << builtIn << 0 << "";
    // An editor that drops the blanks at the ends of lines leaves the line's own.
    QTest::newRow("after such an editor") << classnotesfile::write({"001.  x", "Why? "}).replace(" \r\n", "\r\n")
                                          << QStringList{"001.  x", "Why? "} << 0 << "";
    QTest::newRow("UTF-8, CR LF, escapes")
        << QByteArray("001.  Mine\r\nWhy?\\s\r\n\r\n** A\\pB\\nC \\\\ D **\r\n")
        << QStringList{"001.  Mine", "Why? ", "", "** A\r\n\r\nB\r\nC \\ D **"} << 0 << "";
    QTest::newRow("code page, LF") << QByteArray("001.  Caf\xe9\n\x93q\x94\n")
                                   << QStringList{QString::fromUtf8("001.  Café"), QString::fromUtf8("“q”")} << 0 << "";
    QTest::newRow("byte-order mark, empty lines at the end") << QByteArray("\xEF\xBB\xBF"
                                                                           "001.  x\n`Routine Graph-3\n\n\r\n")
                                                             << QStringList{"001.  x", "`Routine Graph-3"} << 0 << "";
    QTest::newRow("unknown routine") << QByteArray("001.  x\n\nq\n`routine graph7\n") << none << 4 << "\"graph7\"";
    QTest::newRow("bare picture marker") << QByteArray("001.  x\n`routine\n") << none << 2 << "no such drawing";
    QTest::newRow("5,002 lines") << tooLong << none << 5001 << "at most 5,000 lines";
    QTest::newRow("a set skipped") << QByteArray("001.  a\n003.  c\n") << none << 2 << "\"002.\"";
    // The walk ends a set at any line that begins with the next set's three digits.
    QTest::newRow("three digits alone") << QByteArray("001.  a\n002\n") << none << 2 << "\"002.\"";
    QTest::newRow("text before the first header") << QByteArray("Why?\n001.  a\n") << none << 1 << "no set";
    QTest::newRow("outside the code page")
        << QString::fromUtf8("001.  a\nΔv?\n").toUtf8() << none << 2 << QString::fromUtf8("cannot hold: Δ");
    QTest::newRow("stray backslash") << QByteArray("001.  a\nC:\\temp\n") << none << 2 << "\"\\t\"";
    QTest::newRow("backslash ending a line") << QByteArray("001.  a\nWhy?\\\n") << none << 2 << "\"\\\" is none";
    QTest::newRow("lone carriage return") << QByteArray("001.  a\nx\ry\n") << none << 2 << "carriage return";
    QTest::newRow("no set at all") << QByteArray("\n\n") << none << 0 << "holds no set";
    QTest::newRow("cannot be read") << QByteArray() << none << 0 << "cannot be read";
}

void TestContent::instructorsFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QFETCH(int, faultLine);
    QFETCH(QString, fault);

    for (const bool builtIn : {false, true}) {
        HeadlessTutor tutor;
        const QString path = tutor.homePath(classnotesfile::kFileName);
        QVERIFY(bytes.isNull() ? QDir().mkpath(path) : testfiles::write(path, bytes));
        tutor.prompter.choices = {builtIn ? 1 : 0};
        tutor.startHome(QStringLiteral("1"));
        const std::vector<QString> table = lineTableOf(tutor.session());

        if (fault.isEmpty()) {
            QCOMPARE(tutor.prompter.messages, QStringList());
            QCOMPARE(QStringList(table.begin() + 1, table.begin() + 1 + lines.size()), lines);
            QVERIFY(tutor.homeBytes(QStringLiteral("masterFile.txt")).contains(recordBytes(lines.first())));
            break;
        }
        QCOMPARE(tutor.prompter.messages.size(), 1);
        const QString message = tutor.prompter.messages.first();
        QVERIFY2(message.contains(QStringLiteral("c:\\tulmarox\\class_notes.txt")) && message.contains(fault),
                 qPrintable(message));
        QCOMPARE(message.contains(QStringLiteral("line %1:").arg(faultLine)), faultLine > 0);
        QCOMPARE(tutor.session().hasEnded(), !builtIn);
        // Nothing from the faulty file: the built-in sets, or nothing written at all.
        QCOMPARE(table[1], builtIn ? QStringLiteral("001.  `Class Notes 1") : QString());
        QCOMPARE(QFile::exists(tutor.homePath(QStringLiteral("masterFile.txt"))), builtIn);
    }
}

void TestContent::instructorsSetWithAGraph()
{
    HeadlessTutor tutor;
    QVERIFY(testfiles::write(tutor.homePath(classnotesfile::kFileName),
                             "001.  Forces\r\nWhat is a newton?\r\n** 1 kg m/s^2. **\r\n"
                             "002.  Slopes on a graph\r\n`routine graph2\r\nWhat is the first slope?\r\n"
                             "** 150 dollars a month. **\r\n003.  Rates\r\nQ3?\r\n"));
    tutor.startHome(QStringLiteral("2"));
    QVERIFY(tutor.next());
    QCOMPARE(tutor.drawings.drawn, QStringList{QStringLiteral("graph2")});
    tutor.enterResponse(QStringLiteral("150 $/month"));
    QVERIFY(tutor.next());
    QVERIFY(!tutor.next());
    QCOMPARE(tutor.ends, 1);
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QByteArray header = expected::header(master);
    QVERIFY(header.endsWith(
        recordBytes("assignment #002\r\n002.  Slopes on a graph\r\nPhysics I Class Notes\r\n12-08-2026\r\n")));
    QCOMPARE(master,
             header + recordBytes(expected::questionMaster(" 20000 ", QStringLiteral("What is the first slope?"),
                                                           QStringLiteral("150 $/month"))));
}

QTEST_MAIN(TestContent)
#include "tst_content.moc"
