#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "platform/random_source.h"
#include "support/tutor_fixture.h"
#include "widgets/picture_box.h"

namespace {

// What the first n ticks draw in a fresh window: circles about the middle with radius
// r x 500, r taken in turn from the window's generator (seeded with 0 before start-up),
// after the six draws of a circle diagram if one came first.
QImage ticksDrawn(int n, bool afterVenn = false)
{
    Tutor tutor;
    MainWindow& w = tutor.create();
    RandomSource random(0.0);
    if (afterVenn) {
        w.venn1();
        for (int i = 0; i < 6; ++i)
            random.next();
    }
    for (int i = 0; i < n; ++i)
        ui(w).Picture1->circle(500, 500, double(random.next()) * 500.0);
    return ui(w).Picture1->drawing();
}

QTimer* pendulumTimer(Tutor& tutor)
{
    return tutor.window->findChild<QTimer*>(QStringLiteral("tmr_pend_exp"));
}

void click(Tutor& tutor, const char* button)
{
    QTest::mouseClick(tutor.control<QPushButton>(button), Qt::LeftButton);
}

} // namespace

class TestPendulum : public QObject {
    Q_OBJECT
private slots:
    void nothingUntilPendExp_data();
    void nothingUntilPendExp();
    void eachTickBeepsAndDrawsTheNextCircle_data();
    void eachTickBeepsAndDrawsTheNextCircle();
    void furtherClicksKeepTheRhythm();
    void onlyTheEndStopsIt();
};

void TestPendulum::nothingUntilPendExp_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("no click") << QString();
    QTest::newRow("Trigger Timer") << QStringLiteral("cmd_timerTrigger");
    QTest::newRow("next picture") << QStringLiteral("cmd_next_picture");
    QTest::newRow("copy picture") << QStringLiteral("cmd_copy_picture");
}

void TestPendulum::nothingUntilPendExp()
{
    QFETCH(QString, button);
    Tutor tutor;
    MainWindow& w = tutor.create();
    QTimer* timer = pendulumTimer(tutor);
    QCOMPARE(timer->interval(), 15);
    if (!button.isEmpty())
        click(tutor, button.toLatin1().constData());
    QVERIFY(!timer->isActive());
    QSignalSpy ticks(timer, &QTimer::timeout);
    QVERIFY(!ticks.wait(100));
    QCOMPARE(tutor.sound.beeps, 0);
    QCOMPARE(ui(w).Picture1->drawing(), ticksDrawn(0));
}

void TestPendulum::eachTickBeepsAndDrawsTheNextCircle_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<bool>("afterVenn");
    QTest::newRow("first tick") << 1 << false;
    QTest::newRow("third tick") << 3 << false;
    QTest::newRow("twentieth tick") << 20 << false;
    QTest::newRow("after a circle diagram: the run's one generator goes on") << 2 << true;
}

void TestPendulum::eachTickBeepsAndDrawsTheNextCircle()
{
    QFETCH(int, ticks);
    QFETCH(bool, afterVenn);
    Tutor tutor;
    MainWindow& w = tutor.create();
    if (afterVenn)
        w.venn1();
    QSignalSpy timeouts(pendulumTimer(tutor), &QTimer::timeout);
    click(tutor, "cmd_pend_exp");
    QCOMPARE(tutor.sound.beeps, 0); // the first tick comes one interval after the click
    QTRY_VERIFY_WITH_TIMEOUT(tutor.sound.beeps >= ticks, 10000);

    // Nothing runs between the checks below, so the count of beeps is the count of ticks.
    const int done = tutor.sound.beeps;
    QCOMPARE(timeouts.count(), done);
    QCOMPARE(ui(w).Picture1->drawing(), ticksDrawn(done, afterVenn));
    QVERIFY(!w.hasEnded());
}

void TestPendulum::furtherClicksKeepTheRhythm()
{
    Tutor tutor;
    tutor.create();
    click(tutor, "cmd_pend_exp");
    // Clicks far more often than the interval: were each click to restart the timer, no
    // tick would ever come.
    QTimer clicker;
    clicker.setTimerType(Qt::PreciseTimer);
    clicker.setInterval(3);
    connect(&clicker, &QTimer::timeout, [&tutor] { tutor.control<QPushButton>("cmd_pend_exp")->click(); });
    clicker.start();
    QTRY_VERIFY_WITH_TIMEOUT(tutor.sound.beeps >= 5, 10000);
    QVERIFY(pendulumTimer(tutor)->isActive());
}

void TestPendulum::onlyTheEndStopsIt()
{
    Tutor tutor;
    MainWindow& w = tutor.create();
    click(tutor, "cmd_pend_exp");
    QTRY_VERIFY_WITH_TIMEOUT(tutor.sound.beeps >= 2, 10000);

    // The question flow and the diagrams go on beside it.
    w.graph2();
    const int before = tutor.sound.beeps;
    QTRY_VERIFY_WITH_TIMEOUT(tutor.sound.beeps > before, 10000);

    w.runRoutine(QStringLiteral("no such routine"));
    QVERIFY(w.hasEnded());
    const int atTheEnd = tutor.sound.beeps;
    const QImage drawing = ui(w).Picture1->drawing();
    tutor.control<QPushButton>("cmd_pend_exp")->click();
    QVERIFY(!pendulumTimer(tutor)->isActive());
    QSignalSpy ticks(pendulumTimer(tutor), &QTimer::timeout);
    QVERIFY(!ticks.wait(100));
    QCOMPARE(tutor.sound.beeps, atTheEnd);
    QCOMPARE(ui(w).Picture1->drawing(), drawing);
    QCOMPARE(tutor.ends, 1);
}

QTEST_MAIN(TestPendulum)
#include "tst_pendulum.moc"
