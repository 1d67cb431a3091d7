#include <QProcess>

#include <limits>

#include <QTest>

#include "platform/code_page.h"
#include "records/record_layout.h"
#include "support/file_size_limit.h"
#include "support/tutor_fixture.h"
#include "widgets/text_box.h"

namespace {

const QString kOpen = QStringLiteral("......!!!!!!!!...................................");
const QString kClose = QStringLiteral(".................................................");
const QString kTimeLine = QString(56, u' ') + QStringLiteral("10:15:30");
const QString kDateTimeLine = QString(42, u' ') + QStringLiteral("12-08-2026    10:15:30");

QString lines(const QStringList& list)
{
    return list.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QString questionMaster(const QString& number, const QString& line, const QString& answer)
{
    return lines({kOpen, kTimeLine, "", "", "`questionNumber" + QString(13, u' ') + number, line, kOpen,
                  "RESPONSE -->  ", answer, kClose});
}

QString questionSend(const QString& line, const QString& answer)
{
    return lines({kOpen, kTimeLine, line, kOpen, "RESPONSE -->  ", answer, kClose});
}

QString notesRecord(const QString& line, const QString& note, bool master)
{
    const QString body = lines({kOpen, kTimeLine, kDateTimeLine, line, kOpen, "NOTES -------> " + note});
    return body + kClose + (master ? QStringLiteral("\r\n") : QString(7, u' '));
}

QByteArray header(const QByteArray& file)
{
    qsizetype at = 0;
    for (int i = 0; i < 5; ++i)
        at = file.indexOf("\r\n", at) + 2;
    return file.left(at);
}

void type(MainWindow& w, const QString& text)
{
    w.txt_answer->setText(text);
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
};

void TestRecords::wholeSessionOnSetFive()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QStringList shown;
    auto next = [&] {
        QTest::mouseClick(w.cmdNextQuestion, Qt::LeftButton);
        if (!w.hasEnded())
            shown << w.currentLine;
    };
    next();
    type(w, QStringLiteral("v = 12 m / 4 s = 3 m/s\r\nso 3 m/s."));
    QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    next();
    type(w, QStringLiteral("I forgot the units at first."));
    QTest::mouseClick(w.cmd_save_as_notes, Qt::LeftButton);
    next();
    tutor.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 15, 30)));
    type(w, QStringLiteral("OK"));
    QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    next();
    next();
    next();
    QVERIFY(w.hasEnded());
    QCOMPARE(shown.size(), 4);
    QCOMPARE(tutor.ends, 1);

    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QByteArray send = tutor.homeBytes(QStringLiteral("send_1208.txt"));
    const QByteArray notes = tutor.homeBytes(QStringLiteral("notes_.txt"));
    QCOMPARE(header(master), header(send));
    QVERIFY(header(master).endsWith(recordBytes(
        QStringLiteral("assignment #005\r\n005.  `class notes 5\r\nPhysics I Class Notes\r\n12-08-2026\r\n"))));
    const QString answer1 = QStringLiteral("v = 12 m / 4 s = 3 m/s\r\nso 3 m/s.");
    const QString note = QStringLiteral("I forgot the units at first.");
    QCOMPARE(master, header(master) +
                         recordBytes(questionMaster(" 50000 ", shown[0], answer1) + notesRecord(shown[1], note, true) +
                                     questionMaster(" 50000 ", shown[2], "OK")));
    QCOMPARE(send, header(send) + recordBytes(questionSend(shown[0], answer1) + notesRecord(shown[1], note, false) +
                                              questionSend(shown[2], "OK")));
    QCOMPARE(notes, recordBytes(notesRecord(shown[1], note, false)));
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
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    const QByteArray before = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    w.classNotesLines[111] = QStringLiteral("Q");
    w.lineIndex = 110;
    if (stepFirst)
        QTest::mouseClick(w.cmdNextQuestion, Qt::LeftButton);
    QString typed = answer;
    typed.replace(QStringLiteral("PROMPT"), w.answerPrompt);
    QString expected = recordedAnswer;
    expected.replace(QStringLiteral("PROMPT"), w.answerPrompt);
    if (!stepFirst)
        QCOMPARE(w.txt_answer->text(), QStringLiteral(" "));
    else
        type(w, typed);
    QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")),
             before + recordBytes(questionMaster(" 50000 ", expectedLine, expected)));
    QVERIFY(!w.responsePending);
    QCOMPARE(w.txt_answer->text(), QString());
    QCOMPARE(w.txt_question->text(), QString());
    QCOMPARE(w.cumulativeText.text().left(w.answerSeparator.size() + expected.size()), w.answerSeparator + expected);
}

