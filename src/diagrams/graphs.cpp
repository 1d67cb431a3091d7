#include "diagrams/descriptions.h"
#include "diagrams/palette.h"
#include "widgets/picture_box.h"
#include "window/main_window.h"

// The three graph diagrams share one frame: origin at (100, 900), grid steps of 100 units.
// Every step keeps the order in which the diagram is built, since later strokes cover
// earlier ones where they cross (the red run of graph2 lies on the time axis).

void MainWindow::printAt(double x, double y, const QString& text)
{
    Picture1->setCurrentX(x);
    Picture1->setCurrentY(y);
    Picture1->print(text);
}

void MainWindow::printLabels(std::initializer_list<Label> labels)
{
    for (const Label& label : labels)
        printAt(label.x, label.y, QLatin1String(label.text));
}

void MainWindow::graph1()
{
    PictureBox& p = *Picture1;
    p.describe(diagram::graphDescription(1));
    printAt(300, 50, QStringLiteral("velocity v vs. clock time t"));
    p.line(0, 900, 900, 900);
    p.line(100, 1000, 100, 100);
    printAt(900, 950, QStringLiteral("t"));
    printAt(900, 870, QStringLiteral(">"));
    printAt(90, 100, QStringLiteral("^"));
    printAt(50, 100, QStringLiteral("v"));
    p.line(100, 900, 700, 500);
    printLabels({{50, 500, "4"}, {50, 600, "3"}, {50, 700, "2"}, {50, 800, "1"}});
    for (int y = 500; y <= 800; y += 100)
        p.line(100, y, 900, y);
    printLabels({{200, 950, "1"}, {300, 950, "2"}, {400, 950, "3"}, {500, 950, "4"}, {600, 950, "5"}, {700, 950, "6"}});
    for (int x = 200; x <= 700; x += 100)
        p.line(x, 900, x, 100);
    // A cross on the point t = 3, v = 2.
    p.line(370, 670, 430, 730);
    p.line(430, 670, 370, 730);
}

void MainWindow::graph2()
{
    PictureBox& p = *Picture1;
    p.describe(diagram::graphDescription(2));
    p.filledBox(0, 0, 1000, 1000, diagram::kWhite);
    printLabels({{10, 400, "5500"},
                 {10, 500, "5400"},
                 {10, 600, "5300"},
                 {10, 700, "5200"},
                 {10, 800, "5100"},
                 {10, 900, "5000"}});
    for (int y = 400; y <= 800; y += 100)
        p.line(100, y, 900, y);
    // The two-digit months stand 10 units left of their grid lines.
    printLabels(
        {{200, 950, "2"}, {300, 950, "4"}, {400, 950, "6"}, {500, 950, "8"}, {590, 950, "10"}, {690, 950, "12"}});
    for (int x = 200; x <= 700; x += 100)
        p.line(x, 900, x, 100);
    printAt(300, 50, QStringLiteral("Value y (dollars) vs. clock time t (months)"));
    p.line(0, 900, 900, 900);
    p.line(100, 100, 100, 900);

    p.line(250, 900, 450, 600);
    p.line(250, 900, 450, 900, diagram::kRed);
    printAt(300, 850, QStringLiteral("run 4"));
    p.line(450, 900, 450, 600, diagram::kRed);
    printAt(470, 750, QStringLiteral("rise 300"));
    printAt(250, 650, QStringLiteral("slope 75"));

    p.line(450, 600, 700, 400);
    p.line(450, 600, 700, 600, diagram::kRed);
    printAt(550, 550, QStringLiteral("run 5"));
    p.line(700, 600, 700, 400, diagram::kRed);
    printAt(720, 500, QStringLiteral("rise 200"));
    printAt(430, 450, QStringLiteral("slope 40"));

    printAt(900, 950, QStringLiteral("t"));
    printAt(900, 870, QStringLiteral(">"));
    printAt(90, 100, QStringLiteral("^"));
    printAt(50, 100, QStringLiteral("y"));
}

void MainWindow::graph3()
{
    PictureBox& p = *Picture1;
    p.describe(diagram::graphDescription(3));
    p.filledBox(0, 0, 1000, 1000, diagram::kWhite);
    printLabels({{10, 400, "100"}, {10, 500, "80"}, {10, 600, "60"}, {10, 700, "40"}, {10, 800, "20"}});
    for (int y = 400; y <= 800; y += 100)
        p.line(100, y, 900, y);
    // The three-digit label stands 10 units left of its grid line.
    printLabels({{200, 950, "20"}, {300, 950, "40"}, {400, 950, "60"}, {500, 950, "80"}, {590, 950, "100"}});
    for (int x = 200; x <= 700; x += 100)
        p.line(x, 900, x, 100);
    printAt(300, 50, QStringLiteral("Depth y (dollars) vs. clock time t (seconds)"));
    p.line(0, 900, 900, 900);
    p.line(100, 900, 100, 100);

    p.line(150, 500, 300, 700);
    p.line(150, 500, 300, 500, diagram::kRed);
    printAt(180, 440, QStringLiteral("run 30"));
    p.line(300, 500, 300, 700, diagram::kRed);
    printAt(320, 550, QStringLiteral("rise -40"));
    printAt(110, 650, QStringLiteral("slope -1.33"));

    p.line(300, 700, 550, 800);
    p.line(300, 700, 550, 700, diagram::kGreen);
    printAt(430, 640, QStringLiteral("run 50"));
    p.line(550, 700, 550, 800, diagram::kGreen);
    printAt(570, 750, QStringLiteral("rise -20"));
    printAt(300, 750, QStringLiteral("slope -.4"));

    printAt(900, 950, QStringLiteral("t"));
    printAt(900, 870, QStringLiteral(">"));
    printAt(90, 100, QStringLiteral("^"));
    printAt(50, 100, QStringLiteral("y"));
}
