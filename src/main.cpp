#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QTextStream>
#ifndef _WIN32
#include <QSvgRenderer>
#endif

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/clock.h"
#include "platform/drive_paths.h"
#include "widgets/dialog_prompter.h"
#include "widgets/system_sound.h"
#include "window/main_window.h"

namespace {

// Qt aborts when it cannot open a display; say so plainly instead.
bool displayAvailable(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0)
            return true;
    }
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// Qt gives up with a fatal message when the display named cannot be reached; turn that
// into one plain line and a failing exit instead of an abort. What Qt says before that
// is held back, and passed on if the window can open after all.
QStringList heldBack;

void reportUnreachableDisplay(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtFatalMsg) {
        heldBack << message;
        return;
    }
    const QString cause = heldBack.isEmpty() ? message.section(u'\n', 0, 0) : heldBack.first();
    std::fprintf(stderr, "classnotes-tutor: cannot open a window (%s)\n", qPrintable(cause));
    std::_Exit(2);
}

// The desktop entry, the icon and the AppStream metadata all go by this id, so the desktop
// can match the running window to its entry.
const QString kAppId = QStringLiteral("io.github.classnotestutor.ClassNotesTutor");

// Drawn at the common sizes up front, so small title-bar icons come from a drawing of
// their own size rather than a scaled-down large one. A Windows program carries its icon as
// a resource (IDI_ICON1), which Qt's Windows plugin gives every window by itself.
#ifndef _WIN32
QIcon applicationIcon()
{
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(kAppId));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
#endif

bool wantsOnlyText(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "-v")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (!wantsOnlyText(argc, argv) && !displayAvailable(argc, argv)) {
        std::fputs("classnotes-tutor: no display to open a window on (set DISPLAY, or run it on a desktop)\n", stderr);
        return 2;
    }
    if (wantsOnlyText(argc, argv))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    const QtMessageHandler previous = qInstallMessageHandler(reportUnreachableDisplay);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& message : std::exchange(heldBack, {}))
        std::fprintf(stderr, "%s\n", qPrintable(message));
    QApplication::setApplicationName(QStringLiteral("classnotes-tutor"));
    QApplication::setApplicationVersion(QStringLiteral(TUTOR_VERSION));
    QGuiApplication::setDesktopFileName(kAppId);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Class Notes Tutor: work through one set of physics class notes."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption drives(QStringLiteral("drives"),
                                    QStringLiteral("Folder that stands for the drives C:, I:, ... (default: %1).")
                                        .arg(DrivePaths::defaultRoot().isEmpty()
                                                 ? QStringLiteral("the drives themselves")
                                                 : DrivePaths::defaultRoot()),
                                    QStringLiteral("DIR"));
    parser.addOption(drives);
    parser.process(app);
#ifndef _WIN32
    QApplication::setWindowIcon(applicationIcon());
#endif

    DialogPrompter prompter;
    SystemClock clock;
    SystemSound sound;
    TutorServices services;
    services.prompter = &prompter;
    services.clock = &clock;
    services.sound = &sound;
    services.drivesRoot = parser.isSet(drives) ? parser.value(drives) : DrivePaths::defaultRoot();
    services.leaveEventLoop = [] { QCoreApplication::exit(0); };

    MainWindow window(services);
    window.Form_Load();
    if (window.hasEnded())
        return 0;
    window.show();
    window.activateWindow();
    return QApplication::exec();
}
