// Draws each diagram into the real picture box of a fresh window and saves the box as
// it shows on screen, one PNG per diagram, for the README.
//   render_diagrams OUTPUT_FOLDER

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <functional>

#include "support/tutor_fixture.h"
#include "widgets/picture_box.h"
#include "window/main_window.h"

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: render_diagrams OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists()) {
        std::fprintf(stderr, "render_diagrams: no folder %s\n", argv[1]);
        return 1;
    }

    const std::pair<const char*, std::function<void(MainWindow&)>> diagrams[] = {
        {"graph1", &MainWindow::graph1}, {"graph2", &MainWindow::graph2}, {"graph3", &MainWindow::graph3},
        {"venn1", &MainWindow::venn1},   {"venn2", &MainWindow::venn2},   {"venn3", &MainWindow::venn3},
    };

    QTextStream report(stdout);
    for (const auto& [name, draw] : diagrams) {
        Tutor tutor;
        MainWindow& window = tutor.create();
        draw(window);
        const QString path = out.filePath(QLatin1String(name) + QStringLiteral(".png"));
        if (!ui(window).Picture1->grab().save(path)) {
            std::fprintf(stderr, "render_diagrams: cannot write %s\n", qPrintable(path));
            return 1;
        }
        report << path << '\n';
    }
    return 0;
}
