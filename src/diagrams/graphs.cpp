#include "diagrams/graphs.h"

#include <QLineF>

#include "diagrams/descriptions.h"
#include "diagrams/labels.h"
#include "diagrams/palette.h"
#include "widgets/picture_box.h"

// The three graph diagrams share one frame: origin at (100, 900), grid steps of 100 units.
// Every step keeps the order in which the diagram is built, since later strokes cover
// earlier ones where they cross (the red run of graph2 lies on the time axis).

namespace diagram {

namespace {

// One straight piece of a slope graph with its run and rise drawn in colour and labelled.
struct DrawnSegment {
    QPointF from;
    QPointF to;
    QColor colour;
    Label run;
    Label rise;
    Label slope;
};

// graph2 and graph3: a white ground, value labels and grid, time labels and grid, a title,
// the axes, two segments, and the axes' arrows and names.
struct SlopeGraph {
    int number; // which graph, for its description
    std::initializer_list<Label> values;
    std::initializer_list<Label> times;
    const char* title;
    QLineF valueAxis; // drawn in the direction given
    DrawnSegment first;
    DrawnSegment second;
};

void drawSegment(PictureBox& p, const DrawnSegment& s)
{
    p.line(s.from.x(), s.from.y(), s.to.x(), s.to.y());
    p.line(s.from.x(), s.from.y(), s.to.x(), s.from.y(), s.colour);
    printLabels(p, {s.run});
    p.line(s.to.x(), s.from.y(), s.to.x(), s.to.y(), s.colour);
    printLabels(p, {s.rise, s.slope});
}

void drawSlopeGraph(PictureBox& p, const SlopeGraph& g)
{
    p.describe(graphDescription(g.number));
    p.filledBox(0, 0, 1000, 1000, kWhite);
    printLabels(p, g.values);
    for (int y = 400; y <= 800; y += 100)
        p.line(100, y, 900, y);
    printLabels(p, g.times);
    for (int x = 200; x <= 700; x += 100)
        p.line(x, 900, x, 100);
    printAt(p, 300, 50, QLatin1String(g.title));
    p.line(0, 900, 900, 900);
    p.line(g.valueAxis.x1(), g.valueAxis.y1(), g.valueAxis.x2(), g.valueAxis.y2());
    drawSegment(p, g.first);
    drawSegment(p, g.second);
    printLabels(p, {{900, 950, "t"}, {900, 870, ">"}, {90, 100, "^"}, {50, 100, "y"}});
}

} // namespace

void graph1(PictureBox& p)
{
    p.describe(graphDescription(1));
    printAt(p, 300, 50, QStringLiteral("velocity v vs. clock time t"));
    p.line(0, 900, 900, 900);
    p.line(100, 1000, 100, 100);
    printLabels(p, {{900, 950, "t"}, {900, 870, ">"}, {90, 100, "^"}, {50, 100, "v"}});
    p.line(100, 900, 700, 500);
    printLabels(p, {{50, 500, "4"}, {50, 600, "3"}, {50, 700, "2"}, {50, 800, "1"}});
    for (int y = 500; y <= 800; y += 100)
        p.line(100, y, 900, y);
    printLabels(p,
                {{200, 950, "1"}, {300, 950, "2"}, {400, 950, "3"}, {500, 950, "4"}, {600, 950, "5"}, {700, 950, "6"}});
    for (int x = 200; x <= 700; x += 100)
        p.line(x, 900, x, 100);
    // A cross on the point t = 3, v = 2.
    p.line(370, 670, 430, 730);
    p.line(430, 670, 370, 730);
}

void graph2(PictureBox& p)
{
    drawSlopeGraph(
        p, {2,
            {{10, 400, "5500"},
             {10, 500, "5400"},
             {10, 600, "5300"},
             {10, 700, "5200"},
             {10, 800, "5100"},
             {10, 900, "5000"}},
            // The two-digit months stand 10 units left of their grid lines.
            {{200, 950, "2"}, {300, 950, "4"}, {400, 950, "6"}, {500, 950, "8"}, {590, 950, "10"}, {690, 950, "12"}},
            "Value y (dollars) vs. clock time t (months)",
            QLineF(100, 100, 100, 900),
            {{250, 900}, {450, 600}, kRed, {300, 850, "run 4"}, {470, 750, "rise 300"}, {250, 650, "slope 75"}},
            {{450, 600}, {700, 400}, kRed, {550, 550, "run 5"}, {720, 500, "rise 200"}, {430, 450, "slope 40"}}});
}

void graph3(PictureBox& p)
{
    drawSlopeGraph(
        p, {3,
            {{10, 400, "100"}, {10, 500, "80"}, {10, 600, "60"}, {10, 700, "40"}, {10, 800, "20"}},
            // The three-digit label stands 10 units left of its grid line.
            {{200, 950, "20"}, {300, 950, "40"}, {400, 950, "60"}, {500, 950, "80"}, {590, 950, "100"}},
            "Depth y (dollars) vs. clock time t (seconds)",
            QLineF(100, 900, 100, 100),
            {{150, 500}, {300, 700}, kRed, {180, 440, "run 30"}, {320, 550, "rise -40"}, {110, 650, "slope -1.33"}},
            {{300, 700}, {550, 800}, kGreen, {430, 640, "run 50"}, {570, 750, "rise -20"}, {300, 750, "slope -.4"}}});
}

} // namespace diagram
