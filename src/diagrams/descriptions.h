#pragma once

#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QString>

#include <optional>

// What each diagram shows, in words, for screen readers: worked out from the figures the
// diagram is drawn with (user units of the 1000 × 1000 scale), not written by hand.
namespace diagram {

// A graph's frame: the origin at (100, 900), one grid step every 100 units.
struct GraphFrame {
    QString title;
    QString time;         // what runs across, as its label reads: "t"
    QString value;        // what runs up: "v", "y"
    double timeStep = 1;  // per 100 units across
    double valueStep = 1; // per 100 units up
    double valueAtAxis = 0;
};

// A straight stretch of the graph, from one end to the other, in user units.
struct Segment {
    QPointF from;
    QPointF to;
};

QString describeGraph(const GraphFrame& frame, const QList<Segment>& segments,
                      std::optional<QPointF> marked = std::nullopt);
// graph1 to graph3, as they are drawn.
QString graphDescription(int graph);
// The title a graph's description begins with.
QString graphTitle(int graph);

// The region of the two circles a point lies in: "I" inside both, "II" the left only,
// "III" the right only, "IV" outside both. The circles are round on screen, so the box's
// shape in pixels decides how far they reach up and down in user units.
QString vennRegion(QPointF at, QSizeF boxPixels);
// venn1 to venn3, as they are drawn into a box of that size.
QString vennDescription(int venn, QSizeF boxPixels);

// A figure as a person reads it: whole numbers without a point, others to two places.
QString figure(double value);

} // namespace diagram
