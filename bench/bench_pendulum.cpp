// What the pendulum experiment costs, in the real window on the offscreen platform.
// CPU per second of running: the process's user + system time over a few seconds of the
// real 15 ms timer, against the same window left idle for as long, interleaved.
// Per tick: the tick's own work (beep, one random value, one circle into the kept drawing),
// and the same followed by the repaint of what it touched.
//   bench_pendulum [TICKS] [SECONDS]   (defaults 2000 ticks, 4 seconds of each)

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <numeric>

#include <sys/resource.h>

#include "bench_support.h"
#include "widgets/command_button.h"
#include "widgets/picture_box.h"

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

std::vector<double> timeEach(int n, const std::function<void()>& step)
{
    std::vector<double> us;
    us.reserve(std::size_t(n));
    QElapsedTimer clock;
    for (int i = 0; i < n; ++i) {
        clock.start();
        step();
        us.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    return us;
}

void detail(const char* what, const std::vector<double>& us)
{
    const double mean = std::accumulate(us.begin(), us.end(), 0.0) / double(us.size());
    std::fprintf(stderr, "bench_pendulum %-26s median %7.1f us   mean %7.1f us   p99 %7.1f us   max %7.1f us   (%zu)\n",
                 what, bench::median(us), mean, bench::quantile(us, 0.99), bench::quantile(us, 1.0), us.size());
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Share of one core that the process used while its event loop ran for `ms`.
double coreShare(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    loop.exec();
    return (cpuSeconds() - before) / (double(wall.nsecsElapsed()) / 1e9);
}

QString percent(double share)
{
    return QString::number(share * 100.0, 'f', 2) + QStringLiteral(" %");
}

QString us(double value)
{
    return QString::number(value, 'f', 1) + QStringLiteral(" µs");
}

} // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 2000;
    const double seconds = argc > 2 ? std::max(1.0, QByteArray(argv[2]).toDouble()) : 4.0;

    bench::Drives drives;
    bench::Tutor tutor(drives.root.path());
    if (!tutor.start())
        return 1;
    MainWindow& window = *tutor.window;
    window.show();
    QCoreApplication::processEvents();
    QTimer* timer = ui(window).tmr_pend_exp;
    int fired = 0;
    QObject::connect(timer, &QTimer::timeout, [&fired] { ++fired; });

    // Running against idle, in rounds, so that a busy moment of the machine falls on both.
    ui(window).cmd_pend_exp->click();
    if (!timer->isActive()) {
        std::fputs("bench_pendulum: pend exp did not start the timer\n", stderr);
        return 1;
    }
    const int rounds = 4;
    const int roundMs = int(seconds * 1000.0 / rounds);
    std::vector<double> running;
    std::vector<double> idle;
    int runningTicks = 0;
    for (int round = 0; round < rounds; ++round) {
        timer->start();
        const int before = fired;
        running.push_back(coreShare(roundMs));
        runningTicks += fired - before;
        timer->stop();
        idle.push_back(coreShare(roundMs));
    }
    if (runningTicks == 0) {
        std::fputs("bench_pendulum: the timer never ticked\n", stderr);
        return 1;
    }
    const double ticksPerSecond = runningTicks / (rounds * roundMs / 1000.0);
    const double run = std::accumulate(running.begin(), running.end(), 0.0) / rounds;
    const double rest = std::accumulate(idle.begin(), idle.end(), 0.0) / rounds;
    std::fprintf(stderr, "bench_pendulum running %.2f %% of one core (%.1f ticks a second), idle %.2f %%\n",
                 run * 100.0, ticksPerSecond, rest * 100.0);

    // The timer's own signal runs exactly what a tick runs, without waiting 15 ms for it.
    auto tick = [timer] { QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection); };
    for (int warm = 0; warm < 50; ++warm) {
        tick();
        QCoreApplication::processEvents();
    }
    const std::vector<double> drawing = timeEach(ticks, tick);
    QCoreApplication::processEvents();
    PaintCounter counter;
    ui(window).Picture1->installEventFilter(&counter);
    const std::vector<double> withRepaint = timeEach(ticks, [&] {
        tick();
        QCoreApplication::processEvents();
    });
    ui(window).Picture1->removeEventFilter(&counter);
    if (counter.paints < ticks) {
        std::fprintf(stderr, "bench_pendulum: only %d repaints for %d ticks\n", counter.paints, ticks);
        return 1;
    }
    const std::vector<double> wholeBox = timeEach(ticks, [&] { ui(window).Picture1->repaint(); });
    detail("tick, drawing only", drawing);
    detail("tick, drawing and repaint", withRepaint);
    detail("whole box repaint", wholeBox);

    bench::row(QStringLiteral("Pendulum running, CPU per second (real 15 ms timer, %1 ticks/s, %2 s)")
                   .arg(ticksPerSecond, 0, 'f', 1)
                   .arg(rounds * roundMs / 1000.0),
               percent(run) + QStringLiteral(" of one core"), QStringLiteral("idle window ") + percent(rest),
               QStringLiteral("+") + percent(run - rest), QStringLiteral("< 5 %"), run < 0.05);
    bench::row(QStringLiteral("Pendulum tick, draw + repaint, median of %1").arg(ticks), us(bench::median(withRepaint)),
               QStringLiteral("draw only ") + us(bench::median(drawing)) + QStringLiteral(", whole box repaint ") +
                   us(bench::median(wholeBox)),
               QStringLiteral("—"), QStringLiteral("—"), std::nullopt);
    return 0;
}
