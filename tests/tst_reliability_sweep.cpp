#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "platform/code_page.h"
#include "records/record_layout.h"
#include "support/tutor_fixture.h"
#include "widgets/dialog_prompter.h"
#include "widgets/text_box.h"

// Hostile input everywhere the student or the content reaches the program: start-up
// entries, answers and notes, content lines of every marker form and the notes file read
// back. Each case must end in the designed result or a clear message; the sanitizers of
// the test build turn any memory or undefined-behaviour fault into a failure.

namespace {

const QString kHome = QStringLiteral("c:\\tulmarox");
const QString kNetwork = QStringLiteral("i:\\bkp_000416\\My Documents\\distance students\\interactive problems\\lb1");
const QString kTime = QStringLiteral("10:15:30");
constexpr qsizetype kMegabyte = 1 << 20;

QString megabyteOfLines()
{
    QString text;
    text.reserve(kMegabyte + 100);
    for (int i = 0; text.size() < kMegabyte; ++i)
        text += QStringLiteral("line %1: s = v t, so t = s / v\r\n").arg(i);
    return text;
}

// Characters from a script the code page does not hold, all different.
QString distinctIdeographs(qsizetype count)
{
    QString text;
    for (qsizetype i = 0; i < count; ++i)
        text += QChar(char16_t(0x4E00 + i % 20000));
    return text;
}

QString nameOf(char16_t point)
{
    return QStringLiteral("(U+%1)").arg(QString::number(point, 16).toUpper().rightJustified(4, u'0'));
}

QString everyCodePageCharacter()
{
    QString all;
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n')
            all += codepage::charOf(uchar(b));
    }
    return all;
}

QByteArray appended(const Tutor& tutor, const QString& file, const QByteArray& before)
{
    const QByteArray now = tutor.homeBytes(file);
    return now.startsWith(before) ? now.mid(before.size()) : QByteArray("<rewritten>");
}

} // namespace

class TestReliabilitySweep : public QObject {
    Q_OBJECT
private slots:
    void startUpEntries_data();
    void startUpEntries();
    void answerTexts_data();
    void answerTexts();
    void contentLines_data();
    void contentLines();
    void notesFileReadBack_data();
    void notesFileReadBack();
    void messagesShowEntriesAsTyped_data();
    void messagesShowEntriesAsTyped();
    void enterTakesThePreferredFolderChoice_data();
    void enterTakesThePreferredFolderChoice();
    void shippedContentFitsTheRecordFiles();
};

void TestReliabilitySweep::startUpEntries_data()
{
    QTest::addColumn<int>("prompt"); // 0 kind of user, 1 name, 2 class notes
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("askedAgain");
    const QString mb(kMegabyte, u'2');
    const QString nul(1, QChar(0));
    QTest::newRow("kind: empty") << 0 << "" << kHome << false;
    QTest::newRow("kind: a megabyte of 2s") << 0 << mb << kHome << false;
    QTest::newRow("kind: 2 and a NUL") << 0 << "2" + nul << kHome << false;
    QTest::newRow("kind: 2 and a lone CR") << 0 << "2\r" << kNetwork << false;
    QTest::newRow("kind: LF and 2") << 0 << "\n2" << kNetwork << false;
    QTest::newRow("kind: plus 2") << 0 << "+2" << kNetwork << false;
    QTest::newRow("kind: 2 as an exponent") << 0 << "0.2e1" << kNetwork << false;
    QTest::newRow("kind: hexadecimal 2") << 0 << "0x2" << kHome << false;
    QTest::newRow("kind: Arabic-Indic two") << 0 << QString::fromUtf8("٢") << kHome << false;
    QTest::newRow("kind: fullwidth two") << 0 << QString::fromUtf8("２") << kHome << false;
    QTest::newRow("kind: markup") << 0 << "<b>2</b>" << kHome << false;
    QTest::newRow("kind: NaN") << 0 << "nan" << kHome << false;
    QTest::newRow("name: a megabyte") << 1 << QString(kMegabyte, u'n') << kHome << false;
    QTest::newRow("name: NUL, CR and LF") << 1 << "A" + nul + "\r\n\r" << kHome << false;
    QTest::newRow("name: right to left") << 1 << QString::fromUtf8("\u202Eשלום") << kHome << false;
    QTest::newRow("name: markup") << 1 << "<img src=\"x\" onerror=\"y\">" << kHome << false;
    QTest::newRow("class notes: a megabyte of 5s") << 2 << QString(kMegabyte, u'5') << kHome << true;
    QTest::newRow("class notes: NUL") << 2 << nul << kHome << true;
    QTest::newRow("class notes: 5 and a NUL") << 2 << "5" + nul << kHome << true;
    QTest::newRow("class notes: 5 and a lone CR") << 2 << "5\r" << kHome << true;
    QTest::newRow("class notes: LF and 5") << 2 << "\n5" << kHome << true;
    QTest::newRow("class notes: 5 and a stop") << 2 << "5." << kHome << true;
    QTest::newRow("class notes: plus 5") << 2 << "+5" << kHome << true;
    QTest::newRow("class notes: Arabic-Indic five") << 2 << QString::fromUtf8("٥") << kHome << true;
    QTest::newRow("class notes: right-to-left mark") << 2 << QString::fromUtf8("\u200F5") << kHome << true;
    QTest::newRow("class notes: outside the code page") << 2 << QString::fromUtf8("😀") << kHome << true;
    QTest::newRow("class notes: markup") << 2 << "<b>5</b>" << kHome << true;
}

