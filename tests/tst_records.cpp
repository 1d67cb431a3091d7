#include <QProcess>

#include <limits>

#include <QTest>

#include "platform/code_page.h"
#include "records/record_layout.h"
#include "storage/record_files.h"
#include "storage/record_journal.h"
#include "storage/session_index.h"
#include "support/expected_records.h"
#include "support/file_size_limit.h"
#include "support/tutor_setup.h"

using namespace expected;

namespace {

// How often a response with this text stands in the file.
int responses(const QByteArray& file, const QString& text)
{
    return int(file.count(recordBytes(QStringLiteral("RESPONSE -->  \r\n") + text + QStringLiteral("\r\n"))));
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT
private slots:
    void wholeSessionOnSetFive();
    void recordEdgeCases_data();
    void recordEdgeCases();
    void promptLeftInTheBox();
    void displayNotes();
    void textOutsideTheCodePageIsRefused();
    void failureKeepsTheTextAndRetryCompletes();
    void changedTextAfterAFailureIsANewRecord();
    void folderRemovedDuringTheSession();
    void codingProcedures_data();
    void codingProcedures();
    void decodeRefusesCodesOutsideTheByteRange();
    void queryFiles_data();
    void queryFiles();
    void queryFileFailures();
    void anUnwritableJournalIsNamedOnce();
    void sessionIndex_data();
    void sessionIndex();
    void channelNumbers_data();
    void channelNumbers();
};

void TestRecords::wholeSessionOnSetFive()
{
    HeadlessTutor tutor;
    walkSetFive(tutor);
}

void TestRecords::recordEdgeCases_data()
{
    QTest::addColumn<bool>("stepFirst");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expectedLine");
    QTest::addColumn<QString>("recordedAnswer");
    QTest::newRow("one blank before the first step") << false << " "
                                                     << ""
                                                     << " ";
    QTest::newRow("empty answer") << true << ""
                                  << "Q"
                                  << "";
    QTest::newRow("trailing blank after the prompt") << true << "PROMPT "
                                                     << "Q"
                                                     << "PROMPT ";
    QTest::newRow("multi-line") << true << "line 1\r\nline 2\r\n\r\nline 4"
                                << "Q"
                                << "line 1\r\nline 2\r\n\r\nline 4";
    QTest::newRow("markup stays text") << true << "<b>F = ma</b> & <i>"
                                       << "Q"
                                       << "<b>F = ma</b> & <i>";
    QTest::newRow("nul character") << true << QString(QChar(0)) + "x"
                                   << "Q" << QString(QChar(0)) + "x";
}

void TestRecords::recordEdgeCases()
{
    QFETCH(bool, stepFirst);
    QFETCH(QString, answer);
    QFETCH(QString, expectedLine);
    QFETCH(QString, recordedAnswer);
    HeadlessTutor tutor;
    tutor.useLines({QStringLiteral("005.  `class notes 5"), QStringLiteral("Q")});
    const Session& s = tutor.startHome(QStringLiteral("5"));
    const QByteArray before = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    if (stepFirst)
        tutor.next();
    QString typed = answer;
    typed.replace(QStringLiteral("PROMPT"), s.answerPrompt());
    QString expected = recordedAnswer;
    expected.replace(QStringLiteral("PROMPT"), s.answerPrompt());
    if (!stepFirst)
        QCOMPARE(tutor.boxes.answer, QStringLiteral(" "));
    else
        tutor.boxes.answer = typed;
    tutor.enterResponse(tutor.boxes.answer);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")),
             before + recordBytes(questionMaster(" 50000 ", expectedLine, expected)));
    QVERIFY(!s.responsePending());
    QCOMPARE(tutor.boxes.answer, QString());
    QCOMPARE(tutor.boxes.question, QString());
    QCOMPARE(s.cumulativeText().text().left(s.answerSeparator().size() + expected.size()),
             s.answerSeparator() + expected);
}

