#include <QBuffer>
#include <QRegularExpression>
#include <QTest>

#include "platform/code_page.h"
#include "records/record_layout.h"
#include "review/record_reader.h"
#include "review/review_command.h"
#include "review/review_text.h"
#include "support/tutor_fixture.h"
#include "widgets/text_box.h"

namespace {

using review::Record;

struct Written {
    Record::Kind kind = Record::Kind::Response;
    QString line;
    QString text;
    std::optional<int> seconds;
};

QString longAnswer()
{
    QString text;
    for (int i = 0; text.size() < 64 * 1024; ++i)
        text += QStringLiteral("Line %1: v = Δx/Δt, \"so\" 3 m/s <fast> & é€\r\n").arg(i).replace(u'Δ', u'd');
    return text.left(64 * 1024);
}

// A session through the real window: answers, a note, a 64 KB answer, an empty answer and
// an answer left behind the reminder. What was recorded, in order.
QList<Written> runSession(Tutor& tutor)
{
    tutor.hostName = QStringLiteral("lab-01");
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QList<Written> written;
    QDateTime at(QDate(2026, 12, 8), QTime(10, 15, 30));
    auto record = [&](CommandButton* button, Record::Kind kind, const QString& text, int after) {
        at = at.addSecs(after);
        tutor.clock.set(at);
        ui(w).txt_answer->setText(text);
        QTest::mouseClick(button, Qt::LeftButton);
        written << Written{kind, w.session().currentLine(), text,
                           written.isEmpty() ? std::nullopt : std::optional<int>(after)};
    };
    auto next = [&] { QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton); };
    const auto response = Record::Kind::Response;
    next();
    record(ui(w).cmd_enter_response, response,
           QStringLiteral("v = 12 m / 4 s = 3 m/s,\r\nso \"3 m/s\" <exactly> & more"), 0);
    next();
    record(ui(w).cmd_save_as_notes, Record::Kind::Note, QStringLiteral("I forgot the units."), 12);
    next();
    record(ui(w).cmd_enter_response, response, longAnswer(), 40);
    record(ui(w).cmd_enter_response, response, QString(), 5);
    next();
    record(ui(w).cmd_enter_response, response, records::kAnswerPrompt + QStringLiteral(" 3 m/s"), 7);
    return written;
}

// A record's fields kept beyond the reading.
struct Kept {
    Record::Kind kind = Record::Kind::Response;
    QByteArray date, set, question, line, text;
    std::optional<int> seconds;
};

struct Collect final : review::ReadSink {
    QList<Kept> records;
    QList<qint64> skippedLines;
    int sessions = 0;
    void session(const review::Session&) override { ++sessions; }
    void record(const Record& r) override
    {
        records << Kept{r.kind,
                        r.date.toByteArray(),
                        r.set.toByteArray(),
                        r.question.toByteArray(),
                        r.line.toByteArray(),
                        r.text.toByteArray(),
                        r.seconds};
    }
    void skipped(const review::Skipped& s) override { skippedLines << s.line; }
};

Collect readBack(const QByteArray& file)
{
    QBuffer buffer;
    buffer.setData(file);
    buffer.open(QIODevice::ReadOnly);
    Collect collect;
    review::readRecords(buffer, collect);
    return collect;
}

void compareRecords(const QList<Kept>& read, const QList<Written>& written, bool numbered, bool inSession)
{
    QCOMPARE(read.size(), written.size());
    for (qsizetype i = 0; i < read.size(); ++i) {
        const Kept& r = read[i];
        QCOMPARE(r.kind, written[i].kind);
        QCOMPARE(r.line, recordBytes(written[i].line));
        QCOMPARE(r.text, recordBytes(written[i].text));
        QCOMPARE(r.question, numbered && r.kind == Record::Kind::Response ? QByteArray("50000") : QByteArray());
        QCOMPARE(r.set, inSession ? QByteArray("005") : QByteArray());
        QCOMPARE(r.date, QByteArray("12-08-2026"));
        if (inSession)
            QCOMPARE(r.seconds, written[i].seconds);
    }
}

