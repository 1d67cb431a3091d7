#pragma once

#include <QRect>

class QWidget;

// Larger text and zoom. The layout is designed in twips for 96 dots per inch. Where the
// platform already scales the whole window (Qt's scale factor, or a higher dots per inch
// that Qt turns into one), the factor here stays 1; where only the fonts grow (their dots
// per inch set apart from the window's scale), every control grows by the same factor, so
// that no caption is cut off.
namespace windowscale {

// The screen's font dots per inch over 96, never below 1.
double factor();
// The designed rectangle in pixels at that factor. Its edges are scaled, not its size, so
// controls that meet in the design still meet.
QRect fromTwips(int left, int top, int width, int height, double factor);
// Shows the window; where it is larger than the free area of its screen, inside a frame
// of that size that scrolls it. Closing the frame closes the window, and ending the
// program closes the frame.
void showFitting(QWidget& window);

} // namespace windowscale