void TestRecords::promptLeftInTheBox()
{
    HeadlessTutor tutor;
    const Session& s = tutor.startHome(QStringLiteral("5"));
    tutor.next();
    tutor.next();
    QCOMPARE(tutor.boxes.answer, s.answerPrompt());
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QString before = s.cumulativeText().text();
    const QString leftOver = s.currentText();
    QVERIFY(!leftOver.isEmpty());
    tutor.enterResponse(tutor.boxes.answer);
    QCOMPARE(s.cumulativeText().text(), s.answerSeparator() + s.answerPrompt() + before);
    QVERIFY(s.responsePending());
    tutor.boxes.answer = s.answerPrompt();
    tutor.saveAsNotes(tutor.boxes.answer);
    QCOMPARE(s.cumulativeText().text(), s.answerSeparator() + leftOver + QStringLiteral("\r\n\r\n") +
                                            s.answerSeparator() + s.answerPrompt() + before);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
    QVERIFY(!QFile::exists(tutor.homePath(QStringLiteral("notes_.txt"))));
    QCOMPARE(tutor.boxes.answer, QString());
    QCOMPARE(tutor.boxes.question, QString());
}

void TestRecords::displayNotes()
{
    HeadlessTutor tutor;
    const Session& s = tutor.startHome(QStringLiteral("5"));
    // With no notes file yet: a message, nothing else changes.
    tutor.boxes.question = QStringLiteral("shown");
    const QString scratch = s.currentText();
    tutor.displayNotes();
    QCOMPARE(tutor.prompter.messages,
             QStringList{QStringLiteral("No notes have been saved yet: use \"Save as Notes\" to keep a note (they go "
                                        "to c:\\tulmarox\\notes_.txt).")});
    QCOMPARE(tutor.boxes.question, QStringLiteral("shown"));
    QCOMPARE(s.currentText(), scratch);
    // A notes file that cannot be read: the message names it and why.
    QVERIFY(QDir(tutor.homePath(QString())).mkdir(QStringLiteral("notes_.txt")));
    tutor.displayNotes();
    QCOMPARE(tutor.prompter.messages.value(1),
             QStringLiteral("The notes in c:\\tulmarox\\notes_.txt could not be read: it is a folder, not a file."));
    QVERIFY(QDir(tutor.homePath(QString())).rmdir(QStringLiteral("notes_.txt")));
    tutor.prompter.messages.clear();

    tutor.boxes.answer = QStringLiteral("first");
    tutor.saveAsNotes(tutor.boxes.answer);
    tutor.boxes.answer = QStringLiteral("second");
    tutor.saveAsNotes(tutor.boxes.answer);
    // Records end without a line end, so the file's lines join rule to rule.
    const QString file = codepage::decode(tutor.homeBytes(QStringLiteral("notes_.txt")));
    QString joined = file;
    joined.remove(QStringLiteral("\r\n"));
    tutor.displayNotes();
    const QString once = QStringLiteral("NOTES -------> second") + joined;
    QCOMPARE(s.currentText(), once);
    QCOMPARE(tutor.boxes.question, QStringLiteral("\r\n\r\n") + once);
    tutor.displayNotes();
    QCOMPARE(s.currentText(), once + joined);
    QCOMPARE(tutor.boxes.question, QStringLiteral("\r\n\r\n") + once + QStringLiteral("\r\n\r\n") + once + joined);
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestRecords::textOutsideTheCodePageIsRefused()
{
    HeadlessTutor tutor;
    const Session& s = tutor.startHome(QStringLiteral("5"));
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QString text = QString::fromUtf8("`dv = Δv and 😀");
    tutor.boxes.answer = text;
    tutor.enterResponse(tutor.boxes.answer);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
    QCOMPARE(tutor.boxes.answer, text);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QVERIFY(tutor.prompter.messages[0].contains(QString::fromUtf8("Δ (U+0394)")));
    QVERIFY(tutor.prompter.messages[0].contains(QString::fromUtf8("😀 (U+1F600)")));
    QCOMPARE(s.cumulativeText().text(), QString());
}

void TestRecords::failureKeepsTheTextAndRetryCompletes()
{
    SKIP_WITHOUT_FILE_SIZE_LIMIT();
    HeadlessTutor tutor;
    const Session& s = tutor.startHome(QStringLiteral("5"));
    tutor.next();
    // A send file far larger than the master file, and a file size limit just above it:
    // the master file takes the record, the send file's write comes up short.
    QVERIFY(testfiles::append(tutor.homePath(QStringLiteral("send_1208.txt")), QByteArray(100000, 'e') + "\r\n"));
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QByteArray send = tutor.homeBytes(QStringLiteral("send_1208.txt"));
    tutor.boxes.answer = QStringLiteral("my answer");
    const QString question = tutor.boxes.question;
    const QString transcript = s.cumulativeText().text();
    {
        FileSizeLimit limit(send.size() + 10);
        tutor.enterResponse(tutor.boxes.answer);
    }
    QCOMPARE(tutor.prompter.messages.size(), 1);
    const QString message = tutor.prompter.messages[0];
    QVERIFY(message.contains(QStringLiteral("c:\\tulmarox\\send_1208.txt")));
    QVERIFY(message.contains(QStringLiteral("largest size")));
    QVERIFY(message.contains(QStringLiteral("already recorded in c:\\tulmarox\\masterFile.txt")));
    QCOMPARE(tutor.boxes.answer, QStringLiteral("my answer"));
    QCOMPARE(tutor.boxes.question, question);
    QCOMPARE(s.cumulativeText().text(), transcript);
    QVERIFY(s.responsePending());
    const QByteArray record = recordBytes(questionMaster(" 50000 ", s.currentLine(), "my answer"));
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master + record);
    // What did land in the send file was taken back.
    QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")), send);

    // Mended: the retry writes only to the send file, with the record's first time.
    tutor.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 20, 0)));
    tutor.enterResponse(tutor.boxes.answer);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master + record);
    QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")),
             send + recordBytes(questionSend(s.currentLine(), "my answer")));
    QVERIFY(!s.responsePending());
    QCOMPARE(tutor.boxes.answer, QString());
}

