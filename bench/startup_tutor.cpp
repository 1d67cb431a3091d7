// Child of bench_startup: the tutor's start-up on scripted prompts, from process start to
// the window's first paint and then to the session header in the files (written after that
// paint, as the program does), then out. Prints the monotonic clock at each stage, in ns.
//   startup_tutor --drives DIR

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

#include "bench_support.h"
#include "startup_probe.h"

int main(int argc, char** argv)
{
    bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    const long long appReady = bench::monotonicNs();
    const QStringList args = QCoreApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--drives"));
    if (at < 0 || at + 1 >= args.size()) {
        std::fputs("usage: startup_tutor --drives DIR\n", stderr);
        return 2;
    }

    bench::Tutor tutor(args[at + 1], true);
    const QString master = testfiles::homePath(args[at + 1], QStringLiteral("masterFile.txt"));
    const qint64 before = QFileInfo(master).size();
    const long long built = bench::monotonicNs();
    if (!tutor.start())
        return 1;
    const long long loaded = bench::monotonicNs();
    bench::FirstPaint painted;
    tutor.window->installEventFilter(&painted);
    tutor.window->show();
    QApplication::exec();
    QElapsedTimer waited;
    waited.start();
    while (QFileInfo(master).size() <= before && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const long long flushed = bench::monotonicNs();
    if (QFileInfo(master).size() <= before) {
        std::fputs("startup_tutor: no session header within 10 s of the first paint\n", stderr);
        return 1;
    }
    std::printf("app %lld built %lld loaded %lld shown %lld private %lld flushed %lld\n", appReady, built, loaded,
                painted.at, painted.kb, flushed);
    return 0;
}
