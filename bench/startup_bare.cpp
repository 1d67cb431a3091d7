// Child of bench_startup: the least a Qt program can do to show a window of the tutor's
// size, timed the same way as startup_tutor. With --text the window shows one label, which
// is the least a window with any text in it costs (the font database is read).
//   startup_bare [--text]

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

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
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long long appReady = monotonicNs();
    QWidget window;
    window.resize(725, 573);
    if (QCoreApplication::arguments().contains(QStringLiteral("--text")))
        new QLabel(QStringLiteral("Class Notes Tutor"), &window);
    FirstPaint painted;
    window.installEventFilter(&painted);
    window.show();
    QApplication::exec();
    std::printf("app %lld built %lld loaded %lld shown %lld private %lld\n", appReady, appReady, appReady, painted.at,
                painted.kb);
    return 0;
}
