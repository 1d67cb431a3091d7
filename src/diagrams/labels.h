#pragma once

#include <QString>

#include <initializer_list>

class PictureBox;

namespace diagram {

// A text whose top-left corner stands at (x, y) in the picture's user scale.
struct Label {
    double x;
    double y;
    const char* text;
};

void printAt(PictureBox& picture, double x, double y, const QString& text);
// printAt for each label, in the order given: later texts cover earlier ones.
void printLabels(PictureBox& picture, std::initializer_list<Label> labels);

} // namespace diagram