void TestReliabilitySweep::startUpEntries()
{
    QFETCH(int, prompt);
    QFETCH(QString, entry);
    QFETCH(QString, folder);
    QFETCH(bool, askedAgain);
    Tutor tutor;
    QDir(tutor.drives.path())
        .mkpath(QStringLiteral("i/bkp_000416/My Documents/distance students/interactive problems/lb1"));
    QList<std::optional<QString>> answers{QStringLiteral("1"), QStringLiteral("Ann"), QStringLiteral("5")};
    answers[prompt] = entry;
    if (askedAgain)
        answers << QStringLiteral("5");
    MainWindow& w = tutor.start(answers);
    QVERIFY(!w.hasEnded());
    QCOMPARE(w.session().dataFolder(), folder);
    QCOMPARE(w.session().classNotesNo(), QStringLiteral("005"));
    QCOMPARE(w.session().lineIndex(), 110);
    QCOMPARE(tutor.prompter.messages.size(), askedAgain ? 1 : 0);
    if (askedAgain) {
        // The entry is named, cut to a readable length, with the sets that exist.
        const QString message = tutor.prompter.messages[0];
        QVERIFY(message.contains(QStringLiteral("1 to 15")));
        QVERIFY(message.size() < 300);
        QCOMPARE(tutor.prompter.prompts.size(), 4);
    }
    // Only the good entry and never the name reach the files.
    const QString local = folder == kHome
                              ? testfiles::kHomeFolder
                              : QStringLiteral("i/bkp_000416/My Documents/distance students/interactive problems/lb1");
    QFile master(tutor.drives.path() + u'/' + local + QStringLiteral("/masterFile.txt"));
    QVERIFY(master.open(QIODevice::ReadOnly));
    const QByteArray bytes = master.readAll();
    QVERIFY(bytes.endsWith("assignment #005\r\n005.  `class notes 5\r\nPhysics I Class Notes\r\n12-08-2026\r\n"));
    QCOMPARE(bytes.count("assignment #"), 1);
    QVERIFY(bytes.size() < 200);
}