void TestRecords::changedTextAfterAFailureIsANewRecord()
{
    HeadlessTutor tutor;
    tutor.startHome(QStringLiteral("5"));
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    QVERIFY(QFile::remove(tutor.homePath(QStringLiteral("send_1208.txt"))));
    QVERIFY(QDir(tutor.homePath(QString())).mkdir(QStringLiteral("send_1208.txt")));
    tutor.boxes.answer = QStringLiteral("first try");
    tutor.enterResponse(tutor.boxes.answer);
    // Every file is opened before any is written: the master file has nothing either.
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
    QVERIFY(tutor.prompter.messages.value(0).contains(QStringLiteral("folder, not a file")));
    QVERIFY(QDir(tutor.homePath(QString())).rmdir(QStringLiteral("send_1208.txt")));
    tutor.boxes.answer = QStringLiteral("second try");
    tutor.enterResponse(tutor.boxes.answer);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")),
             master + recordBytes(questionMaster(" 50000 ", QString(), "second try")));
    QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")), recordBytes(questionSend(QString(), "second try")));
}

void TestRecords::folderRemovedDuringTheSession()
{
    HeadlessTutor tutor;
    const Session& s = tutor.startHome(QStringLiteral("5"));
    tutor.next();
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QByteArray send = tutor.homeBytes(QStringLiteral("send_1208.txt"));
    QVERIFY(QDir(tutor.homePath(QString())).removeRecursively());
    tutor.boxes.answer = QStringLiteral("a note");
    tutor.saveAsNotes(tutor.boxes.answer);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QVERIFY(tutor.prompter.messages[0].contains(QStringLiteral("does not exist")));
    QCOMPARE(tutor.boxes.answer, QStringLiteral("a note"));

    QVERIFY(QDir(tutor.drives.path()).mkpath(testfiles::kHomeFolder));
    QVERIFY(testfiles::write(tutor.homePath(QStringLiteral("masterFile.txt")), master));
    QVERIFY(testfiles::write(tutor.homePath(QStringLiteral("send_1208.txt")), send));
    tutor.saveAsNotes(tutor.boxes.answer);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")),
             master + recordBytes(notesRecord(s.currentLine(), "a note", true)));
    QCOMPARE(tutor.homeBytes(QStringLiteral("notes_.txt")), recordBytes(notesRecord(s.currentLine(), "a note", false)));
}

