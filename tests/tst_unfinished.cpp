#include <QCloseEvent>
#include <QScopeGuard>
#include <QTest>

#include <memory>

#include "support/file_faults.h"
#include "support/file_size_limit.h"
#include "support/tutor_fixture.h"
#include "widgets/text_box.h"

// What the window does with text typed and not recorded, and with a record that some of its
// files took and others did not, when the student moves on, quits or closes the window.

namespace {

const QString kMaster = QStringLiteral("masterFile.txt");
const QString kSend = QStringLiteral("send_1208.txt");

enum class Box { Typed, Unfinished, StillFailing, Empty, Reminder };
enum class Action { Next, Quit, Close, EnterResponse, SaveAsNotes };

// How often a response or a note with this text stands in the file.
int responses(const QByteArray& file, const QString& text)
{
    return int(file.count(recordBytes(QStringLiteral("RESPONSE -->  \r\n") + text + QStringLiteral("\r\n"))));
}

int notes(const QByteArray& file, const QString& text)
{
    return int(file.count(recordBytes(QStringLiteral("NOTES -------> ") + text + QStringLiteral("\r\n"))));
}

void act(MainWindow& w, Action action)
{
    switch (action) {
    case Action::Next:
        QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
        break;
    case Action::Quit:
        QTest::mouseClick(ui(w).cmd_quit, Qt::LeftButton);
        break;
    case Action::Close:
        w.close();
        break;
    case Action::EnterResponse:
        QTest::mouseClick(ui(w).cmd_enter_response, Qt::LeftButton);
        break;
    case Action::SaveAsNotes:
        QTest::mouseClick(ui(w).cmd_save_as_notes, Qt::LeftButton);
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Box)
Q_DECLARE_METATYPE(Action)

class TestUnfinished : public QObject {
    Q_OBJECT
private slots:
    void nothingIsDroppedWithoutAWord_data();
    void nothingIsDroppedWithoutAWord();
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void closingWhileAQuestionIsOpenIsRefused();
    void goingOnWithoutAFileIsFinishedAtTheNextStart();
    void aWriteWithoutAnAnswerIsNeitherLostNorDoubled();
};

void TestUnfinished::nothingIsDroppedWithoutAWord_data()
{
    QTest::addColumn<Box>("box");
    QTest::addColumn<Action>("action");
    QTest::addColumn<int>("choice");   // the student's answer to the question, -1 for none asked
    QTest::addColumn<QString>("next"); // typed before a record button; empty for the same text
    QTest::addColumn<int>("master");   // responses "draft" in the master file afterwards
    QTest::addColumn<int>("send");     // and in the send file
    QTest::addColumn<bool>("stepped"); // the walk went on to the next line
    QTest::addColumn<bool>("ended");
    QTest::addColumn<QString>("answerBox");    // "draft", "", or "reminder"
    QTest::addColumn<bool>("questionCleared"); // a record through the box empties the question box too

    // Typed and not recorded: asked once; keep editing is the default.
    QTest::newRow("typed, Next, keep editing")
        << Box::Typed << Action::Next << 0 << "" << 0 << 0 << false << false << "draft" << false;
    QTest::newRow("typed, Next, record it")
        << Box::Typed << Action::Next << 1 << "" << 1 << 1 << true << false << "" << true;
    QTest::newRow("typed, Next, discard")
        << Box::Typed << Action::Next << 2 << "" << 0 << 0 << true << false << "reminder" << false;
    QTest::newRow("typed, quit, keep editing")
        << Box::Typed << Action::Quit << 0 << "" << 0 << 0 << false << false << "draft" << false;
    QTest::newRow("typed, quit, discard")
        << Box::Typed << Action::Quit << 2 << "" << 0 << 0 << false << true << "" << false;
    QTest::newRow("typed, close, record it")
        << Box::Typed << Action::Close << 1 << "" << 1 << 1 << false << true << "" << true;
    QTest::newRow("typed, close, keep editing")
        << Box::Typed << Action::Close << 0 << "" << 0 << 0 << false << false << "draft" << false;
    // In the master file only, the cause since mended: finished first, never written twice.
    QTest::newRow("unfinished, Next") << Box::Unfinished << Action::Next << -1 << "" << 1 << 1 << true << false << ""
                                      << true;
    QTest::newRow("unfinished, quit") << Box::Unfinished << Action::Quit << -1 << "" << 1 << 1 << false << true << ""
                                      << true;
    QTest::newRow("unfinished, close") << Box::Unfinished << Action::Close << -1 << "" << 1 << 1 << false << true << ""
                                       << true;
    QTest::newRow("unfinished, Enter Response again")
        << Box::Unfinished << Action::EnterResponse << -1 << "" << 1 << 1 << false << false << "" << true;
    QTest::newRow("unfinished, another answer")
        << Box::Unfinished << Action::EnterResponse << -1 << "second" << 1 << 1 << false << false << "" << true;
    QTest::newRow("unfinished, the same text as a note")
        << Box::Unfinished << Action::SaveAsNotes << -1 << "draft" << 1 << 1 << false << false << "" << true;
    // Still failing: the student stays (the default) or goes on without the send file.
    QTest::newRow("still failing, Next, stay")
        << Box::StillFailing << Action::Next << 0 << "" << 1 << 0 << false << false << "draft" << false;
    QTest::newRow("still failing, Next, go on")
        << Box::StillFailing << Action::Next << 1 << "" << 1 << 0 << true << false << "" << true;
    QTest::newRow("still failing, quit, stay")
        << Box::StillFailing << Action::Quit << 0 << "" << 1 << 0 << false << false << "draft" << false;
    QTest::newRow("still failing, another answer, stay")
        << Box::StillFailing << Action::EnterResponse << 0 << "second" << 1 << 0 << false << false << "second" << false;
    // Nothing typed: exactly as before, no question.
    QTest::newRow("empty, Next") << Box::Empty << Action::Next << -1 << "" << 0 << 0 << true << false << "reminder"
                                 << false;
    QTest::newRow("reminder, quit") << Box::Reminder << Action::Quit << -1 << "" << 0 << 0 << false << true
                                    << "reminder" << false;
    QTest::newRow("reminder, close") << Box::Reminder << Action::Close << -1 << "" << 0 << 0 << false << true
                                     << "reminder" << false;
}

void TestUnfinished::nothingIsDroppedWithoutAWord()
{
    QFETCH(Box, box);
    QFETCH(Action, action);
    QFETCH(int, choice);
    QFETCH(QString, next);
    QFETCH(int, master);
    QFETCH(int, send);
    QFETCH(bool, stepped);
    QFETCH(bool, ended);
    QFETCH(QString, answerBox);
    QFETCH(bool, questionCleared);

    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    const QString draft = QStringLiteral("draft");

    std::unique_ptr<FileSizeLimit> limit;
    switch (box) {
    case Box::Typed:
        ui(w).txt_answer->setText(draft);
        break;
    case Box::Unfinished:
    case Box::StillFailing: {
        // A send file far larger than the master file: a size limit between the two lets the
        // record into the master file only.
        QVERIFY(testfiles::append(tutor.homePath(kSend), QByteArray(20000, 'x')));
        SKIP_WITHOUT_FILE_SIZE_LIMIT();
        limit = std::make_unique<FileSizeLimit>(10000);
        ui(w).txt_answer->setText(draft);
        QTest::mouseClick(ui(w).cmd_enter_response, Qt::LeftButton);
        QCOMPARE(responses(tutor.homeBytes(kMaster), draft), 1);
        QCOMPARE(responses(tutor.homeBytes(kSend), draft), 0);
        QCOMPARE(ui(w).txt_answer->text(), draft);
        if (box == Box::Unfinished)
            limit.reset();
        break;
    }
    case Box::Empty:
        ui(w).txt_answer->setText(QString());
        break;
    case Box::Reminder:
        ui(w).txt_answer->setText(w.session().answerPrompt());
        break;
    }
    if (!next.isEmpty())
        ui(w).txt_answer->setText(next);

    const int lineBefore = w.session().lineIndex();
    const QString questionBefore = ui(w).txt_question->text();
    const qsizetype told = tutor.prompter.messages.size();
    if (choice >= 0)
        tutor.prompter.choices = {choice};
    act(w, action);
    limit.reset();

    QCOMPARE(tutor.prompter.messages.size() - told, qsizetype(choice >= 0 ? 1 : 0));
    if (choice >= 0) {
        const QStringList buttons = box == Box::Typed
                                        ? QStringList{"Keep editing", "Record it as your answer", "Discard it"}
                                        : QStringList{"Stay", "Go on without it"};
        QCOMPARE(tutor.prompter.offered, QList<QStringList>{buttons});
    }
    QCOMPARE(responses(tutor.homeBytes(kMaster), draft), master);
    QCOMPARE(responses(tutor.homeBytes(kSend), draft), send);
    if (action == Action::SaveAsNotes) {
        QCOMPARE(notes(tutor.homeBytes(kMaster), next), 1);
        QCOMPARE(notes(tutor.homeBytes(kSend), next), 1);
    }
    if (next == QLatin1String("second") && !limit && box == Box::Unfinished) {
        QCOMPARE(responses(tutor.homeBytes(kMaster), next), 1);
        QCOMPARE(responses(tutor.homeBytes(kSend), next), 1);
    }
    QCOMPARE(w.hasEnded(), ended);
    QCOMPARE(w.session().lineIndex() != lineBefore, stepped);
    const QString expectedBox = answerBox == QLatin1String("reminder") ? w.session().answerPrompt() : answerBox;
    QCOMPARE(ui(w).txt_answer->text(), expectedBox);
    const QString step = stepped ? QStringLiteral("\r\n\r\n") + w.session().currentLine() : QString();
    QCOMPARE(ui(w).txt_question->text(), (questionCleared ? QString() : questionBefore) + step);
}

void TestUnfinished::enterPressesTheFocusedButton_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("presses");
    QTest::newRow("Return") << int(Qt::Key_Return) << Qt::KeyboardModifiers() << true;
    QTest::newRow("Enter on the keypad") << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier) << true;
    QTest::newRow("Space") << int(Qt::Key_Space) << Qt::KeyboardModifiers() << true;
    QTest::newRow("Ctrl+Return") << int(Qt::Key_Return) << Qt::KeyboardModifiers(Qt::ControlModifier) << false;
}

