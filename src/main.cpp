#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSaveFile>
#include <QTextStream>
#ifndef _WIN32
#include <QSvgRenderer>
#endif

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "content/class_notes_content.h"
#include "content/class_notes_file.h"
#include "platform/clock.h"
#include "platform/drive_paths.h"
#include "session/record_folders.h"
#include "widgets/dialog_prompter.h"
#include "widgets/system_sound.h"
#include "window/main_window.h"
#include "window/window_scale.h"

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

const char kUsage[] = "Usage: classnotes-tutor [--drives DIR] [--write-class-notes FILE] [--help] [--version]";
constexpr int kBadUsage = 1;

// Qt's own options (-platform NAME, -style=NAME, -reverse, ...): QApplication takes them out
// of the command line later, so they are no mistake here. The value says whether one follows.
std::optional<bool> qtOption(QStringView arg)
{
    static const QStringList withValue = QStringLiteral("platform platformpluginpath platformtheme plugin "
                                                        "qwindowgeometry qwindowicon qwindowtitle display geometry "
                                                        "session style stylesheet qmljsdebugger")
                                             .split(u' ');
    static const QStringList alone = QStringLiteral("reverse widgetcount nograb dograb sync").split(u' ');
    if (!arg.startsWith(u'-') || arg.startsWith(QLatin1String("--drives")) ||
        arg.startsWith(QLatin1String("--write-class-notes")))
        return std::nullopt;
    QStringView name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype equals = name.indexOf(u'=');
    if (equals >= 0)
        return withValue.contains(name.first(equals)) ? std::optional<bool>(false) : std::nullopt;
    if (withValue.contains(name))
        return true;
    if (alone.contains(name))
        return false;
    return std::nullopt;
}

// What the command line asks for; when `exitCode` is set, the program prints `text` (to
// standard error when the code is not 0) and ends without opening a window.
struct CommandLine {
    QString drivesRoot;
    std::optional<int> exitCode;
    QString text;
};

QString recordFoldersText(const QString& drivesRoot)
{
    const DrivePaths paths(drivesRoot);
    return QStringLiteral("The record files (masterFile.txt, send_MMDD.txt, notes_.txt) are written to\n"
                          "  %1\n"
                          "for a home user, and for a network user to\n"
                          "  %2\n"
                          "The name typed at start-up goes into no record file: it is kept only in\n"
                          "records.index beside them, so that an instructor can tell whose record is\n"
                          "whose in a shared folder.")
        .arg(QDir::toNativeSeparators(paths.local(folders::kHome)),
             QDir::toNativeSeparators(paths.local(folders::kNetwork)));
}

// The built-in class notes as an instructor's file to start from; the exit code and what to say.
std::pair<int, QString> writeBuiltInClassNotes(const QString& path)
{
    const ClassNotesContent content = readClassNotes(QStringLiteral(":/content/class_notes.json"));
    QSaveFile file(path);
    if (!content.error.isEmpty() || !file.open(QIODevice::WriteOnly) ||
        file.write(classnotesfile::write(content.lines)) < 0 || !file.commit())
        return {kBadUsage,
                QStringLiteral("classnotes-tutor: cannot write %1 (%2)")
                    .arg(QDir::toNativeSeparators(path), content.error.isEmpty() ? file.errorString() : content.error)};
    return {0, QStringLiteral("The built-in class notes (%1 sets, %2 lines) are in %3. Put your own version, named "
                              "%4, in the record folder.")
                   .arg(classnotesfile::setCount(content.lines))
                   .arg(content.lines.size())
                   .arg(QDir::toNativeSeparators(path), classnotesfile::kFileName)};
}

