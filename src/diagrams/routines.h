#pragma once

#include <QString>

#include <array>

#include "diagrams/graphs.h"

class PictureBox;

// The routines a picture line can name (the line format: content/picture_line.h), by the
// name as the line gives it once cleaned and lower-cased. The circle routines are not here:
// no picture line reaches them.
namespace diagram {

struct NamedRoutine {
    const char* name;
    void (*draw)(PictureBox&);
    int graph; // its number, for its title and description
};

inline constexpr std::array<NamedRoutine, 3> kPictureRoutines{{
    {"graph1", graph1, 1},
    {"graph2", graph2, 2},
    {"graph3", graph3, 3},
}};

// Draws the routine of that exact name; false when the table has none.
bool drawRoutine(const QString& name, PictureBox& picture);

} // namespace diagram
