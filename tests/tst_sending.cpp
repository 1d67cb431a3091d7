#include <QDir>
#include <QTest>
#include <QTimer>

#include "storage/record_io.h"
#include "storage/session_index.h"
#include "support/tutor_setup.h"

// Records for the class's network folder are kept on this computer first and sent behind the
// scenes: what the student is told, the order they arrive in, and leaving with some unsent.

namespace {

const QString kFolder = QStringLiteral("/i/bkp_000416/My Documents/distance students/interactive problems/lb1");
const QString kMaster = QStringLiteral("masterFile.txt");
const QString kSend = QStringLiteral("send_1208.txt");

enum class Obstacle { None, Lock, Folder, Journal, LockAtStart };

struct NetworkTutor : HeadlessTutor {
    QString folder = drivesRoot + kFolder;
    recordio::File held;
    NetworkTutor() { sendLater = QDir().mkpath(folder); }
    ~NetworkTutor() { lift(); }
    void start() { HeadlessTutor::start({QStringLiteral("2"), QStringLiteral("Ann"), QStringLiteral("5")}); }
    QByteArray bytes(const QString& name) const { return testfiles::read(folder + u'/' + name); }
    // Started, with what keeps records from the class folder until lift() is called.
    void begin(Obstacle obstacle)
    {
        if (obstacle == Obstacle::Journal)
            QVERIFY(testfiles::write(journalFolder = journal.filePath(QStringLiteral("a file")), "not a folder"));
        if (obstacle == Obstacle::LockAtStart)
            QVERIFY(held.openReadWrite(folder + u'/' + kMaster) == 0 && held.tryLock() == 0);
        start();
        QVERIFY(!session().hasEnded() && next());
        // The session's start reaches the folder before the obstacle, and is not news when it does so at once.
        QTRY_VERIFY(obstacle == Obstacle::LockAtStart || records().toSend() == 0);
        QVERIFY(where.isEmpty() || keptAfterMs == 0);
        where.clear();
        if (obstacle == Obstacle::Lock)
            QVERIFY(held.openReadWrite(folder + u'/' + kMaster) == 0 && held.tryLock() == 0);
        if (obstacle == Obstacle::Folder)
            QVERIFY(QDir().rename(folder, folder + QStringLiteral(".gone")));
    }
    void lift() { held.close(), QDir().rename(folder + QStringLiteral(".gone"), folder); }
};

} // namespace

Q_DECLARE_METATYPE(Obstacle)

