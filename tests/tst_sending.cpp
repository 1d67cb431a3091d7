#include <QDir>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include "storage/record_io.h"
#include "support/tutor_setup.h"

// Records for the class's network folder are kept on this computer first and sent behind the
// scenes: what the student is told, the order they arrive in, and leaving with some unsent.

namespace {

const QString kFolder = QStringLiteral("/i/bkp_000416/My Documents/distance students/interactive problems/lb1");
const QString kAllIn = QStringLiteral("All your answers are in the class folder");

enum class Obstacle { None, Lock, Folder };

struct NetworkTutor : HeadlessTutor {
    QString folder = drivesRoot + kFolder;
    recordio::File held;
    NetworkTutor()
    {
        QDir().mkpath(folder);
        sendLater = true;
    }
    QByteArray bytes(const QString& name) const { return testfiles::read(folder + u'/' + name); }
    // What keeps records from the class folder until lift() is called.
    void block(Obstacle obstacle)
    {
        if (obstacle == Obstacle::Lock)
            QVERIFY(held.openReadWrite(folder + QStringLiteral("/masterFile.txt")) == 0 && held.tryLock() == 0);
        if (obstacle == Obstacle::Folder)
            QVERIFY(QDir().rename(folder, folder + QStringLiteral(".gone")));
    }
    void lift()
    {
        held.close();
        QDir().rename(folder + QStringLiteral(".gone"), folder);
    }
};

void click(HeadlessTutor& t, bool note, const QString& text)
{
    t.boxes.said.clear();
    note ? t.saveAsNotes(text) : t.enterResponse(text);
}

} // namespace

Q_DECLARE_METATYPE(Obstacle)

class TestSending : public QObject {
    Q_OBJECT
private slots:
    void whereTheRecordsAreIsTold_data();
    void whereTheRecordsAreIsTold();
    void leavingWaitsForRecordsToSend_data();
    void leavingWaitsForRecordsToSend();
};

void TestSending::whereTheRecordsAreIsTold_data()
{
    QTest::addColumn<bool>("note");
    QTest::addColumn<Obstacle>("obstacle");
    QTest::addColumn<QStringList>("toldWhileHeld"); // each a start of what is said, in order
    QTest::addColumn<QStringList>("toldAfter");
    const QString kept = QStringLiteral("Answer kept on this computer; sending it to the class folder (2 records");
    QTest::newRow("answers in the folder at once")
        << false << Obstacle::None << QStringList() << QStringList{"Answer recorded", "Answer recorded"};
    QTest::newRow("notes in the folder at once")
        << true << Obstacle::None << QStringList() << QStringList{"Note saved", "Note saved"};
    QTest::newRow("files held by another")
        << false << Obstacle::Lock << QStringList{kept, kept} << QStringList{"1 record still to send", kAllIn};
    QTest::newRow("notes while the folder is gone")
        << true << Obstacle::Folder << QStringList{"Note could not be sent to i:\\bkp_000416"}
        << QStringList{"1 record still to send", "All your notes are in the class folder"};
}

void TestSending::whereTheRecordsAreIsTold()
{
    QFETCH(bool, note);
    QFETCH(Obstacle, obstacle);
    QFETCH(QStringList, toldWhileHeld);
    QFETCH(QStringList, toldAfter);
    NetworkTutor t;
    t.keptAfterMs = obstacle == Obstacle::Lock ? 0 : 60000;
    t.start({QStringLiteral("2"), QStringLiteral("Ann"), QStringLiteral("5")});
    QVERIFY(t.next());
    t.block(obstacle);
    auto lift = qScopeGuard([&] { t.lift(); });
    click(t, note, QStringLiteral("first"));
    QCOMPARE(t.boxes.answer, QString());
    QCOMPARE(t.boxes.said, QString());
    click(t, note, QStringLiteral("second"));
    // The session as the student wrote it, whether or not it is in the class folder yet.
    t.tutor->displayEverything(t.boxes);
    QVERIFY(t.boxes.question.contains(QLatin1String("first")) && t.boxes.question.contains(QLatin1String("second")));
    QTRY_COMPARE(t.where.size(), toldWhileHeld.size());
    t.lift();
    t.next(); // a click tries again at once
    QTRY_COMPARE(t.where.size(), toldWhileHeld.size() + toldAfter.size());
    const QStringList expected = toldWhileHeld + toldAfter;
    for (qsizetype i = 0; i < expected.size(); ++i)
        QVERIFY2(t.where[i].startsWith(expected[i]), qPrintable(t.where[i]));
    // In every file, once each, in the order they were made.
    for (const QString& file : {QStringLiteral("masterFile.txt"), QStringLiteral("send_1208.txt")}) {
        const QByteArray bytes = t.bytes(file);
        QCOMPARE(bytes.count("first"), 1);
        QCOMPARE(bytes.count("second"), 1);
        QVERIFY(bytes.indexOf("first") < bytes.indexOf("second"));
    }
}

void TestSending::leavingWaitsForRecordsToSend_data()
{
    QTest::addColumn<Obstacle>("obstacle");
    QTest::addColumn<bool>("liftedWhileWaiting");
    QTest::addColumn<int>("questions");
    QTest::newRow("nothing to send") << Obstacle::None << false << 0;
    QTest::newRow("sent while waiting") << Obstacle::Lock << true << 0;
    QTest::newRow("left for the next start") << Obstacle::Folder << false << 1;
}

void TestSending::leavingWaitsForRecordsToSend()
{
    QFETCH(Obstacle, obstacle);
    QFETCH(bool, liftedWhileWaiting);
    QFETCH(int, questions);
    NetworkTutor t;
    t.leaveWaitMs = liftedWhileWaiting ? 60000 : 0;
    t.keptAfterMs = 60000;
    t.start({QStringLiteral("2"), QStringLiteral("Ann"), QStringLiteral("5")});
    QVERIFY(t.next());
    t.block(obstacle);
    auto lift = qScopeGuard([&] { t.lift(); });
    t.enterResponse(QStringLiteral("first"));
    // Delivered, or failed once, before the student leaves.
    if (obstacle != Obstacle::Lock)
        QTRY_COMPARE(t.where.size(), 1);
    if (liftedWhileWaiting)
        QTimer::singleShot(0, [&] { t.lift(); });
    t.prompter.choices = {1}; // leave
    t.tutor->quit(t.boxes);
    QCOMPARE(t.ends, 1);
    QCOMPARE(t.prompter.offered.size(), questions);
    t.tutor.reset();
    t.lift();
    // Whatever was left is sent by this computer's next start, once.
    NetworkTutor next;
    next.drivesRoot = t.drivesRoot;
    next.journalFolder = t.journalFolder;
    next.start({QStringLiteral("2"), QStringLiteral("Ann"), QStringLiteral("5")});
    QCOMPARE(t.bytes(QStringLiteral("masterFile.txt")).count("first"), 1);
    QCOMPARE(t.bytes(QStringLiteral("send_1208.txt")).count("first"), 1);
}

QTEST_GUILESS_MAIN(TestSending)
#include "tst_sending.moc"
