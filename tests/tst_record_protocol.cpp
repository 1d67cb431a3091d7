#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "platform/record_files.h"
#include "platform/record_io.h"
#include "platform/record_journal.h"
#include "platform/record_lock.h"
#include "support/file_size_limit.h"

using recordlock::Verdict;

namespace {

const QDateTime kNow(QDate(2026, 12, 8), QTime(10, 15, 30), Qt::UTC);
// Far past any process id the system hands out.
constexpr qint64 kGoneProcess = 0x7ffffff0;

QByteArray lockText(const QString& computer, qint64 process, qint64 secondsAgo)
{
    return recordlock::text({computer, process, kNow.addSecs(-secondsAgo)});
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A record folder with a master and a send file, a journal folder beside it, and short
// bounds so that a held lock is given up at once.
struct Folder {
    QTemporaryDir root;
    QString records = root.path() + QStringLiteral("/records");
    QString journal = root.path() + QStringLiteral("/journal");
    AppendSettings settings{journal, {30, 600}};

    Folder() { QDir().mkpath(records); }
    QString path(const QString& name) const { return records + u'/' + name; }
    QString lockPath() const { return path(recordlock::kFileName); }
    QList<FileAppend> record(const QByteArray& bytes) const
    {
        return {{QStringLiteral("masterFile"), path(QStringLiteral("master.txt")), "M" + bytes},
                {QStringLiteral("send"), path(QStringLiteral("send.txt")), "S" + bytes}};
    }
    QStringList entries() const { return QDir(journal).entryList(QDir::Files); }
};

} // namespace

class TestRecordProtocol : public QObject {
    Q_OBJECT
private slots:
    void judgesLockFiles_data();
    void judgesLockFiles();
    void appendsPastLockFiles_data();
    void appendsPastLockFiles();
    void keepsTheJournalOnlyWhileSomeFilesMissTheRecord();
    void finishesTheJournalAtStartUp_data();
    void finishesTheJournalAtStartUp();
};

void TestRecordProtocol::judgesLockFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<qint64>("fileAgeSecs");
    QTest::addColumn<qint64>("unchangedMs");
    QTest::addColumn<int>("verdict");
    const QString here = QStringLiteral("here");
    const qint64 me = 77;
    auto row = [](const char* name, const QByteArray& content, bool readable, qint64 fileAge, Verdict v,
                  qint64 unchangedMs = 0) {
        QTest::newRow(name) << content << readable << fileAge << unchangedMs << int(v);
    };
    row("other computer, fresh", lockText("there", 5, 2), true, 2, Verdict::Held);
    row("other computer, just under the limit", lockText("there", 5, 599), true, 599, Verdict::Held);
    row("other computer, two hours old", lockText("there", 5, 7200), true, 7200, Verdict::StaleByAge);
    row("this computer, process alive", lockText(here, 5, 2), true, 2, Verdict::Held);
    row("this computer, process gone", lockText(here, kGoneProcess, 2), true, 2, Verdict::StaleProcessGone);
    row("this computer, this very process", lockText(here, me, 2), true, 2, Verdict::StaleProcessGone);
    row("time far ahead, old file", lockText("there", 5, -90000), true, 7200, Verdict::StaleByAge);
    row("garbage, fresh file", "\x01\x02 not a lock", true, 3, Verdict::Held);
    row("garbage, old file", "\x01\x02 not a lock", true, 7200, Verdict::StaleByAge);
    row("empty, fresh file", "", true, 0, Verdict::Held);
    row("unreadable, fresh file", lockText("there", 5, 7200), false, 3, Verdict::Held);
    row("unreadable, old file", "", false, 7200, Verdict::StaleByAge);
    row("empty, watched 6 s", "", true, 6, Verdict::StaleNameless, 6000);
    row("empty, watched 4 s", "", true, 4, Verdict::Held, 4000);
    row("named, watched 6 s", lockText("there", 5, 6), true, 6, Verdict::Held, 6000);
    row("a field missing", lockText("there", 5, 2).replace("process: 5\r\n", ""), true, 7200, Verdict::StaleByAge);
}