void TestUnfinished::enterPressesTheFocusedButton()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, presses);
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ui(w).txt_answer->setText(QStringLiteral("by key"));
    ui(w).cmd_enter_response->setFocus();
    QTRY_VERIFY(ui(w).cmd_enter_response->hasFocus());
    QTest::keyClick(ui(w).cmd_enter_response, Qt::Key(key), modifiers);
    QCOMPARE(responses(tutor.homeBytes(kMaster), QStringLiteral("by key")), presses ? 1 : 0);
    QCOMPARE(ui(w).txt_answer->text(), presses ? QString() : QStringLiteral("by key"));
}

void TestUnfinished::closingWhileAQuestionIsOpenIsRefused()
{
    // A close that arrives while the question about the answer box is still open waits for
    // the answer: the text is neither dropped nor recorded behind the student's back.
    Tutor tutor;
    struct CloseWhileAsking : Prompter {
        ScriptedPrompter* script;
        MainWindow* window;
        bool closedAccepted = true;
        std::optional<QString> ask(const QString& p) override { return script->ask(p); }
        void tell(const QString& m) override { script->tell(m); }
        bool retryOrQuit(const QString& m) override { return script->retryOrQuit(m); }
        FolderChoice createRetryOrQuit(const QString& m, FolderChoice preferred) override
        {
            return script->createRetryOrQuit(m, preferred);
        }
        int choose(const QString& m, const QStringList& c) override
        {
            // As the window manager's close button sends it, not through close().
            QCloseEvent event;
            QCoreApplication::sendEvent(window, &event);
            closedAccepted = event.isAccepted();
            return script->choose(m, c);
        }
    } prompter;
    prompter.script = &tutor.prompter;
    tutor.prompterInUse = &prompter;
    MainWindow& window = tutor.startHome(QStringLiteral("5"));
    prompter.window = &window;
    const QString big(1 << 20, u'a');
    ui(window).txt_answer->setText(big);
    QTest::mouseClick(ui(window).cmd_quit, Qt::LeftButton);
    QVERIFY(!prompter.closedAccepted);
    QVERIFY(!window.hasEnded());
    QCOMPARE(ui(window).txt_answer->text(), big);
}

