#pragma once

#include <QColor>

// The fixed colours of the diagrams; everything else takes the picture box's foreground.
namespace diagram {
inline const QColor kRed{255, 0, 0};
inline const QColor kGreen{0, 255, 0};
inline const QColor kWhite{255, 255, 255};
} // namespace diagram