void TestRecords::codingProcedures_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("codeNbr");
    QTest::addColumn<QString>("decoded");
    QTest::newRow("empty") << "" << 19.0 << "";
    QTest::newRow("blanks") << "   " << 23.0 << "   ";
    QTest::newRow("dropped range") << "BCDMNrsv" << 20.0 << "";
    QTest::newRow("low codes") << "!A" << 19.0 << QString(codepage::charOf(33 + 209 - 19)) + codepage::charOf(65 + 190);
    QTest::newRow("high codes") << QString(codepage::charOf(200)) + codepage::charOf(255) << 28.0
                                << QString(codepage::charOf(72)) + codepage::charOf(127);
    QTest::newRow("half code rounds to even")
        << QString(codepage::charOf(200)) << 19.5 << QString(codepage::charOf(80));
}

void TestRecords::codingProcedures()
{
    QFETCH(QString, text);
    QFETCH(double, codeNbr);
    QFETCH(QString, decoded);
    HeadlessTutor tutor;
    RecordBook& records = tutor.create().records();
    const auto result = records.decode(text, codeNbr);
    QVERIFY(result.has_value());
    QCOMPARE(*result, decoded);
    QVERIFY(result->size() <= text.size());
}

void TestRecords::decodeRefusesCodesOutsideTheByteRange()
{
    HeadlessTutor tutor;
    RecordBook& records = tutor.create().records();
    for (int codeNbr = 19; codeNbr <= 28; ++codeNbr) {
        QCOMPARE(records.decode(QString(codepage::charOf(uchar(119))), codeNbr).has_value(), codeNbr == 19);
        if (99 + codeNbr > 118)
            QVERIFY(!records.decode(QString(codepage::charOf(uchar(99 + codeNbr))), codeNbr).has_value());
        QVERIFY(records.decode(QString(codepage::charOf(uchar(100 + codeNbr))), codeNbr).has_value());
    }
    QVERIFY(!records.decode(QString::fromUtf8("Δ"), 19).has_value());
    for (double codeNbr : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN()})
        QVERIFY(!records.decode(QStringLiteral("!z"), codeNbr).has_value());
}

void TestRecords::queryFiles_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("codeNbr");
    QTest::newRow("one line") << QByteArray("hello") << QByteArray("hello\r\n") << 5;
    QTest::newRow("assign any case") << QByteArray("ASSIGNMENT 3\r\nAssign x\r\n")
                                     << QByteArray("ASSIGNMENT 3\r\nAssign x\r\n") << 12;
    QTest::newRow("query line loses two characters")
        << QByteArray("x\r\nQuery 1 What is v?\r\n") << QByteArray("x\r\nquery What is v?\r\n") << 1;
    QTest::newRow("seven characters") << QByteArray("query a") << QByteArray("query\r\n") << 7;
    QTest::newRow("bare word and word with letter")
        << QByteArray("query\rqueryx\r\n") << QByteArray("query\r\nqueryx\r\n") << 5;
    QTest::newRow("short and empty lines") << QByteArray("ab\r\n\r\ncd") << QByteArray("ab\r\n\r\ncd\r\n") << 2;
    QTest::newRow("every byte survives") << QByteArray("\x80\x81\xff") << QByteArray("\x80\x81\xff\r\n") << 3;
}

