#pragma once

class PictureBox;

// The three graph diagrams, drawn into a picture box with a 1000 x 1000 user scale.
namespace diagram {
void graph1(PictureBox& picture);
void graph2(PictureBox& picture);
void graph3(PictureBox& picture);
} // namespace diagram
