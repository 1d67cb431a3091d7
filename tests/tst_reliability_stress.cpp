#include <QTemporaryDir>
#include <QTest>

#include "reliability/stress_run.h"

// Short versions of `make stress`: real writer processes through the program's own
// record path on one shared folder, then every file checked against what they reported.
class TestReliabilityStress : public QObject {
    Q_OBJECT
private slots:
    void writersAtOnce_data();
    void writersAtOnce();
    void writersKilledAndRestarted_data();
    void writersKilledAndRestarted();
};

namespace {

stress::Options options(const QTemporaryDir& dir, int processes, quint64 seed)
{
    stress::Options o;
    o.writerProgram = QStringLiteral(RECORD_WRITER);
    o.workDir = dir.path();
    o.processes = processes;
    o.seed = seed;
    return o;
}

} // namespace

void TestReliabilityStress::writersAtOnce_data()
{
    QTest::addColumn<int>("processes");
    QTest::addColumn<int>("records");
    QTest::addColumn<quint64>("seed");
    QTest::newRow("three writers, sets 10, 14 and 3") << 3 << 25 << quint64(1);
    QTest::newRow("one writer alone") << 1 << 10 << quint64(2);
}

void TestReliabilityStress::writersAtOnce()
{
    QFETCH(int, processes);
    QFETCH(int, records);
    QFETCH(quint64, seed);
    QTemporaryDir dir;
    stress::Options o = options(dir, processes, seed);
    o.records = records;
    const stress::Outcome outcome = stress::runStress(o);
    qInfo().noquote() << outcome.summary();
    QVERIFY2(outcome.ok(), qPrintable(outcome.summary()));
    QCOMPARE(outcome.reported, processes * records);
    QCOMPARE(outcome.figures.master.records, processes * records);
    QCOMPARE(outcome.figures.send.records, processes * records);
    QCOMPARE(outcome.figures.notes.records, outcome.reportedNotes);
    QCOMPARE(outcome.figures.master.headers, processes);
    QCOMPARE(outcome.figures.send.headers, processes);
}

void TestReliabilityStress::writersKilledAndRestarted_data()
{
    QTest::addColumn<int>("processes");
    QTest::addColumn<int>("rounds");
    QTest::addColumn<quint64>("seed");
    QTest::newRow("two writers, six kills") << 2 << 6 << quint64(3);
    QTest::newRow("three writers, four kills, other moments") << 3 << 4 << quint64(4);
}

void TestReliabilityStress::writersKilledAndRestarted()
{
    QFETCH(int, processes);
    QFETCH(int, rounds);
    QFETCH(quint64, seed);
    QTemporaryDir dir;
    stress::Options o = options(dir, processes, seed);
    o.rounds = rounds;
    const stress::Outcome outcome = stress::runCrash(o);
    qInfo().noquote() << outcome.summary();
    QVERIFY2(outcome.ok(), qPrintable(outcome.summary()));
    // Every round kills one writer and starts it again, but for the last; then the others
    // are killed as well.
    QCOMPARE(outcome.kills, rounds + processes - 1);
    QCOMPARE(outcome.runs, outcome.kills);
    QVERIFY(outcome.figures.master.records >= outcome.reported);
}

QTEST_GUILESS_MAIN(TestReliabilityStress)
#include "tst_reliability_stress.moc"
