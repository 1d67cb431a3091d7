#pragma once

#include <QMargins>
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
// Where a frame that scrolls a window of the `wanted` size goes: inside the available area once
// the window manager's decoration is added around it, and no larger than it needs to be.
QRect fittingFrame(const QRect& available, const QMargins& decoration, const QSize& wanted);
// Shows the window; where it is larger than the free area of its screen, inside a frame
// that scrolls it, fitted to the free area with the window manager's decoration. Closing the frame closes the window,
// and ending the program closes the frame.
void showFitting(QWidget& window);

} // namespace windowscale
