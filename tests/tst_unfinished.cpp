#include <QDir>
#include <QScopeGuard>
#include <QTest>

#include <memory>

#include "support/file_faults.h"
#include "support/file_size_limit.h"
#include "support/tutor_setup.h"

// What the tutor does with text typed and not recorded, and with a record that some of its
// files took and others did not, when the student moves on or quits (closing the window
// settles the box as quitting does: tst_window).

namespace {

const QString kMaster = QStringLiteral("masterFile.txt");
const QString kSend = QStringLiteral("send_1208.txt");

enum class Box { Typed, Unfinished, StillFailing, Empty, Reminder };
enum class Action { Next, Quit, EnterResponse, SaveAsNotes };

// How often a response or a note with this text stands in the file.
int responses(const QByteArray& file, const QString& text)
{
    return int(file.count(recordBytes(QStringLiteral("RESPONSE -->  \r\n") + text + QStringLiteral("\r\n"))));
}

int notes(const QByteArray& file, const QString& text)
{
    return int(file.count(recordBytes(QStringLiteral("NOTES -------> ") + text + QStringLiteral("\r\n"))));
}

void act(HeadlessTutor& t, Action action)
{
    switch (action) {
    case Action::Next:
        t.next();
        break;
    case Action::Quit:
        t.tutor->quit(t.boxes);
        break;
    case Action::EnterResponse:
        t.tutor->enterResponse(t.boxes);
        break;
    case Action::SaveAsNotes:
        t.tutor->saveAsNotes(t.boxes);
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
    void goingOnWithoutAFileIsFinishedAtTheNextStart_data();
    void goingOnWithoutAFileIsFinishedAtTheNextStart();
    void aWriteWithoutAnAnswerIsNeitherLostNorDoubled();
    void aNetworkDriveThatWentIsNamed();
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
    // In the master file only, the cause since mended: finished first, never written twice.
    QTest::newRow("unfinished, Next") << Box::Unfinished << Action::Next << -1 << "" << 1 << 1 << true << false << ""
                                      << true;
    QTest::newRow("unfinished, quit") << Box::Unfinished << Action::Quit << -1 << "" << 1 << 1 << false << true << ""
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

    HeadlessTutor tutor;
    const Session& s = tutor.startHome(QStringLiteral("5"));
    tutor.next();
    const QString draft = QStringLiteral("draft");

    std::unique_ptr<FileSizeLimit> limit;
    switch (box) {
    case Box::Typed:
        tutor.boxes.answer = draft;
        break;
    case Box::Unfinished:
    case Box::StillFailing: {
        // A send file far larger than the master file: a size limit between the two lets the
        // record into the master file only.
        QVERIFY(testfiles::append(tutor.homePath(kSend), QByteArray(20000, 'x')));
        SKIP_WITHOUT_FILE_SIZE_LIMIT();
        limit = std::make_unique<FileSizeLimit>(10000);
        tutor.enterResponse(draft);
        QCOMPARE(responses(tutor.homeBytes(kMaster), draft), 1);
        QCOMPARE(responses(tutor.homeBytes(kSend), draft), 0);
        QCOMPARE(tutor.boxes.answer, draft);
        if (box == Box::Unfinished)
            limit.reset();
        break;
    }
    case Box::Empty:
        tutor.boxes.answer.clear();
        break;
    case Box::Reminder:
        tutor.boxes.answer = s.answerPrompt();
        break;
    }
    if (!next.isEmpty())
        tutor.boxes.answer = next;

    const int lineBefore = s.lineIndex();
    const QString questionBefore = tutor.boxes.question;
    const qsizetype told = tutor.prompter.messages.size();
    if (choice >= 0)
        tutor.prompter.choices = {choice};
    act(tutor, action);
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
    QCOMPARE(s.hasEnded(), ended);
    QCOMPARE(s.lineIndex() != lineBefore, stepped);
    QCOMPARE(tutor.boxes.answer, answerBox == QLatin1String("reminder") ? s.answerPrompt() : answerBox);
    const QString step = stepped ? QStringLiteral("\r\n\r\n") + s.currentLine() : QString();
    QCOMPARE(tutor.boxes.question, (questionCleared ? QString() : questionBefore) + step);
}

void TestUnfinished::goingOnWithoutAFileIsFinishedAtTheNextStart_data()
{
    QTest::addColumn<bool>("behindTheScenes"); // the next start on the network folder, records sent later
    QTest::newRow("next start at home") << false;
    QTest::newRow("next start on the network folder") << true;
}

void TestUnfinished::goingOnWithoutAFileIsFinishedAtTheNextStart()
{
    QFETCH(bool, behindTheScenes);
    SKIP_WITHOUT_FILE_SIZE_LIMIT();
    HeadlessTutor first;
    first.startHome(QStringLiteral("5"));
    first.next();
    QVERIFY(testfiles::append(first.homePath(kSend), QByteArray(20000, 'x')));
    {
        FileSizeLimit limit(10000);
        first.enterResponse(QStringLiteral("draft"));
        first.prompter.choices = {1};
        first.tutor->quit(first.boxes);
    }
    QVERIFY(first.session().hasEnded());
    QCOMPARE(responses(first.homeBytes(kSend), QStringLiteral("draft")), 0);
    first.tutor.reset();

    HeadlessTutor next(false);
    next.drivesRoot = first.drivesRoot;
    next.journalFolder = first.journalFolder;
    next.sendLater = behindTheScenes;
    QVERIFY(QDir().mkpath(next.drivesRoot +
                          QStringLiteral("/i/bkp_000416/My Documents/distance students/interactive problems/lb1")));
    next.start({QString::number(behindTheScenes ? 2 : 1), QStringLiteral("Ann"), QStringLiteral("5")});
    QTRY_COMPARE(responses(first.homeBytes(kSend), QStringLiteral("draft")), 1);
    QCOMPARE(responses(first.homeBytes(kMaster), QStringLiteral("draft")), 1);
    QCOMPARE(next.prompter.messages.size(), behindTheScenes ? 0 : 1);
}

void TestUnfinished::aWriteWithoutAnAnswerIsNeitherLostNorDoubled()
{
    FILEFAULTS_OR_SKIP();
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
    HeadlessTutor tutor;
    tutor.startHome(QStringLiteral("5"));
    QVERIFY(tutor.next());
    tutor.enterResponse(QStringLiteral("landed"));
    filefaults::disarm();
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QVERIFY2(tutor.prompter.messages[0].contains(QLatin1String("may have reached ")),
             qPrintable(tutor.prompter.messages[0]));
    QCOMPARE(responses(tutor.homeBytes(kMaster), QStringLiteral("landed")), 1);
    // Moving on finishes it first, as its button would: found, not written again.
    QVERIFY(tutor.next());
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QCOMPARE(responses(tutor.homeBytes(kMaster), QStringLiteral("landed")), 1);
    QCOMPARE(responses(tutor.homeBytes(kSend), QStringLiteral("landed")), 1);
}

QTEST_GUILESS_MAIN(TestUnfinished)
void TestUnfinished::aNetworkDriveThatWentIsNamed()
{
    // The class's folder on drive I: was there at start-up; then the drive went (its client
    // ended and took the mount with it). The student hears that the network folder does not
    // answer, not that a folder is missing, and keeps the text.
    HeadlessTutor tutor;
    const QString drive = tutor.drivesRoot + QStringLiteral("/i");
    QVERIFY(
        QDir().mkpath(drive + QStringLiteral("/bkp_000416/My Documents/distance students/interactive problems/lb1")));
    tutor.start({QStringLiteral("2"), QStringLiteral("Ann"), QStringLiteral("5")});
    tutor.next();
    QVERIFY(QDir().rename(drive, drive + QStringLiteral(".gone")));
    tutor.enterResponse(QStringLiteral("draft"));
    QVERIFY2(tutor.prompter.messages.last().contains(QStringLiteral(
                 "masterFile.txt): the network folder does not answer (the network drive is disconnected")),
             qPrintable(tutor.prompter.messages.last()));
    QCOMPARE(tutor.boxes.answer, QStringLiteral("draft"));
}

#include "tst_unfinished.moc"