void TestReliabilitySweep::answerTexts_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("recorded");    // as the record holds it; empty with `refused`
    QTest::addColumn<QStringList>("refused"); // characters the message must name
    const QString mb = megabyteOfLines();
    const QString nul(1, QChar(0));
    const QStringList none;
    QTest::newRow("empty") << ""
                           << "" << none;
    QTest::newRow("a megabyte of lines") << mb << mb << none;
    QTest::newRow("a megabyte on one line") << QString(kMegabyte, u'x') << QString(kMegabyte, u'x') << none;
    QTest::newRow("NUL characters") << nul + "a" + nul + nul + "b" << nul + "a" + nul + nul + "b" << none;
    QTest::newRow("lone CR") << "a\rb\r"
                             << "a\r\nb\r\n"
                             << none;
    QTest::newRow("lone LF") << "\na\nb"
                             << "\r\na\r\nb" << none;
    QTest::newRow("line and paragraph separators") << QString::fromUtf8("a\u2028b\u2029c") << "a\r\nb\r\nc" << none;
    QTest::newRow("C1 control the code page holds")
        << QString::fromUtf8("\u0081\u009D") << QString::fromUtf8("\u0081\u009D") << none;
    QTest::newRow("markup") << "<b>F</b> <script>alert(1)</script> &amp; <img src=x onerror=y>"
                            << "<b>F</b> <script>alert(1)</script> &amp; <img src=x onerror=y>" << none;
    QTest::newRow("record rules typed by the student")
        << "......!!!!!!!!...................................\r\nRESPONSE -->  \r\n."
        << "......!!!!!!!!...................................\r\nRESPONSE -->  \r\n." << none;
    QTest::newRow("every code-page character but the line ends")
        << everyCodePageCharacter() << everyCodePageCharacter() << none;
    QTest::newRow("Hebrew, right to left")
        << QString::fromUtf8("v = שלום") << "" << QStringList{QString::fromUtf8("ש ") + nameOf(0x05E9)};
    QTest::newRow("right-to-left override") << QString::fromUtf8("a\u202Eb") << "" << QStringList{nameOf(0x202E)};
    QTest::newRow("next line control U+0085") << QString::fromUtf8("a\u0085b") << "" << QStringList{nameOf(0x0085)};
    QTest::newRow("emoji") << QString::fromUtf8("ok 😀") << "" << QStringList{QString::fromUtf8("😀 (U+1F600)")};
    QTest::newRow("lone high surrogate, then a letter outside")
        << QString(QChar(0xD800)) + QString::fromUtf8("Δ") << ""
        << QStringList{nameOf(0xD800), QString::fromUtf8("Δ (U+0394)")};
    QTest::newRow("two lone high surrogates")
        << QString(QChar(0xD800)) + QChar(0xDBFF) << "" << QStringList{nameOf(0xD800), nameOf(0xDBFF)};
    QTest::newRow("a megabyte of different ideographs")
        << distinctIdeographs(kMegabyte) << "" << QStringList{QString::fromUtf8("一 (U+4E00)"), QStringLiteral("…")};
}

void TestReliabilitySweep::answerTexts()
{
    QFETCH(QString, typed);
    QFETCH(QString, recorded);
    QFETCH(QStringList, refused);
    for (const bool note : {false, true}) {
        Tutor tutor;
        MainWindow& w = tutor.startHome(QStringLiteral("5"));
        QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
        const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
        const QByteArray send = tutor.homeBytes(QStringLiteral("send_1208.txt"));
        ui(w).txt_answer->setText(typed);
        const QString inBox = ui(w).txt_answer->text();
        QTest::mouseClick(note ? ui(w).cmd_save_as_notes : ui(w).cmd_enter_response, Qt::LeftButton);
        QVERIFY(!w.hasEnded());
        if (!refused.isEmpty()) {
            QCOMPARE(tutor.prompter.messages.size(), 1);
            for (const QString& name : refused)
                QVERIFY2(tutor.prompter.messages[0].contains(name), qPrintable(name));
            QVERIFY(tutor.prompter.messages[0].size() < 2000);
            QCOMPARE(ui(w).txt_answer->text(), inBox);
            QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
            QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")), send);
            QVERIFY(w.session().responsePending());
            continue;
        }
        QCOMPARE(tutor.prompter.messages, QStringList());
        QCOMPARE(ui(w).txt_answer->text(), QString());
        const QString expected =
            note ? records::notesRecord(kTime, QStringLiteral("12-08-2026"), w.session().currentLine(),
                                        records::kNotesMarker + recorded, true)
                 : records::questionRecord(kTime, w.session().currentLine(), recorded, 50000.0);
        QVERIFY(appended(tutor, QStringLiteral("masterFile.txt"), master) == recordBytes(expected));
    }
}

