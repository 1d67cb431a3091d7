#pragma once

class PictureBox;
class RandomSource;

// The three circle diagrams: two overlapping sets, each circle in a fresh colour drawn from
// the run's one generator.
namespace diagram {
void venn1(PictureBox& picture, RandomSource& random);
void venn2(PictureBox& picture, RandomSource& random);
void venn3(PictureBox& picture, RandomSource& random);
} // namespace diagram
