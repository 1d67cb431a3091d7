#include "diagrams/descriptions.h"
#include "diagrams/palette.h"
#include "platform/runtime_text.h"
#include "widgets/picture_box.h"
#include "window/main_window.h"

// Two overlapping sets: circles of radius 300 about (325, 500) and (675, 500). Each circle
// takes a fresh colour from the shared generator on every drawing.

namespace {
// 100..255: light enough that the black labels stay readable on any circle.
int lightComponent(float r)
{
    return int(rt::roundHalfEven(double(r) * 155.0 + 100.0));
}
} // namespace

QColor MainWindow::randomColour()
{
    const int red = lightComponent(session_.random().next());
    const int green = lightComponent(session_.random().next());
    const int blue = lightComponent(session_.random().next());
    return {red, green, blue};
}

void MainWindow::drawVennCircles()
{
    Picture1->describe(diagram::vennDescription(1, Picture1->innerRect().size()));
    // The second colour is drawn only after the first circle is on the picture.
    Picture1->circle(325, 500, 300, randomColour());
    Picture1->circle(675, 500, 300, randomColour());
    printLabels({{500, 500, "I"}, {200, 500, "II"}, {800, 500, "III"}, {30, 30, "IV"}});
}

void MainWindow::venn1()
{
    drawVennCircles();
}

void MainWindow::venn2()
{
    drawVennCircles();
    printLabels({{400, 400, "a"},
                 {570, 570, "c"},
                 {520, 250, "f"},
                 {240, 260, "b"},
                 {300, 600, "d"},
                 {200, 680, "e"},
                 {700, 440, "g"},
                 {800, 620, "k"}});
    Picture1->describe(diagram::vennDescription(2, Picture1->innerRect().size()));
}

void MainWindow::venn3()
{
    Picture1->filledBox(0, 0, 1000, 1000, diagram::kWhite);
    drawVennCircles();
    printLabels({{200, 950, "Total 1st Circle 20"},
                 {700, 950, "Total 2d Circle 15"},
                 {530, 700, "8"},
                 {250, 290, "12"},
                 {700, 340, "7"},
                 {10, 150, "8"}});
    Picture1->describe(diagram::vennDescription(3, Picture1->innerRect().size()));
}
