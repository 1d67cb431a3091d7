#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <optional>

// A picture box: a persistent drawing over an optional assigned picture, addressed in a
// user scale laid over the inner area ((0, 0) top-left, y growing downwards). What is
// drawn is kept in an image, so covering or resizing the box never loses it.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setScale(double width, double height);
    void setForeColor(const QColor& color) { foreColor_ = color; }

    // Each drawing operation leaves the current position where the next one would go on:
    // a line at its end, a circle at its centre, a text at the start of the next line.
    void setCurrentX(double x) { currentX_ = x; }
    void setCurrentY(double y) { currentY_ = y; }

    // Lines are one pixel wide and include both end points; without a colour they take
    // the foreground colour.
    void line(double x1, double y1, double x2, double y2, std::optional<QColor> color = std::nullopt);
    // A box filled with its colour, both corners included.
    void filledBox(double x1, double y1, double x2, double y2, const QColor& color);
    // An outline, round on screen; the radius counts in horizontal units.
    void circle(double x, double y, double radius, std::optional<QColor> color = std::nullopt);
    // Text with its top-left corner at the current position; its background is not painted,
    // only a thin outline of the background colour around the glyphs.
    void print(const QString& text);
    // The font print() draws in: the box's own, unsmoothed like every other stroke (a text
    // printed twice looks the same as once) and fully hinted.
    QFont printFont() const;

    // The picture assigned to the box, kept apart from the drawing.
    QImage picture() const { return picture_; }
    void setPicture(const QImage& picture);

    // The drawing alone (transparent where nothing was drawn), and the box as shown.
    const QImage& drawing() const { return drawing_; }
    QImage rendered() const;
    QRect innerRect() const;

    // What the box holds, in words, for screen readers ("empty picture" until something is drawn).
    void describe(const QString& what);
    // The pixel of the inner area that a user point falls on.
    QPoint toPixels(double x, double y) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void ensureCanvas();
    // Repaints only the part of the inner area that an operation touched.
    void updateInner(const QRect& pixels);

    QImage drawing_;
    QImage picture_;
    QColor foreColor_ = Qt::black;
    QColor backColor_ = Qt::white;
    double scaleWidth_ = 1000.0;
    double scaleHeight_ = 1000.0;
    double currentX_ = 0.0;
    double currentY_ = 0.0;
};