void TestRecords::queryFiles()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, answer);
    QFETCH(int, codeNbr);
    HeadlessTutor tutor;
    const Session& s = tutor.startHome(QStringLiteral("5"));
    QVERIFY(testfiles::write(tutor.homePath(QStringLiteral("query.txt")), query));
    for (int run = 0; run < 2; ++run) {
        QVERIFY(!tutor.records().codeFile());
        QCOMPARE(tutor.homeBytes(QStringLiteral("queri.txt")), answer);
    }
    QCOMPARE(s.sessionCodeNbr(), codeNbr);
    QCOMPARE(tutor.homeBytes(QStringLiteral("query.txt")), query);
    // Nothing is left open: a record goes through right after.
    tutor.boxes.answer = QStringLiteral("after");
    tutor.enterResponse(tutor.boxes.answer);
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestRecords::queryFileFailures()
{
    HeadlessTutor tutor;
    const Session& s = tutor.startHome(QStringLiteral("5"));
    const int codeNbr = s.sessionCodeNbr();
    auto failure = [&] { return tutor.records().codeFile().value_or(Failure{QStringLiteral("none")}).reason; };
    QCOMPARE(failure(), QStringLiteral("c:\\tulmarox\\query.txt could not be read: the file does not exist"));
    QVERIFY(!QFile::exists(tutor.homePath(QStringLiteral("queri.txt"))));
    QVERIFY(testfiles::write(tutor.homePath(QStringLiteral("query.txt")), {}));
    QCOMPARE(failure(), QStringLiteral("c:\\tulmarox\\query.txt is empty: there is nothing to code"));
    QVERIFY(!QFile::exists(tutor.homePath(QStringLiteral("queri.txt"))));
    QCOMPARE(s.sessionCodeNbr(), codeNbr);
    // The answer file cannot be made: the message names it, not the query file.
    QVERIFY(testfiles::write(tutor.homePath(QStringLiteral("query.txt")), "q\r\n"));
    QVERIFY(QDir(tutor.homePath(QString())).mkdir(QStringLiteral("queri.txt")));
    QCOMPARE(failure(), QStringLiteral("c:\\tulmarox\\queri.txt could not be written: it is a folder, not a file"));
    QVERIFY(QDir(tutor.homePath(QString())).rmdir(QStringLiteral("queri.txt")));
    // The answer file fills up while it is written: the line that did not fit is named.
    SKIP_WITHOUT_FILE_SIZE_LIMIT();
    QVERIFY(testfiles::write(tutor.homePath(QStringLiteral("query.txt")), QByteArray(100, 'q') + "\r\n"));
    {
        FileSizeLimit limit(10);
        QCOMPARE(failure(), QStringLiteral("c:\\tulmarox\\queri.txt could not be written: %1")
                                .arg(QStringLiteral("the file has reached the largest size allowed")));
    }
    QVERIFY(QDir(tutor.homePath(QString())).removeRecursively());
    QVERIFY(failure().startsWith(QStringLiteral("c:\\tulmarox\\query.txt could not be read: the folder ")));
}

void TestRecords::anUnwritableJournalIsNamedOnce()
{
    HeadlessTutor tutor;
    // A file where the journal folder should be: records still reach the files.
    const QString journal = tutor.drives.filePath(QStringLiteral("journal"));
    QVERIFY(testfiles::write(journal, "not a folder"));
    tutor.journalFolder = journal;
    tutor.startHome(QStringLiteral("5"));
    tutor.next();
    tutor.enterResponse(QStringLiteral("first"));
    tutor.saveAsNotes(QStringLiteral("second"));
    // Named at the start, not again at each record.
    QCOMPARE(tutor.prompter.messages,
             QStringList{QStringLiteral("The tutor's journal cannot be used, so records that a crash interrupts cannot "
                                        "be finished at the next start:\n- %1: it is a file, not a folder")
                             .arg(QDir::toNativeSeparators(journal))});
    QCOMPARE(responses(tutor.homeBytes(QStringLiteral("send_1208.txt")), QStringLiteral("first")), 1);
    QCOMPARE(tutor.boxes.answer, QString());
}