// Read before the window's application exists, so that --help, --version and a mistake in
// the command line need no display.
CommandLine readCommandLine(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (const auto valueFollows = i > 0 ? qtOption(arg) : std::nullopt) {
            i += *valueFollows ? 1 : 0;
            continue;
        }
        arguments << arg;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Class Notes Tutor: work through one set of physics class notes."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show these options and where the record files go."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version."));
    const QCommandLineOption drives(QStringLiteral("drives"),
                                    QStringLiteral("Folder that stands for the drives C:, I:, ... (default: %1).")
                                        .arg(DrivePaths::defaultRoot().isEmpty()
                                                 ? QStringLiteral("the drives themselves")
                                                 : QDir::toNativeSeparators(DrivePaths::defaultRoot())),
                                    QStringLiteral("DIR"));
    const QCommandLineOption writeClassNotes(
        QStringLiteral("write-class-notes"),
        QStringLiteral("Write the built-in class notes to FILE, in the form an instructor's class_notes.txt takes."),
        QStringLiteral("FILE"));
    parser.addOptions({help, version, drives, writeClassNotes});

    CommandLine line;
    auto misuse = [&](const QString& problem) {
        line.exitCode = kBadUsage;
        line.text = QStringLiteral("classnotes-tutor: %1\n%2").arg(problem, QLatin1String(kUsage));
        return line;
    };
    if (!parser.parse(arguments))
        return misuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return misuse(QStringLiteral("unexpected argument '%1'; the tutor takes no files")
                          .arg(parser.positionalArguments().first()));
    line.drivesRoot = parser.isSet(drives) ? parser.value(drives) : DrivePaths::defaultRoot();
    if (parser.isSet(help)) {
        int appArgc = 1;
        const QCoreApplication helpOnly(appArgc, argv); // the help text names the program as it was started
        line.exitCode = 0;
        line.text = parser.helpText() + u'\n' + recordFoldersText(line.drivesRoot);
    } else if (parser.isSet(version)) {
        line.exitCode = 0;
        line.text = QStringLiteral("classnotes-tutor " TUTOR_VERSION);
    } else if (parser.isSet(writeClassNotes)) {
        const auto [code, text] = writeBuiltInClassNotes(parser.value(writeClassNotes));
        line.exitCode = code;
        line.text = text;
    }
    return line;
}

} // namespace

int main(int argc, char** argv)
{
    const CommandLine commandLine = readCommandLine(argc, argv);
    if (commandLine.exitCode) {
#ifdef _WIN32
        // A program of the GUI subsystem has no console to print to.
        QApplication app(argc, argv);
        QMessageBox box(*commandLine.exitCode ? QMessageBox::Warning : QMessageBox::Information,
                        QStringLiteral("Class Notes Tutor"), commandLine.text);
        box.setTextFormat(Qt::PlainText);
        box.exec();
#else
        std::fprintf(*commandLine.exitCode ? stderr : stdout, "%s\n", qPrintable(commandLine.text));
#endif
        return *commandLine.exitCode;
    }
    if (!displayAvailable(argc, argv)) {
        std::fputs("classnotes-tutor: no display to open a window on (set DISPLAY, or run it on a desktop)\n", stderr);
        return 2;
    }

    const QtMessageHandler previous = qInstallMessageHandler(reportUnreachableDisplay);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& message : std::exchange(heldBack, {}))
        std::fprintf(stderr, "%s\n", qPrintable(message));
    QApplication::setApplicationName(QStringLiteral("classnotes-tutor"));
    QApplication::setApplicationVersion(QStringLiteral(TUTOR_VERSION));
    QGuiApplication::setDesktopFileName(kAppId);
#ifndef _WIN32
    QApplication::setWindowIcon(applicationIcon());
#endif

    DialogPrompter prompter;
    SystemClock clock;
    SystemSound sound;
    WindowServices services;
    services.tutor.prompter = &prompter;
    services.tutor.clock = &clock;
    services.tutor.drivesRoot = commandLine.drivesRoot;
    services.tutor.headerAfterFirstPaint = true;
    services.sound = &sound;
    services.leaveEventLoop = [] { QCoreApplication::exit(0); };

    MainWindow window(services);
    window.Form_Load();
    if (window.hasEnded())
        return 0;
    windowscale::showFitting(window);
    return QApplication::exec();
}
