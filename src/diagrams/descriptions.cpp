#include "descriptions.h"

#include "diagrams/venn.h"

#include <QStringList>

#include <cmath>

namespace diagram {

namespace {

constexpr double kOriginX = 100;
constexpr double kOriginY = 900;
constexpr double kGridStep = 100;

struct Point {
    double time;
    double value;
};

Point inGraphTerms(const GraphFrame& frame, QPointF at)
{
    return {(at.x() - kOriginX) / kGridStep * frame.timeStep,
            frame.valueAtAxis + (kOriginY - at.y()) / kGridStep * frame.valueStep};
}

QString pointText(const GraphFrame& frame, Point p)
{
    return QStringLiteral("%1 = %2, %3 = %4").arg(frame.time, figure(p.time), frame.value, figure(p.value));
}

// The two circles every circle diagram draws, radius in horizontal units.
constexpr double kLeftCentre = 325;
constexpr double kRightCentre = 675;
constexpr double kCentreY = 500;
constexpr double kRadius = 300;

bool insideCircle(QPointF at, double centreX, double verticalRadius)
{
    const double dx = (at.x() - centreX) / kRadius;
    const double dy = (at.y() - kCentreY) / verticalRadius;
    return dx * dx + dy * dy <= 1.0;
}

// What a label says in each region, region by region in the order I to IV.
QString byRegion(const char* what, std::initializer_list<Label> texts, QSizeF box)
{
    QStringList parts;
    for (const char* region : {"I", "II", "III", "IV"}) {
        QStringList here;
        for (const Label& t : texts) {
            if (vennRegion(QPointF(t.x, t.y), box) == QLatin1String(region))
                here << QLatin1String(t.text);
        }
        if (!here.isEmpty())
            parts << QStringLiteral("region %1: %2").arg(QLatin1String(region), here.join(QStringLiteral(", ")));
    }
    return QStringLiteral(" %1 %2.").arg(QLatin1String(what), parts.join(QStringLiteral("; ")));
}

} // namespace

QString figure(double value)
{
    QString text = QString::number(std::round(value * 100.0) / 100.0, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString describeGraph(const GraphFrame& frame, const QList<Segment>& segments, std::optional<QPointF> marked)
{
    QString text = QStringLiteral("graph: %1. %2 runs across, %3 up; one grid step is %4 in %2 and %5 in %3; "
                                  "the axes cross at %6.")
                       .arg(frame.title, frame.time, frame.value, figure(frame.timeStep), figure(frame.valueStep),
                            pointText(frame, inGraphTerms(frame, {kOriginX, kOriginY})));
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const Point from = inGraphTerms(frame, segments[i].from);
        const Point to = inGraphTerms(frame, segments[i].to);
        const double run = to.time - from.time;
        const double rise = to.value - from.value;
        text +=
            QStringLiteral(" %1 from %2 to %3: run %4, rise %5, slope %6.")
                .arg(segments.size() == 1 ? QStringLiteral("A straight line") : QStringLiteral("Segment %1").arg(i + 1),
                     pointText(frame, from), pointText(frame, to), figure(run), figure(rise), figure(rise / run));
    }
    if (marked)
        text += QStringLiteral(" A cross marks the point %1.").arg(pointText(frame, inGraphTerms(frame, *marked)));
    return text;
}

QString graphTitle(int graph)
{
    switch (graph) {
    case 1:
        return QStringLiteral("velocity v vs. clock time t");
    case 2:
        return QStringLiteral("value y (dollars) vs. clock time t (months)");
    case 3:
        return QStringLiteral("depth y (dollars) vs. clock time t (seconds)");
    default:
        return QString();
    }
}

QString graphDescription(int graph)
{
    switch (graph) {
    case 1:
        return describeGraph({graphTitle(1), QStringLiteral("t"), QStringLiteral("v")}, {{{100, 900}, {700, 500}}},
                             QPointF(400, 700));
    case 2:
        return describeGraph({graphTitle(2), QStringLiteral("t"), QStringLiteral("y"), 2, 100, 5000},
                             {{{250, 900}, {450, 600}}, {{450, 600}, {700, 400}}});
    case 3:
        return describeGraph({graphTitle(3), QStringLiteral("t"), QStringLiteral("y"), 20, 20, 0},
                             {{{150, 500}, {300, 700}}, {{300, 700}, {550, 800}}});
    default:
        return QString();
    }
}

QString vennRegion(QPointF at, QSizeF boxPixels)
{
    // A radius of 300 across is 300 × width / height units up, on a box that is not square.
    const double verticalRadius = boxPixels.height() > 0 ? kRadius * boxPixels.width() / boxPixels.height() : kRadius;
    const bool left = insideCircle(at, kLeftCentre, verticalRadius);
    const bool right = insideCircle(at, kRightCentre, verticalRadius);
    if (left && right)
        return QStringLiteral("I");
    if (left)
        return QStringLiteral("II");
    return right ? QStringLiteral("III") : QStringLiteral("IV");
}

QString vennDescription(int venn, QSizeF boxPixels)
{
    QString text = QStringLiteral("diagram: two overlapping circles, regions I to IV: I inside both circles, "
                                  "II inside the left circle only, III inside the right circle only, IV outside "
                                  "both.");
    if (venn == 2)
        text += byRegion("Letters in", kVenn2Letters, boxPixels);
    if (venn == 3) {
        text += byRegion("Counts in", kVenn3Counts, boxPixels);
        text += QStringLiteral(" Under the circles: Total 1st Circle 20, Total 2d Circle 15.");
    }
    return text;
}

} // namespace diagram