void TestRecordProtocol::judgesLockFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, readable);
    QFETCH(qint64, fileAgeSecs);
    QFETCH(qint64, unchangedMs);
    QFETCH(int, verdict);
    recordlock::Facts facts;
    facts.content = content;
    facts.readable = readable;
    facts.fileTime = kNow.addSecs(-fileAgeSecs);
    facts.now = kNow;
    facts.thisComputer = QStringLiteral("here");
    facts.thisProcess = 77;
    facts.staleAfterSecs = 600;
    facts.processAlive = [](qint64 pid) { return pid != kGoneProcess; };
    facts.unchangedForMs = unchangedMs;
    const recordlock::Judgement j = recordlock::judge(facts);
    QCOMPARE(int(j.verdict), verdict);
    QVERIFY(!j.holder.isEmpty());
}

void TestRecordProtocol::appendsPastLockFiles_data()
{
    QTest::addColumn<QString>("lock"); // what lies at the lock file's place beforehand
    QTest::addColumn<bool>("written");
    QTest::addColumn<QString>("reason"); // a part of the message
    QTest::newRow("free") << "" << true << "";
    QTest::newRow("held by another computer") << "held" << false << "the computer there (process 5)";
    QTest::newRow("left by a process gone") << "gone" << true << "";
    QTest::newRow("left two hours ago") << "old" << true << "";
    QTest::newRow("garbage just written") << "garbage" << false << "unknown holder";
    QTest::newRow("garbage, two hours old") << "old garbage" << true << "";
    QTest::newRow("a folder") << "folder" << false << "is a folder";
}

void TestRecordProtocol::appendsPastLockFiles()
{
    QFETCH(QString, lock);
    QFETCH(bool, written);
    QFETCH(QString, reason);
    Folder folder;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray before = "earlier record\r\n";
    writeAll(folder.path(QStringLiteral("master.txt")), before);
    QByteArray lockBytes;
    if (lock == QLatin1String("held"))
        lockBytes = recordlock::text({QStringLiteral("there"), 5, now});
    else if (lock == QLatin1String("gone"))
        lockBytes = recordlock::text({recordlock::thisComputer(), kGoneProcess, now});
    else if (lock == QLatin1String("old"))
        lockBytes = recordlock::text({QStringLiteral("there"), 5, now.addSecs(-7200)});
    else if (lock.endsWith(QLatin1String("garbage")))
        lockBytes = "#!garbage";
    if (!lockBytes.isEmpty())
        writeAll(folder.lockPath(), lockBytes);
    if (lock == QLatin1String("old garbage")) {
        QFile f(folder.lockPath());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(now.addSecs(-7200), QFileDevice::FileModificationTime));
    }
    if (lock == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(folder.lockPath()));

    const AppendOutcome outcome = appendRecord(folder.record("record\r\n"), folder.settings);

    QCOMPARE(outcome.ok(), written);
    QVERIFY2(outcome.reason.contains(reason), qPrintable(outcome.reason));
    QCOMPARE(readAll(folder.path(QStringLiteral("master.txt"))), written ? before + "Mrecord\r\n" : before);
    QCOMPARE(readAll(folder.path(QStringLiteral("send.txt"))), written ? QByteArray("Srecord\r\n") : QByteArray());
    // A lock someone else holds stays as it is; one of ours never stays behind.
    if (written)
        QVERIFY(!QFileInfo::exists(folder.lockPath()));
    else if (lock != QLatin1String("folder"))
        QCOMPARE(readAll(folder.lockPath()), lockBytes);
    QVERIFY(folder.entries().isEmpty());
}

void TestRecordProtocol::keepsTheJournalOnlyWhileSomeFilesMissTheRecord()
{
    Folder folder;
    const QList<FileAppend> files = folder.record("r\r\n");

    // The send file's folder is missing: no file took it, nothing to finish later.
    QList<FileAppend> none = files;
    none[1].path = folder.root.path() + QStringLiteral("/missing/send.txt");
    AppendOutcome outcome = appendRecord(none, folder.settings);
    QVERIFY(!outcome.ok());
    QVERIFY(outcome.written.isEmpty());
    QVERIFY(outcome.journalEntry.isEmpty());
    QVERIFY(folder.entries().isEmpty());

    // The master file took it, the send file is at the size limit: the entry stays until
    // the retry.
    const QByteArray full(2000, 'x');
    writeAll(files[1].path, full);
    SKIP_WITHOUT_FILE_SIZE_LIMIT();
    {
        FileSizeLimit limit(full.size());
        outcome = appendRecord(files, folder.settings);
    }
    QCOMPARE(outcome.written, QStringList{QStringLiteral("masterFile")});
    QVERIFY(!outcome.journalEntry.isEmpty());
    QCOMPARE(folder.entries().size(), 1);
    QList<FileAppend> rest = files.mid(1);
    rest[0].journalEntry = outcome.journalEntry;
    outcome = appendRecord(rest, folder.settings);
    QVERIFY2(outcome.ok(), qPrintable(outcome.reason));
    QVERIFY(folder.entries().isEmpty());
    QCOMPARE(readAll(files[0].path), QByteArray("Mr\r\n"));
    QCOMPARE(readAll(files[1].path), full + "Sr\r\n");
}

