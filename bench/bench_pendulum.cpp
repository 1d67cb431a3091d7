// How long one tick of the pendulum experiment takes: the tick's own work (beep counted,
// one random value, one circle into the kept drawing) and the same followed by the repaint
// of what it touched, in the real window on the offscreen platform.
//   bench_pendulum [TICKS]   (default 2000)

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <vector>

#include "platform/clock.h"
#include "platform/picture_box.h"
#include "platform/prompter.h"
#include "platform/sound.h"
#include "window/main_window.h"

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

void report(const char* what, std::vector<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    const double mean = double(std::accumulate(ns.begin(), ns.end(), qint64(0))) / double(ns.size());
    auto at = [&ns](double q) { return double(ns[std::size_t(q * double(ns.size() - 1))]) / 1000.0; };
    std::printf("%-28s median %8.1f us   mean %8.1f us   p95 %8.1f us   max %8.1f us   (%zu ticks)\n", what, at(0.5),
                mean / 1000.0, at(0.95), at(1.0), ns.size());
}

std::vector<qint64> timeEach(int n, const std::function<void()>& step)
{
    std::vector<qint64> ns;
    ns.reserve(std::size_t(n));
    QElapsedTimer clock;
    for (int i = 0; i < n; ++i) {
        clock.start();
        step();
        ns.push_back(clock.nsecsElapsed());
    }
    return ns;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 2000;

    QTemporaryDir drives;
    ScriptedPrompter prompter;
    SettableClock clock(QDateTime(QDate(2026, 12, 8), QTime(10, 15, 30)));
    CountingSound sound;
    TutorServices services;
    services.prompter = &prompter;
    services.clock = &clock;
    services.sound = &sound;
    services.drivesRoot = drives.path();
    MainWindow window(services);
    window.show();
    QCoreApplication::processEvents();

    // The timer's own signal runs exactly what a tick runs, without waiting 15 ms for it.
    QTimer* timer = window.findChild<QTimer*>(QStringLiteral("tmr_pend_exp"));
    auto tick = [timer] { QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection); };
    tick();
    if (sound.beeps != 1) {
        std::fputs("bench_pendulum: the tick did not run\n", stderr);
        return 1;
    }

    std::printf("platform %s, picture box %dx%d\n", qPrintable(QGuiApplication::platformName()),
                window.Picture1->width(), window.Picture1->height());
    for (int warm = 0; warm < 50; ++warm) {
        tick();
        QCoreApplication::processEvents();
    }
    report("tick, drawing only", timeEach(ticks, tick));
    QCoreApplication::processEvents();
    PaintCounter counter;
    window.Picture1->installEventFilter(&counter);
    report("tick, drawing and repaint", timeEach(ticks, [&] {
               tick();
               QCoreApplication::processEvents();
           }));
    window.Picture1->removeEventFilter(&counter);
    if (counter.paints < ticks) {
        std::fprintf(stderr, "bench_pendulum: only %d repaints for %d ticks\n", counter.paints, ticks);
        return 1;
    }
    report("whole box repaint", timeEach(ticks, [&] { window.Picture1->repaint(); }));
    return 0;
}