void TestReliabilitySweep::contentLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<QString>("shown");  // the line a record then refers to
    QTest::addColumn<QString>("number"); // as the master file writes it
    const QString after = QStringLiteral("the line after");
    QTest::newRow("question marker 12") << "`q12 What is v?" << false << "`q12 What is v?"
                                        << " 50012 ";
    QTest::newRow("capital marker") << "`Q7" << false << "`Q7"
                                    << " 50007 ";
    QTest::newRow("marker alone") << "`q" << false << "`q"
                                  << " 50000 ";
    QTest::newRow("negative marker") << "`q-3" << false << "`q-3"
                                     << " 49997 ";
    QTest::newRow("fraction marker") << "`q1.5" << false << "`q1.5"
                                     << " 50001.5 ";
    QTest::newRow("marker 100000") << "`q100000" << false << "`q100000"
                                   << " 150000 ";
    QTest::newRow("marker of 400 digits")
        << "`q" + QString(400, u'9') << false << "`q" + QString(400, u'9') << " 50000 ";
    QTest::newRow("marker of 21 digits") << "`q100000000000000000000" << false << "`q100000000000000000000"
                                         << " 100000000000000049152 ";
    QTest::newRow("picture line") << "`routine graph1" << false << after << " 50000 ";
    QTest::newRow("picture line in capitals") << "`ROUTINE-Graph 2" << false << after << " 50000 ";
    QTest::newRow("bare picture marker") << "`routine" << false << "`routine"
                                         << " 50000 ";
    QTest::newRow("unknown routine") << "`routine graph9" << true << ""
                                     << "";
    QTest::newRow("a megabyte of routine name") << "`routine " + QString(kMegabyte, u'g') << true << ""
                                                << "";
    QTest::newRow("next set's header") << "006.  `class notes 6" << true << ""
                                       << "";
    QTest::newRow("next set's number alone") << "006" << true << ""
                                             << "";
    QTest::newRow("end marker") << "####.#" << false << "####.#"
                                << " 50000 ";
    QTest::newRow("paragraph breaks") << "** a **\r\n\r\nb **" << false << "** a **\r\n\r\nb **"
                                      << " 50000 ";
    QTest::newRow("lone CR and LF") << "a\rb\nc" << false << "a\rb\nc"
                                    << " 50000 ";
    QTest::newRow("NUL") << QString(1, QChar(0)) << false << QString(1, QChar(0)) << " 50000 ";
    QTest::newRow("a megabyte") << megabyteOfLines() << false << megabyteOfLines() << " 50000 ";
    QTest::newRow("markup") << "<b>v</b> & <i>t</i>" << false << "<b>v</b> & <i>t</i>"
                            << " 50000 ";
    QTest::newRow("outside the code page")
        << QString::fromUtf8("Δv = v₂ − v₁") << false << QString::fromUtf8("Δv = v₂ − v₁") << "";
    QTest::newRow("right to left") << QString::fromUtf8("מהירות") << false << QString::fromUtf8("מהירות") << "";
}

void TestReliabilitySweep::contentLines()
{
    QFETCH(QString, line);
    QFETCH(bool, ends);
    QFETCH(QString, shown);
    QFETCH(QString, number);
    Tutor tutor;
    tutor.useLines({QStringLiteral("005.  `class notes 5"), line, QStringLiteral("the line after")});
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(w.hasEnded(), ends);
    if (ends) {
        QCOMPARE(tutor.ends, 1);
        return;
    }
    QCOMPARE(w.session().currentLine(), shown);
    QVERIFY(ui(w).txt_question->text().endsWith(QString(shown)
                                                    .replace(QStringLiteral("\r\n"), QStringLiteral("\r"))
                                                    .replace(u'\n', u'\r')
                                                    .replace(u'\r', QStringLiteral("\r\n"))));
    ui(w).txt_answer->setText(QStringLiteral("ok"));
    QTest::mouseClick(ui(w).cmd_enter_response, Qt::LeftButton);
    if (number.isEmpty()) {
        // A shown line the files cannot hold is not written with stand-ins: a message names it.
        QCOMPARE(tutor.prompter.messages.size(), 1);
        QVERIFY(tutor.prompter.messages[0].contains(QStringLiteral("line")));
        QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
        QCOMPARE(ui(w).txt_answer->text(), QStringLiteral("ok"));
        return;
    }
    QCOMPARE(tutor.prompter.messages, QStringList());
    const QString numberLine = QStringLiteral("`questionNumber") + QString(13, u' ') + number;
    QCOMPARE(appended(tutor, QStringLiteral("masterFile.txt"), master),
             recordBytes(QStringLiteral("......!!!!!!!!...................................\r\n") + QString(56, u' ') +
                         kTime + QStringLiteral("\r\n\r\n\r\n") + numberLine + QStringLiteral("\r\n") + shown +
                         QStringLiteral("\r\n......!!!!!!!!...................................\r\nRESPONSE -->  "
                                        "\r\nok\r\n.................................................\r\n")));
}