void TestUnfinished::goingOnWithoutAFileIsFinishedAtTheNextStart()
{
    SKIP_WITHOUT_FILE_SIZE_LIMIT();
    Tutor first;
    MainWindow& w = first.startHome(QStringLiteral("5"));
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QVERIFY(testfiles::append(first.homePath(kSend), QByteArray(20000, 'x')));
    {
        FileSizeLimit limit(10000);
        ui(w).txt_answer->setText(QStringLiteral("draft"));
        QTest::mouseClick(ui(w).cmd_enter_response, Qt::LeftButton);
        first.prompter.choices = {1};
        QTest::mouseClick(ui(w).cmd_quit, Qt::LeftButton);
    }
    QVERIFY(w.hasEnded());
    QCOMPARE(responses(first.homeBytes(kSend), QStringLiteral("draft")), 0);
    first.window.reset();

    Tutor next(false);
    next.drivesRoot = first.drivesRoot;
    next.journalFolder = first.journalFolder;
    next.startHome(QStringLiteral("5"));
    QCOMPARE(responses(first.homeBytes(kMaster), QStringLiteral("draft")), 1);
    QCOMPARE(responses(first.homeBytes(kSend), QStringLiteral("draft")), 1);
    QCOMPARE(next.prompter.messages.size(), 1);
}

void TestUnfinished::aWriteWithoutAnAnswerIsNeitherLostNorDoubled()
{
    // The file server took the answer but its reply never came: the student hears that it may be
    // there, and going on leaves it once in every file.
    // On a network folder from the start; the session header is the first write there.
    filefaults::Rule rule;
    rule.pathPart = kMaster.toUtf8();
    rule.nth = 2;
    rule.error = EIO;
    rule.made = true;
    rule.remote = true;
    rule.times = 1000;
    filefaults::arm(rule);
    auto cleanup = qScopeGuard([] { filefaults::disarm(); });
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    ui(w).txt_answer->setText(QStringLiteral("landed"));
    QTest::mouseClick(ui(w).cmd_enter_response, Qt::LeftButton);
    filefaults::disarm();
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QVERIFY2(tutor.prompter.messages[0].contains(QLatin1String("may have reached ")),
             qPrintable(tutor.prompter.messages[0]));
    QCOMPARE(responses(tutor.homeBytes(kMaster), QStringLiteral("landed")), 1);
    // Moving on finishes it first, as its button would: found, not written again.
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QCOMPARE(responses(tutor.homeBytes(kMaster), QStringLiteral("landed")), 1);
    QCOMPARE(responses(tutor.homeBytes(kSend), QStringLiteral("landed")), 1);
}

QTEST_MAIN(TestUnfinished)
#include "tst_unfinished.moc"