void TestRecords::promptLeftInTheBox()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QTest::mouseClick(w.cmdNextQuestion, Qt::LeftButton);
    QTest::mouseClick(w.cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(w.txt_answer->text(), w.answerPrompt);
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QString before = w.cumulativeText.text();
    w.currentText = QStringLiteral("left over");
    QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    QCOMPARE(w.cumulativeText.text(), w.answerSeparator + w.answerPrompt + before);
    QVERIFY(w.responsePending);
    type(w, w.answerPrompt);
    QTest::mouseClick(w.cmd_save_as_notes, Qt::LeftButton);
    QCOMPARE(w.cumulativeText.text(),
             w.answerSeparator + QStringLiteral("left over\r\n\r\n") + w.answerSeparator + w.answerPrompt + before);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
    QVERIFY(!QFile::exists(tutor.homePath(QStringLiteral("notes_.txt"))));
    QCOMPARE(w.txt_answer->text(), QString());
    QCOMPARE(w.txt_question->text(), QString());
}

void TestRecords::displayNotes()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    // With no notes file yet: a message, nothing else changes.
    w.txt_question->setText(QStringLiteral("shown"));
    w.currentText = QStringLiteral("scratch");
    QTest::mouseClick(w.cmd_display_note_file, Qt::LeftButton);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QVERIFY(tutor.prompter.messages[0].contains(QStringLiteral("No notes have been saved yet")));
    QCOMPARE(w.txt_question->text(), QStringLiteral("shown"));
    QCOMPARE(w.currentText, QStringLiteral("scratch"));

    type(w, QStringLiteral("first"));
    QTest::mouseClick(w.cmd_save_as_notes, Qt::LeftButton);
    type(w, QStringLiteral("second"));
    QTest::mouseClick(w.cmd_save_as_notes, Qt::LeftButton);
    // Records end without a line end, so the file's lines join rule to rule.
    const QString file = codepage::decode(tutor.homeBytes(QStringLiteral("notes_.txt")));
    QString joined = file;
    joined.remove(QStringLiteral("\r\n"));
    QTest::mouseClick(w.cmd_display_note_file, Qt::LeftButton);
    const QString once = QStringLiteral("NOTES -------> second") + joined;
    QCOMPARE(w.currentText, once);
    QCOMPARE(w.txt_question->text(), QStringLiteral("\r\n\r\n") + once);
    QTest::mouseClick(w.cmd_display_note_file, Qt::LeftButton);
    QCOMPARE(w.currentText, once + joined);
    QCOMPARE(w.txt_question->text(), QStringLiteral("\r\n\r\n") + once + QStringLiteral("\r\n\r\n") + once + joined);
    QCOMPARE(tutor.prompter.messages.size(), 1);
}

void TestRecords::textOutsideTheCodePageIsRefused()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QString text = QString::fromUtf8("`dv = Δv and 😀");
    type(w, text);
    QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
    QCOMPARE(w.txt_answer->text(), text);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QVERIFY(tutor.prompter.messages[0].contains(QString::fromUtf8("Δ (U+0394)")));
    QVERIFY(tutor.prompter.messages[0].contains(QString::fromUtf8("😀 (U+1F600)")));
    QCOMPARE(w.cumulativeText.text(), QString());
}

void TestRecords::failureKeepsTheTextAndRetryCompletes()
{
    SKIP_WITHOUT_FILE_SIZE_LIMIT();
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QTest::mouseClick(w.cmdNextQuestion, Qt::LeftButton);
    // A send file far larger than the master file, and a file size limit just above it:
    // the master file takes the record, the send file's write comes up short.
    {
        QFile f(tutor.homePath(QStringLiteral("send_1208.txt")));
        QVERIFY(f.open(QIODevice::Append));
        f.write(QByteArray(100000, 'e') + "\r\n");
    }
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QByteArray send = tutor.homeBytes(QStringLiteral("send_1208.txt"));
    type(w, QStringLiteral("my answer"));
    const QString question = w.txt_question->text();
    const QString transcript = w.cumulativeText.text();
    {
        FileSizeLimit limit(send.size() + 10);
        QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    }
    QCOMPARE(tutor.prompter.messages.size(), 1);
    const QString message = tutor.prompter.messages[0];
    QVERIFY(message.contains(QStringLiteral("c:\\tulmarox\\send_1208.txt")));
    QVERIFY(message.contains(QStringLiteral("largest size")));
    QVERIFY(message.contains(QStringLiteral("already recorded in c:\\tulmarox\\masterFile.txt")));
    QCOMPARE(w.txt_answer->text(), QStringLiteral("my answer"));
    QCOMPARE(w.txt_question->text(), question);
    QCOMPARE(w.cumulativeText.text(), transcript);
    QVERIFY(w.responsePending);
    const QByteArray record = recordBytes(questionMaster(" 50000 ", w.currentLine, "my answer"));
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master + record);
    // What did land in the send file was taken back.
    QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")), send);

    // Mended: the retry writes only to the send file, with the record's first time.
    tutor.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 20, 0)));
    QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master + record);
    QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")),
             send + recordBytes(questionSend(w.currentLine, "my answer")));
    QVERIFY(!w.responsePending);
    QCOMPARE(w.txt_answer->text(), QString());
}

