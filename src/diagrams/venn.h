#pragma once

#include <initializer_list>

#include "diagrams/labels.h"

class PictureBox;
class RandomSource;

// The three circle diagrams: two overlapping sets, each circle in a fresh colour drawn from
// the run's one generator.
namespace diagram {
void venn1(PictureBox& picture, RandomSource& random);
void venn2(PictureBox& picture, RandomSource& random);
void venn3(PictureBox& picture, RandomSource& random);

// What venn2 and venn3 print over the circles; their descriptions read the same figures.
inline const std::initializer_list<Label> kVenn2Letters = {{400, 400, "a"}, {570, 570, "c"}, {520, 250, "f"},
                                                           {240, 260, "b"}, {300, 600, "d"}, {200, 680, "e"},
                                                           {700, 440, "g"}, {800, 620, "k"}};
inline const std::initializer_list<Label> kVenn3Counts = {
    {530, 700, "8"}, {250, 290, "12"}, {700, 340, "7"}, {10, 150, "8"}};
} // namespace diagram