void TestRecords::sessionIndex_data()
{
    QTest::addColumn<QString>("fault");
    // Each file's index entries in order: H a header, R a record, and the session's number.
    QTest::addColumn<QStringList>("indexed");
    const QStringList session{"masterFile.txt H1 R1 R1 R1", "send_1208.txt H1 R1 R1 R1", "notes_.txt R1"};
    QTest::newRow("a session") << "" << session;
    QTest::newRow("the header after the first paint") << "paint" << session;
    QTest::newRow("the header at the first click") << "click" << session;
    QTest::newRow("the index cannot be written") << "folder" << QStringList{};
    QTest::newRow("a record finished at the next start")
        << "journal"
        << QStringList{"masterFile.txt H1 R1 H2 R2 R2 R2", "send_1208.txt H1 R1 H2 R2 R2 R2", "notes_.txt R2"};
}

// The index beside the record files names the bytes of each header and record, and whose they
// are; an index that cannot be written never stops a record.
void TestRecords::sessionIndex()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, indexed);
    HeadlessTutor tutor;
    tutor.hostName = QStringLiteral("lab-07");
    const QString name = QStringLiteral("Zoë O'Neil");
    const QString index = tutor.homePath(QLatin1String(sessionindex::kFileName));
    if (fault == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(index));
    const QString send = tutor.homePath(QStringLiteral("send_1208.txt"));
    const QByteArray junk(20000, 'x');
    if (fault == QLatin1String("journal")) {
        // A run that ended while the send file refused a response, which the master file took.
        if (!FileSizeLimit::supported)
            QSKIP("no file size limit here");
        HeadlessTutor first(false);
        first.drivesRoot = tutor.drivesRoot;
        first.journalFolder = tutor.journalFolder;
        first.hostName = tutor.hostName;
        first.start({QStringLiteral("1"), name, QStringLiteral("5")});
        first.next();
        QVERIFY(testfiles::append(send, junk));
        {
            FileSizeLimit limit(10000);
            first.enterResponse(QStringLiteral("draft"));
            first.prompter.choices = {1};
            first.tutor->quit(first.boxes);
        }
        first.tutor.reset();
        QCOMPARE(responses(tutor.homeBytes(QStringLiteral("send_1208.txt")), QStringLiteral("draft")), 0);
    }
    const bool putOff = fault == QLatin1String("paint") || fault == QLatin1String("click");
    TutorServices services = tutor.tutorServices();
    services.headerAfterFirstPaint = putOff;
    tutor.prompter.answers = {QStringLiteral("1"), name, QStringLiteral("5")};
    tutor.tutor = std::make_unique<TutorController>(services, tutor.drawings);
    tutor.tutor->start();
    QCOMPARE(QFileInfo::exists(send), !putOff);
    // A folder gone before the first click is asked about then, as at start-up, before any record.
    if (fault == QLatin1String("click") &&
        QDir(QDir(tutor.drivesRoot).filePath(testfiles::kHomeFolder)).removeRecursively())
        tutor.prompter.folderChoices = {Prompter::FolderChoice::Create};
    if (fault == QLatin1String("paint")) {
        QEvent paint(QEvent::Paint);
        QCoreApplication::sendEvent(this, &paint);
        QTRY_VERIFY(QFileInfo::exists(send));
    }
    tutor.next();
    tutor.enterResponse(QStringLiteral("first"));
    tutor.next();
    tutor.saveAsNotes(QStringLiteral("second"));
    tutor.enterResponse(QStringLiteral("third"));
    QCOMPARE(responses(tutor.homeBytes(QStringLiteral("send_1208.txt")), QStringLiteral("third")), 1);
    QCOMPARE(tutor.prompter.createOffers.size(), fault == QLatin1String("click") ? 1 : 0);

    if (fault == QLatin1String("folder")) {
        QCOMPARE(tutor.prompter.messages.size(), 1);
        QVERIFY2(tutor.prompter.messages[0].contains(QLatin1String("records.index")) &&
                     tutor.prompter.messages[0].contains(QLatin1String("cannot be written")),
                 qPrintable(tutor.prompter.messages[0]));
        return;
    }
    const sessionindex::Parsed parsed = sessionindex::parse(testfiles::read(index));
    QCOMPARE(parsed.problems.size(), 0);
    QList<QByteArray> ids;
    for (const sessionindex::SessionEntry& s : parsed.sessions) {
        QCOMPARE(s.id.size(), sessionindex::kIdDigits);
        QCOMPARE(s.name, name);
        QCOMPARE(QStringList({s.set, s.host, s.date, s.time}),
                 QStringList({"005", "lab-07", "12-08-2026", "10:15:30"}));
        ids << s.id;
    }
    QStringList got;
    qsizetype places = 0;
    for (const QString& expected : std::as_const(indexed)) {
        const QString file = expected.section(u' ', 0, 0);
        const QByteArray bytes = tutor.homeBytes(file);
        QVERIFY2(!bytes.contains(name.toUtf8()) && !bytes.contains(codepage::encode(name)), qPrintable(file));
        // The entries cover the file from its first byte to its last, one record after another.
        QString kinds = file;
        qint64 end = 0;
        for (const sessionindex::PlaceEntry& p : parsed.places) {
            if (p.file != file)
                continue;
            if (p.offset == end + junk.size() && bytes.mid(end, junk.size()) == junk)
                end += junk.size(); // appended by hand: no record
            QCOMPARE(p.offset, end);
            end += p.length;
            kinds += (p.kind == sessionindex::PlaceEntry::Kind::Header ? QStringLiteral(" H") : QStringLiteral(" R")) +
                     QString::number(ids.indexOf(p.session) + 1);
            ++places;
        }
        QCOMPARE(end, bytes.size());
        got << kinds;
    }
    QCOMPARE(got, indexed);
    QCOMPARE(places, parsed.places.size());
}