void TestRecords::changedTextAfterAFailureIsANewRecord()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    QVERIFY(QFile::remove(tutor.homePath(QStringLiteral("send_1208.txt"))));
    QVERIFY(QDir(tutor.homePath(QString())).mkdir(QStringLiteral("send_1208.txt")));
    type(w, QStringLiteral("first try"));
    QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    // Every file is opened before any is written: the master file has nothing either.
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
    QVERIFY(tutor.prompter.messages.value(0).contains(QStringLiteral("folder, not a file")));
    QVERIFY(QDir(tutor.homePath(QString())).rmdir(QStringLiteral("send_1208.txt")));
    type(w, QStringLiteral("second try"));
    QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")),
             master + recordBytes(questionMaster(" 50000 ", QString(), "second try")));
    QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")), recordBytes(questionSend(QString(), "second try")));
}

void TestRecords::folderRemovedDuringTheSession()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QTest::mouseClick(w.cmdNextQuestion, Qt::LeftButton);
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QByteArray send = tutor.homeBytes(QStringLiteral("send_1208.txt"));
    QVERIFY(QDir(tutor.homePath(QString())).removeRecursively());
    type(w, QStringLiteral("a note"));
    QTest::mouseClick(w.cmd_save_as_notes, Qt::LeftButton);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QVERIFY(tutor.prompter.messages[0].contains(QStringLiteral("does not exist")));
    QCOMPARE(w.txt_answer->text(), QStringLiteral("a note"));

    QVERIFY(QDir(tutor.drives.path()).mkpath(QStringLiteral("c/tulmarox")));
    for (auto [name, bytes] : {std::pair{"masterFile.txt", master}, std::pair{"send_1208.txt", send}}) {
        QFile f(tutor.homePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QTest::mouseClick(w.cmd_save_as_notes, Qt::LeftButton);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")),
             master + recordBytes(notesRecord(w.currentLine, "a note", true)));
    QCOMPARE(tutor.homeBytes(QStringLiteral("notes_.txt")), recordBytes(notesRecord(w.currentLine, "a note", false)));
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
    Tutor tutor;
    MainWindow& w = tutor.create();
    const auto result = w.decode(text, codeNbr);
    QVERIFY(result.has_value());
    QCOMPARE(*result, decoded);
    QVERIFY(result->size() <= text.size());
}

void TestRecords::decodeRefusesCodesOutsideTheByteRange()
{
    Tutor tutor;
    MainWindow& w = tutor.create();
    for (int codeNbr = 19; codeNbr <= 28; ++codeNbr) {
        QCOMPARE(w.decode(QString(codepage::charOf(uchar(119))), codeNbr).has_value(), codeNbr == 19);
        if (99 + codeNbr > 118)
            QVERIFY(!w.decode(QString(codepage::charOf(uchar(99 + codeNbr))), codeNbr).has_value());
        QVERIFY(w.decode(QString(codepage::charOf(uchar(100 + codeNbr))), codeNbr).has_value());
    }
    QVERIFY(!w.decode(QString::fromUtf8("Δ"), 19).has_value());
    for (double codeNbr : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN()})
        QVERIFY(!w.decode(QStringLiteral("!z"), codeNbr).has_value());
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
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QFile q(tutor.homePath(QStringLiteral("query.txt")));
    QVERIFY(q.open(QIODevice::WriteOnly));
    q.write(query);
    q.close();
    for (int run = 0; run < 2; ++run) {
        QVERIFY(!w.codeFile());
        QCOMPARE(tutor.homeBytes(QStringLiteral("queri.txt")), answer);
    }
    QCOMPARE(w.sessionCodeNbr, codeNbr);
    QCOMPARE(tutor.homeBytes(QStringLiteral("query.txt")), query);
    // Nothing is left open: a record goes through right after.
    type(w, QStringLiteral("after"));
    QTest::mouseClick(w.cmd_enter_response, Qt::LeftButton);
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestRecords::queryFileFailures()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    const int codeNbr = w.sessionCodeNbr;
    const auto missing = w.codeFile();
    QVERIFY(missing.has_value());
    QVERIFY(missing->reason.contains(QStringLiteral("query.txt")));
    QVERIFY(!QFile::exists(tutor.homePath(QStringLiteral("queri.txt"))));
    QFile(tutor.homePath(QStringLiteral("query.txt"))).open(QIODevice::WriteOnly);
    const auto empty = w.codeFile();
    QVERIFY(empty.has_value() && empty->reason.contains(QStringLiteral("empty")));
    QVERIFY(!QFile::exists(tutor.homePath(QStringLiteral("queri.txt"))));
    QCOMPARE(w.sessionCodeNbr, codeNbr);
    w.dataFolder = QStringLiteral("c:\\no such folder");
    QVERIFY(w.codeFile().has_value());
}

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