class TestSending : public QObject {
    Q_OBJECT
private slots:
    void whereTheRecordsAreIsTold_data()
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
            << false << Obstacle::Lock << QStringList{kept, kept}
            << QStringList{"1 record still to send", "All your answers are in the class folder"};
        QTest::newRow("files held from the start")
            << false << Obstacle::LockAtStart
            << QStringList{"The start of this session kept on", "Answer kept", "Answer kept"}
            << QStringList{"2 records still", "1 record still", "All your answers"};
        QTest::newRow("no journal here") << false << Obstacle::Journal << QStringList() << QStringList();
        QTest::newRow("notes while the folder is gone")
            << true << Obstacle::Folder << QStringList{"Note could not be sent to i:\\bkp_000416"}
            << QStringList{"1 record still to send", "All your notes are in the class folder"};
    }
    void whereTheRecordsAreIsTold()
    {
        QFETCH(bool, note);
        QFETCH(Obstacle, obstacle);
        QFETCH(QStringList, toldWhileHeld);
        QFETCH(QStringList, toldAfter);
        NetworkTutor t;
        t.keptAfterMs = obstacle == Obstacle::Lock || obstacle == Obstacle::LockAtStart ? 0 : 60000;
        t.begin(obstacle);
        auto click = [&](const QString& text) { note ? t.saveAsNotes(text) : t.enterResponse(text); };
        t.boxes.said.clear();
        click(QStringLiteral("kept-1"));
        // Without a journal here it goes straight to the class folder, as it always has.
        QVERIFY(t.boxes.answer.isEmpty() && t.boxes.said == (obstacle == Obstacle::Journal ? "Answer recorded" : ""));
        click(QStringLiteral("kept-2"));
        // The session as the student wrote it, whether or not it is in the class folder yet.
        t.tutor->displayEverything(t.boxes);
        QVERIFY(t.boxes.question.contains(QLatin1String("kept-1")) &&
                t.boxes.question.contains(QLatin1String("kept-2")));
        QTRY_COMPARE(t.where.size(), toldWhileHeld.size());
        t.boxes.question.clear();
        t.displayNotes();
        QCOMPARE(t.boxes.question.contains(QLatin1String("kept-2")), note);
        t.lift();
        t.next(); // a click tries again at once
        QTRY_COMPARE(t.where.size(), toldWhileHeld.size() + toldAfter.size());
        for (qsizetype i = 0; i < t.where.size(); ++i)
            QVERIFY2(t.where[i].startsWith((toldWhileHeld + toldAfter)[i]), qPrintable(t.where[i]));
        // In every file, once each, in the order they were made.
        for (const QByteArray& bytes : {t.bytes(kMaster), t.bytes(kSend)})
            QVERIFY(bytes.count("Physics I Class Notes") == 1 && bytes.count("kept-1") == 1 &&
                    bytes.count("kept-2") == 1 && bytes.indexOf("Physics I Class Notes") < bytes.indexOf("kept-1") &&
                    bytes.indexOf("kept-1") < bytes.indexOf("kept-2"));
        const qsizetype shown = t.session().currentText().count(QLatin1String("kept-2"));
        t.displayNotes(); // from the file alone, once there
        QCOMPARE(t.session().currentText().count(QLatin1String("kept-2")) - shown, note ? 1 : 0);
    }

    void troubleIsToldAsWhatItIs_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("waiting");
        QTest::addColumn<QString>("told");
        QTest::newRow("held by a neighbour")
            << "the record files are in use by another tutor on this computer, for longer than 30 seconds" << true
            << "Answer is waiting to be sent to masterFile.txt (on disk: m): the record files are in use by another "
               "tutor on this computer, for longer than 30 seconds. It is kept on this computer, and the tutor "
               "sends it by itself as soon as it can (2 records still to send).";
        QTest::newRow("a failure") << "the disk is full" << false
                                   << "Answer could not be sent to masterFile.txt (on disk: m): the disk is full. "
                                      "It is kept on this computer, and the tutor sends it by itself as soon as it "
                                      "can (2 records still to send).";
    }
    void troubleIsToldAsWhatItIs()
    {
        QFETCH(QString, reason);
        QFETCH(bool, waiting);
        QFETCH(QString, told);
        QCOMPARE(
            RecordBook::deliveryTrouble(QStringLiteral("Answer"), kMaster, QStringLiteral("m"), reason, waiting, 2),
            told);
    }

    void leavingWaitsForRecordsToSend_data()
    {
        QTest::addColumn<Obstacle>("obstacle");
        QTest::addColumn<bool>("later");  // kept here first, or straight to the class folder
        QTest::addColumn<QString>("how"); // how the session ends
        QTest::newRow("nothing to send") << Obstacle::None << true << "quit";
        QTest::newRow("sent while waiting") << Obstacle::Lock << true << "quit";
        QTest::newRow("left for the next start") << Obstacle::Folder << true << "finished";
        QTest::newRow("window closed") << Obstacle::None << true << "closed";
        QTest::newRow("straight: the set's end") << Obstacle::None << false << "finished";
        QTest::newRow("straight: window closed") << Obstacle::None << false << "closed";
    }
    void leavingWaitsForRecordsToSend()
    {
        QFETCH(Obstacle, obstacle);
        QFETCH(bool, later);
        QFETCH(QString, how);
        NetworkTutor t;
        t.sendLater = later;
        // Files held by another are let go while leaving waits; a folder gone stays gone.
        t.leaveWaitMs = obstacle == Obstacle::Lock ? 60000 : 0;
        t.keptAfterMs = 60000;
        t.begin(obstacle);
        t.enterResponse(QStringLiteral("first"));
        // Delivered, or failed once, before the student leaves.
        if (obstacle != Obstacle::Lock)
            QTRY_COMPARE(t.where.size(), later ? 1 : 0);
        else
            QTimer::singleShot(0, [&] { t.lift(); });
        t.prompter.choices = {1}; // leave
        if (how == QLatin1String("finished")) {
            for (int presses = 0; presses < 200 && t.tutor->next(t.boxes); ++presses) {
            }
            if (obstacle == Obstacle::Folder) // the set's end says what was left
                QCOMPARE(t.boxes.said, QStringLiteral("End of class notes 5. 1 record is kept on this computer, "
                                                      "which sends it to the class folder at the next start of the "
                                                      "tutor."));
        } else if (how == QLatin1String("quit")) {
            t.tutor->quit(t.boxes);
        } else {
            t.tutor->end(); // what closing the window does once the answer box is settled
        }
        QCOMPARE(t.ends, 1);
        QCOMPARE(t.prompter.offered.size(), obstacle == Obstacle::Folder ? 1 : 0);
        const QByteArray id = t.session().sessionId();
        t.tutor.reset();
        t.lift();
        // What was left is sent by the next start, once, before its header, without holding it up.
        if (later)
            QVERIFY(t.held.openReadWrite(t.folder + u'/' + kMaster) == 0 && t.held.tryLock() == 0);
        const qsizetype told = t.prompter.messages.size();
        t.start();
        QVERIFY(!t.session().hasEnded() && t.prompter.messages.size() == told);
        t.lift();
        t.next(); // a click tries again at once
        QTRY_COMPARE(t.where.filter(QLatin1String("earlier run")).size(), obstacle == Obstacle::Folder ? 2 : 0);
        QTRY_COMPARE(t.records().toSend(), 0);
        for (const QByteArray& bytes : {t.bytes(kMaster), t.bytes(kSend)})
            QVERIFY(bytes.count("first") == 1 && bytes.indexOf("first") < bytes.lastIndexOf("Physics I Class Notes"));
        // The session's end follows its records in the index, once; the running one has none.
        const QByteArray index = t.bytes(QLatin1String(sessionindex::kFileName));
        const QByteArray end = "end\t" + id + '\t' + how.toLatin1() + "\t12-08-2026\t10:15:30\t.\n";
        QVERIFY2(index.count(end) == 1 && index.count("\nend\t") == 1, index.constData());
        QVERIFY(index.indexOf(end) > index.lastIndexOf("record\t" + id));
        QVERIFY(index.count("session\t" + id + '\t') == 1 && index.count("header\t" + id + '\t') == 2 &&
                index.lastIndexOf("header\t" + id) < index.indexOf("record\t" + id) &&
                index.indexOf("record\t" + id) < index.lastIndexOf("header\t"));
    }
};

QTEST_GUILESS_MAIN(TestSending)
#include "tst_sending.moc"
