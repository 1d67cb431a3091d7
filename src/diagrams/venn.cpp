#include "diagrams/venn.h"

#include "diagrams/descriptions.h"
#include "diagrams/labels.h"
#include "diagrams/palette.h"
#include "platform/random_source.h"
#include "platform/runtime_text.h"
#include "widgets/picture_box.h"

// Two overlapping sets: circles of radius 300 about (325, 500) and (675, 500). Each circle
// takes a fresh colour from the shared generator on every drawing.

namespace diagram {

namespace {

// 100..255: light enough that the black labels stay readable on any circle.
int lightComponent(float r)
{
    return int(runtimetext::roundHalfEven(double(r) * 155.0 + 100.0));
}

QColor randomColour(RandomSource& random)
{
    const int red = lightComponent(random.next());
    const int green = lightComponent(random.next());
    const int blue = lightComponent(random.next());
    return {red, green, blue};
}

void drawVennCircles(PictureBox& p, RandomSource& random)
{
    p.describe(vennDescription(1, p.innerRect().size()));
    // The second colour is drawn only after the first circle is on the picture.
    p.circle(325, 500, 300, randomColour(random));
    p.circle(675, 500, 300, randomColour(random));
    printLabels(p, {{500, 500, "I"}, {200, 500, "II"}, {800, 500, "III"}, {30, 30, "IV"}});
}

} // namespace

void venn1(PictureBox& p, RandomSource& random)
{
    drawVennCircles(p, random);
}

void venn2(PictureBox& p, RandomSource& random)
{
    drawVennCircles(p, random);
    printLabels(p, kVenn2Letters);
    p.describe(vennDescription(2, p.innerRect().size()));
}

void venn3(PictureBox& p, RandomSource& random)
{
    p.filledBox(0, 0, 1000, 1000, kWhite);
    drawVennCircles(p, random);
    printLabels(p, {{200, 950, "Total 1st Circle 20"}, {700, 950, "Total 2d Circle 15"}});
    printLabels(p, kVenn3Counts);
    p.describe(vennDescription(3, p.innerRect().size()));
}

} // namespace diagram