QList<Written> notesOnly(const QList<Written>& written)
{
    QList<Written> notes;
    for (const Written& w : written) {
        if (w.kind == Record::Kind::Note)
            notes << w;
    }
    return notes;
}

} // namespace

class TestReviewRoundTrip : public QObject {
    Q_OBJECT
private slots:
    void readsTheWindowsFiles();
    void csvHoldsTheTextsByteForByte();
    void htmlCountsEachFileAndAll();
    void damagedCopies_data();
    void damagedCopies();
};

void TestReviewRoundTrip::readsTheWindowsFiles()
{
    Tutor tutor;
    const QList<Written> written = runSession(tutor);
    const Collect master = readBack(tutor.homeBytes(QStringLiteral("masterFile.txt")));
    const Collect send = readBack(tutor.homeBytes(QStringLiteral("send_1208.txt")));
    const Collect notes = readBack(tutor.homeBytes(QStringLiteral("notes_.txt")));
    compareRecords(master.records, written, true, true);
    compareRecords(send.records, written, false, true);
    compareRecords(notes.records, notesOnly(written), false, false);
    QCOMPARE(master.sessions + send.sessions + notes.sessions, 2);
    QCOMPARE(master.skippedLines + send.skippedLines + notes.skippedLines, QList<qint64>());
    QCOMPARE(review::flagOf(send.records[3].text), review::TextFlag::Empty);
    QCOMPARE(review::flagOf(send.records[4].text), review::TextFlag::HoldsReminder);
}

void TestReviewRoundTrip::csvHoldsTheTextsByteForByte()
{
    Tutor tutor;
    const QList<Written> written = runSession(tutor);
    const QString send = tutor.homePath(QStringLiteral("send_1208.txt"));
    const QString csvPath = tutor.drives.filePath(QStringLiteral("report.csv"));
    review::Console console;
    QStringList errors;
    console.error = [&](const QString& line) { errors << line; };
    QCOMPARE(review::reviewMain({QStringLiteral("-o"), csvPath, send}, console), 0);
    QCOMPARE(errors, QStringList());

    QByteArray expected = "\xEF\xBB\xBF" // a file: for a spreadsheet opened by double-click
                          "file,session,date,set,time,kind,question,line,text,seconds,computer,name\r\n";
    QTime time(10, 15, 30);
    for (const Written& w : written) {
        time = time.addSecs(w.seconds.value_or(0));
        expected += send.toUtf8() + ",1,12-08-2026,005," + time.toString(QStringLiteral("hh:mm:ss")).toLatin1() +
                    (w.kind == Record::Kind::Note ? ",note,," : ",response,,");
        review::appendCsvField(expected, w.line.toUtf8());
        expected += ',';
        review::appendCsvField(expected, w.text.toUtf8());
        expected += ',' + (w.seconds ? QByteArray::number(*w.seconds) : QByteArray()) + ",lab-01,Ann\r\n";
    }
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll(), expected);
}

