// Shows the tutor's real window, offscreen, and saves it for the README: right after
// start-up, and in the middle of a session with a question, an answer being typed and a graph.
//   render_window OUTPUT_FOLDER

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "support/tutor_fixture.h"
#include "widgets/command_button.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

namespace {

bool save(QWidget& window, const QDir& out, const char* name)
{
    const QString path = out.filePath(QLatin1String(name));
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "render_window: could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: render_window OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));

    Tutor tutor;
    tutor.seed = 7.0;
    MainWindow& window = tutor.start({QStringLiteral("1"), QStringLiteral("Ann Example"), QStringLiteral("3")});
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) || !save(window, out, "window.png"))
        return 1;

    QTest::mouseClick(ui(window).cmdNextQuestion, Qt::LeftButton);
    ui(window).txt_answer->setText(QStringLiteral("The slope is rise / run = 12 m / 4 s = 3 m/s, the object's average "
                                                  "velocity over that interval."));
    QTest::mouseClick(ui(window).cmd_enter_response, Qt::LeftButton);
    QTest::mouseClick(ui(window).cmdNextQuestion, Qt::LeftButton);
    ui(window).txt_answer->setText(QStringLiteral("I had the rise and the run the wrong way round at first."));
    window.graph1();
    QApplication::processEvents();
    return save(window, out, "window-mid-session.png") ? 0 : 1;
}
