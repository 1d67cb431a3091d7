// Child of bench_startup: the tutor's start-up on scripted prompts, from process start to
// the window's first paint, then out. Prints the monotonic clock at each stage, in ns.
//   startup_tutor --drives DIR

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <ctime>

#include "bench_support.h"

namespace {

// Resident memory of the process's own (not file-backed) pages, in kB.
long long privateKb()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    long long kb = 0;
    char line[256];
    while (status && std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "RssAnon: %lld", &kb) == 1)
            break;
    }
    if (status)
        std::fclose(status);
    return kb;
}

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Leaves the event loop once the first paint of the window, children included, is done.
class FirstPaint : public QObject {
public:
    long long at = 0;
    long long kb = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && at == 0) {
            at = 1;
            QTimer::singleShot(0, [this] {
                at = monotonicNs();
                kb = privateKb();
                QCoreApplication::quit();
            });
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    const long long appReady = monotonicNs();
    const QStringList args = QCoreApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--drives"));
    if (at < 0 || at + 1 >= args.size()) {
        std::fputs("usage: startup_tutor --drives DIR\n", stderr);
        return 2;
    }

    bench::Tutor tutor(args[at + 1]);
    const long long built = monotonicNs();
    if (!tutor.start())
        return 1;
    const long long loaded = monotonicNs();
    FirstPaint painted;
    tutor.window->installEventFilter(&painted);
    tutor.window->show();
    QApplication::exec();
    std::printf("app %lld built %lld loaded %lld shown %lld private %lld\n", appReady, built, loaded, painted.at,
                painted.kb);
    return 0;
}