// The lines that head each block, count and name what was skipped, whole; the page around them may change.
void TestReviewRoundTrip::htmlCountsEachFileAndAll()
{
    Tutor tutor;
    runSession(tutor);
    const QString extra = tutor.drives.filePath(QStringLiteral("extra.txt"));
    QFile file(extra);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(recordBytes(records::questionRecord(QStringLiteral("10:00:00"), QStringLiteral("L"),
                                                   records::kAnswerPrompt, std::nullopt)) +
               "edited by hand\r\n");
    file.close();
    const QString html = tutor.drives.filePath(QStringLiteral("report.html"));
    review::Console console;
    console.error = [](const QString&) {};
    QCOMPARE(review::reviewMain({QStringLiteral("--html"), QStringLiteral("-o"), html,
                                 tutor.homePath(QStringLiteral("send_1208.txt")),
                                 tutor.homePath(QStringLiteral("notes_.txt")), extra},
                                console),
             1);

    QFile report(html);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray page = report.readAll();
    // Each record row ends in its flag cell, whole.
    QStringList flags;
    const QRegularExpression flagCell(
        QStringLiteral("</div></td><td>([^<]*|<span class=\"[^\"]*\">[^<]*</span>)</td></tr>\n"));
    for (const QRegularExpressionMatch& m : flagCell.globalMatch(QString::fromUtf8(page)))
        flags << m.captured(1);
    const QString empty = QStringLiteral("<span class=\"flag empty\">empty</span>");
    const QString starts = QStringLiteral("<span class=\"flag reminder\">holds the reminder</span>");
    const QString only = QStringLiteral("<span class=\"flag reminder\">only the reminder</span>");
    QCOMPARE(flags, QStringList({"", "", "", empty, starts, "", only}));

    QList<QByteArray> counted;
    for (const QByteArray& line : page.split('\n')) {
        if (line.startsWith("<h3>") || line.startsWith("<p class=\"t\">") || line.contains("class=\"summary\"") ||
            line.contains("class=\"skip\""))
            counted << line;
    }
    const QList<QByteArray> expected{
        "<h3>Session 1 · 12-08-2026 · class notes 005 · Ann on lab-01</h3>", "<p class=\"t\">005.  `class notes 5</p>",
        "<p class=\"summary\">1 session, 5 records: 1 empty, 0 only the reminder, 1 holding the reminder.</p>",
        // The notes file holds no header: the index gives its note to the session.
        "<h3>Session (its header is not in this file) · 12-08-2026 · class notes 005 · Ann on lab-01</h3>",
        "<p class=\"summary\">0 sessions, 1 record: 0 empty, 0 only the reminder, 0 holding the reminder.</p>",
        "<h3>Records outside any session header</h3>",
        "<tr class=\"skip\"><td colspan=\"8\">Skipped at line 10: 16 bytes, text after the end of a record or "
        "session header.</td></tr>",
        "<p class=\"summary\">0 sessions, 1 record: 0 empty, 1 only the reminder, 0 holding the reminder; 1 "
        "stretch that could not be read, skipped.</p>",
        "<h3>Class notes 005 · 1 student</h3>", // each line of the set across the class
        "<p class=\"summary\">3 files, 1 session, 7 records: 1 empty, 1 only the reminder, 1 holding the "
        "reminder; 1 stretch that could not be read, skipped.</p>"};
    QCOMPARE(counted, expected);
}

void TestReviewRoundTrip::damagedCopies_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QList<int>>("recordsRead"); // of the records written to that file
    QTest::addColumn<int>("skipped");

    QTest::newRow("send cut inside the 64 KB answer") << "send_1208.txt"
                                                      << "cut" << QList<int>{0, 1} << 1;
    QTest::newRow("master with bytes put between two records") << "masterFile.txt"
                                                               << "insert" << QList<int>{0, 1, 2, 3, 4} << 1;
    QTest::newRow("send with the note's closing rule torn out") << "send_1208.txt"
                                                                << "tear" << QList<int>{0, 2, 3, 4} << 1;
    QTest::newRow("notes file cut in its rule") << "notes_.txt"
                                                << "tail" << QList<int>{} << 1;
}

void TestReviewRoundTrip::damagedCopies()
{
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QFETCH(QList<int>, recordsRead);
    QFETCH(int, skipped);

    Tutor tutor;
    const QList<Written> all = runSession(tutor);
    const QList<Written> written = file == QLatin1String("notes_.txt") ? notesOnly(all) : all;
    QByteArray bytes = tutor.homeBytes(file);
    const QByteArray rule = recordBytes(records::kClosingRule);
    if (damage == QLatin1String("cut"))
        bytes.truncate(bytes.indexOf(recordBytes(longAnswer().left(100))) + 30000);
    else if (damage == QLatin1String("insert"))
        bytes.insert(bytes.indexOf(rule) + rule.size() + 2, QByteArray("\x00\xFF edited by hand\r\n", 19));
    else if (damage == QLatin1String("tear"))
        bytes.remove(bytes.indexOf(rule, bytes.indexOf("NOTES")), 30);
    else
        bytes.chop(20);

    const Collect read = readBack(bytes);
    QList<Written> expected;
    for (int i : recordsRead)
        expected << written[i];
    QCOMPARE(read.records.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        QCOMPARE(read.records[i].text, recordBytes(expected[i].text));
    QCOMPARE(read.skippedLines.size(), skipped);
}

QTEST_MAIN(TestReviewRoundTrip)
#include "tst_review_round_trip.moc"