void TestRecords::channelNumbers_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("exists");
    QTest::newRow("0") << 0 << false;
    QTest::newRow("1, the first") << 1 << true;
    QTest::newRow("3, the last") << 3 << true;
    QTest::newRow("4") << 4 << false;
    QTest::newRow("-1") << -1 << false;
}

void TestRecords::channelNumbers()
{
    QFETCH(int, channel);
    QFETCH(bool, exists);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("channel.txt"));
    Channels channels;
    const auto opened = channels.open(channel, path, Channels::Mode::Output);
    const auto written = channels.write(channel, "x\r\n");
    channels.closeAll();
    if (exists) {
        QVERIFY(!opened && !written);
        QCOMPARE(testfiles::read(path), QByteArray("x\r\n"));
        QVERIFY(!channels.open(channel, path, Channels::Mode::Input));
        QCOMPARE(channels.readLine(channel), QByteArray("x"));
        QVERIFY(channels.atEnd(channel));
        return;
    }
    QCOMPARE(opened.value_or(Failure{}).reason, QStringLiteral("channel %1 does not exist").arg(channel));
    QCOMPARE(written.value_or(Failure{}).reason, QStringLiteral("channel %1 holds no file").arg(channel));
    QVERIFY(!QFile::exists(path));
    QVERIFY(channels.atEnd(channel));
    QCOMPARE(channels.readLine(channel), QByteArray());
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