void TestRecordProtocol::finishesTheJournalAtStartUp_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QByteArray>("master"); // after start-up
    QTest::addColumn<QByteArray>("send");
    QTest::addColumn<QString>("told"); // a part of the message; empty: nothing told
    QTest::addColumn<int>("entriesLeft");
    const QByteArray m = "old\r\nMrec\r\n";
    const QByteArray s = "Srec\r\n";
    QTest::newRow("in no file") << "none" << m << s << "now added to masterFile, send" << 0;
    QTest::newRow("in the master file only")
        << "master" << m << s << "now added to send (it was already in masterFile)" << 0;
    QTest::newRow("in both") << "both" << m << s << "" << 0;
    QTest::newRow("same record before the size seen")
        << "earlier copy" << QByteArray("Mrec\r\nMrec\r\n") << s << "now added to masterFile, send" << 0;
    QTest::newRow("record folder gone") << "gone" << QByteArray() << QByteArray() << "could not be finished" << 1;
    QTest::newRow("damaged") << "damaged" << QByteArray("old\r\n") << QByteArray() << "(damaged)" << 1;
    QTest::newRow("another version") << "version" << QByteArray("old\r\n") << QByteArray()
                                     << "(from another version of the tutor)" << 1;
    QTest::newRow("cut short while written") << "part" << QByteArray("old\r\n") << QByteArray() << "" << 0;
}

void TestRecordProtocol::finishesTheJournalAtStartUp()
{
    QFETCH(QString, state);
    QFETCH(QByteArray, master);
    QFETCH(QByteArray, send);
    QFETCH(QString, told);
    QFETCH(int, entriesLeft);
    Folder folder;
    const QString masterPath = folder.path(QStringLiteral("master.txt"));
    const QString sendPath = folder.path(QStringLiteral("send.txt"));
    const QByteArray old = state == QLatin1String("earlier copy") ? "Mrec\r\n" : "old\r\n";
    writeAll(masterPath, old);
    QList<journal::File> entry{{QStringLiteral("masterFile"), masterPath, old.size(), "Mrec\r\n"},
                               {QStringLiteral("send"), sendPath, 0, "Srec\r\n"}};
    if (state == QLatin1String("master") || state == QLatin1String("both"))
        writeAll(masterPath, old + "Mrec\r\n");
    if (state == QLatin1String("both"))
        writeAll(sendPath, "Srec\r\n");
    if (state == QLatin1String("gone")) {
        QVERIFY(QDir(folder.records).removeRecursively());
    }
    QByteArray bytes = journal::encode(entry);
    if (state == QLatin1String("damaged"))
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x20);
    if (state == QLatin1String("version"))
        bytes[7] = 9;
    QVERIFY(QDir().mkpath(folder.journal));
    const QString name =
        state == QLatin1String("part") ? QStringLiteral("/1-1-1.part") : QStringLiteral("/1-1-1.entry");
    writeAll(folder.journal + name, state == QLatin1String("part") ? bytes.left(10) : bytes);

    const auto message = finishJournal(folder.settings);

    QCOMPARE(message.value_or(QString()).contains(told), true);
    QCOMPARE(message.has_value(), !told.isEmpty());
    QCOMPARE(readAll(masterPath), master);
    QCOMPARE(readAll(sendPath), send);
    QCOMPARE(folder.entries().size(), entriesLeft);
    QVERIFY(!QFileInfo::exists(folder.lockPath()));
    // Told once: what was finished or set aside is not told again.
    if (state != QLatin1String("gone"))
        QVERIFY(!finishJournal(folder.settings));
}

QTEST_GUILESS_MAIN(TestRecordProtocol)
#include "tst_record_protocol.moc"
