// Child of bench_startup: the least a Qt program can do to show a window of the tutor's
// size, timed the same way as startup_tutor. With --text the window shows one label, which
// is the least a window with any text in it costs (the font database is read).
//   startup_bare [--text]

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include "startup_probe.h"


int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long long appReady = bench::monotonicNs();
    QWidget window;
    window.resize(725, 573);
    if (QCoreApplication::arguments().contains(QStringLiteral("--text")))
        new QLabel(QStringLiteral("Class Notes Tutor"), &window);
    bench::FirstPaint painted;
    window.installEventFilter(&painted);
    window.show();
    QApplication::exec();
    std::printf("app %lld built %lld loaded %lld shown %lld private %lld\n", appReady, appReady, appReady, painted.at,
                painted.kb);
    return 0;
}