void TestReliabilitySweep::notesFileReadBack_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("shown"); // what "display notes" adds to currentText
    QByteArray every;
    for (int b = 0; b < 256; ++b)
        every += char(b);
    QString everyShown;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r')
            everyShown += codepage::charOf(uchar(b));
    }
    QTest::newRow("every byte value") << every << everyShown;
    QTest::newRow("lone CR, lone LF, NUL") << QByteArray("a\rb\nc\0d\r\n", 9) << QString("ab\nc") + QChar(0) + "d";
    QTest::newRow("a megabyte on one line") << QByteArray(kMegabyte, 'n') << QString(kMegabyte, u'n');
    QTest::newRow("only line ends") << QByteArray("\r\n\r\r\n\r") << "";
}

void TestReliabilitySweep::notesFileReadBack()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, shown);
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QVERIFY(testfiles::write(tutor.homePath(QStringLiteral("notes_.txt")), file));
    QTest::mouseClick(ui(w).cmd_display_note_file, Qt::LeftButton);
    QCOMPARE(tutor.prompter.messages, QStringList());
    QCOMPARE(w.session().currentText(), shown);
    QTest::mouseClick(ui(w).cmd_displayCumulativeText, Qt::LeftButton);
    QCOMPARE(ui(w).txt_question->text(), w.session().cumulativeText().text());
    QTest::mouseClick(ui(w).cmd_clr_answer, Qt::LeftButton);
    QCOMPARE(ui(w).txt_answer->text(), QString());
}

void TestReliabilitySweep::messagesShowEntriesAsTyped_data()
{
    QTest::addColumn<bool>("retry");
    QTest::newRow("a message") << false;
    QTest::newRow("a failure with Retry and Quit") << true;
}

void TestReliabilitySweep::messagesShowEntriesAsTyped()
{
    // The real dialogs: an entry such as <img src=...> must show as typed, not as markup.
    QFETCH(bool, retry);
    const QString message = QStringLiteral("There are no class notes \"<b>5</b><img src=\"/etc/passwd\">\".");
    std::optional<Qt::TextFormat> format;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        closer.stop();
        QCOMPARE(box->text(), message);
        format = box->textFormat();
        if (QAbstractButton* button = box->button(QMessageBox::Retry))
            button->click();
        else
            box->accept();
    });
    closer.start(10);
    DialogPrompter prompter;
    if (retry)
        QVERIFY(prompter.retryOrQuit(message));
    else
        prompter.tell(message);
    QCOMPARE(format, std::optional(Qt::PlainText));
}

void TestReliabilitySweep::shippedContentFitsTheRecordFiles()
{
    // Otherwise the refusal for lines the files cannot hold would stop a student for good.
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("1"));
    for (const QString& line : lineTableOf(w.session()))
        QVERIFY2(codepage::unmappable(line).isEmpty(), qPrintable(line));
}

void TestReliabilitySweep::enterTakesThePreferredFolderChoice_data()
{
    using Choice = Prompter::FolderChoice;
    QTest::addColumn<Choice>("preferred");
    QTest::addColumn<Choice>("onEnter");
    QTest::addColumn<Choice>("onEscape");
    QTest::newRow("first start: Create") << Choice::Create << Choice::Create << Choice::Quit;
    QTest::newRow("after a failure: Retry") << Choice::Retry << Choice::Retry << Choice::Quit;
}

void TestReliabilitySweep::enterTakesThePreferredFolderChoice()
{
    // The real dialog, answered by the keys a student presses.
    QFETCH(Prompter::FolderChoice, preferred);
    QFETCH(Prompter::FolderChoice, onEnter);
    QFETCH(Prompter::FolderChoice, onEscape);
    for (const auto& [key, expected] : {std::pair{Qt::Key_Return, onEnter}, std::pair{Qt::Key_Escape, onEscape}}) {
        QTimer presser;
        QObject::connect(&presser, &QTimer::timeout, [&, key = key] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                presser.stop();
                QTest::keyClick(box, key);
            }
        });
        presser.start(10);
        DialogPrompter prompter;
        QCOMPARE(prompter.createRetryOrQuit(QStringLiteral("The folder c:\\tulmarox does not exist yet."), preferred),
                 expected);
    }
}

QTEST_MAIN(TestReliabilitySweep)
#include "tst_reliability_sweep.moc"
