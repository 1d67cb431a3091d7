#include "picture_box.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace {
constexpr int kBorder = 2; // a sunken frame, as the platform draws it
// Pixels of background colour kept about each glyph of a text: two to the sides and above,
// one below, so a line just under the text stays whole instead of showing between words.
constexpr int kHalo = 2;
constexpr int kHaloBelow = 1;

// The pixels from one corner to the other, both included, whichever way round they come.
QRect spanning(QPoint a, QPoint b)
{
    return {QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
            QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y()))};
}

// Screen readers present a picture box as an image, with its description.
QAccessibleInterface* imageFor(const QString& className, QObject* object)
{
    if (className != QLatin1String("PictureBox") || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
}

QPen hairline(const QColor& color)
{
    QPen pen(color, 1);
    pen.setCapStyle(Qt::SquareCap); // the last point of a line is drawn too
    return pen;
}
} // namespace

PictureBox::PictureBox(QWidget* parent) : QWidget(parent)
{
    static const bool registered = [] {
        QAccessible::installFactory(imageFor);
        return true;
    }();
    Q_UNUSED(registered);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleDescription(QStringLiteral("empty picture"));
}

void PictureBox::describe(const QString& what)
{
    // Said once: the pendulum describes its drawing on every tick.
    if (accessibleDescription() != what)
        setAccessibleDescription(what);
}

QRect PictureBox::innerRect() const
{
    return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder);
}

void PictureBox::ensureCanvas()
{
    const QSize size = innerRect().size().expandedTo(QSize(1, 1));
    if (drawing_.width() >= size.width() && drawing_.height() >= size.height())
        return;
    // The canvas only grows: a box made smaller and then larger again shows all it showed.
    QImage grown(drawing_.size().expandedTo(size), QImage::Format_ARGB32_Premultiplied);
    grown.fill(Qt::transparent);
    if (!drawing_.isNull()) {
        QPainter p(&grown);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(0, 0, drawing_);
    }
    drawing_ = grown;
}

void PictureBox::updateInner(const QRect& pixels)
{
    update(pixels.translated(innerRect().topLeft()).intersected(innerRect()));
}

void PictureBox::setScale(double width, double height)
{
    scaleWidth_ = width;
    scaleHeight_ = height;
}

QPoint PictureBox::toPixels(double x, double y) const
{
    const QRect inner = innerRect();
    return {int(std::lround(x * inner.width() / scaleWidth_)), int(std::lround(y * inner.height() / scaleHeight_))};
}

void PictureBox::line(double x1, double y1, double x2, double y2, std::optional<QColor> color)
{
    ensureCanvas();
    const QPoint from = toPixels(x1, y1);
    const QPoint to = toPixels(x2, y2);
    QPainter p(&drawing_);
    p.setPen(hairline(color.value_or(foreColor_)));
    p.drawLine(from, to);
    currentX_ = x2;
    currentY_ = y2;
    updateInner(spanning(from, to).adjusted(-1, -1, 1, 1));
}

void PictureBox::filledBox(double x1, double y1, double x2, double y2, const QColor& color)
{
    ensureCanvas();
    const QRect box = spanning(toPixels(x1, y1), toPixels(x2, y2));
    QPainter p(&drawing_);
    p.fillRect(box, color);
    currentX_ = x2;
    currentY_ = y2;
    updateInner(box);
}

void PictureBox::circle(double x, double y, double radius, std::optional<QColor> color)
{
    ensureCanvas();
    const QPoint centre = toPixels(x, y);
    const double r = std::abs(radius) * innerRect().width() / scaleWidth_;
    QPainter p(&drawing_);
    p.setPen(hairline(color.value_or(foreColor_)));
    p.drawEllipse(QPointF(centre), r, r);
    currentX_ = x;
    currentY_ = y;
    const int reach = int(std::ceil(r)) + 2;
    updateInner(QRect(centre - QPoint(reach, reach), centre + QPoint(reach, reach)));
}

QFont PictureBox::printFont() const
{
    QFont crisp = font();
    crisp.setStyleStrategy(QFont::NoAntialias);
    crisp.setHintingPreference(QFont::PreferFullHinting);
    return crisp;
}

void PictureBox::print(const QString& text)
{
    ensureCanvas();
    const QPoint at = toPixels(currentX_, currentY_);
    QPainter p(&drawing_);
    p.setFont(printFont());
    const QFontMetrics metrics = p.fontMetrics();
    const QPoint baseline = at + QPoint(0, metrics.ascent());
    // An outline of the background colour around the glyphs only, so a stroke beneath
    // cannot run into them: a grid line through a minus sign would read as a plus.
    p.setPen(backColor_);
    for (int dy = -kHalo; dy <= kHaloBelow; ++dy) {
        for (int dx = -kHalo; dx <= kHalo; ++dx) {
            if ((dx != 0 || dy != 0) && dx * dx + dy * dy <= kHalo * kHalo + 1)
                p.drawText(baseline + QPoint(dx, dy), text);
        }
    }
    p.setPen(foreColor_);
    p.drawText(baseline, text);
    // Like a terminal: the next print starts at the left edge of the following line.
    currentX_ = 0.0;
    currentY_ += metrics.height() * scaleHeight_ / std::max(innerRect().height(), 1);
    updateInner(metrics.boundingRect(text).translated(baseline).adjusted(-kHalo - 2, -kHalo - 2, kHalo + 2, kHalo + 2));
}

void PictureBox::setPicture(const QImage& picture)
{
    picture_ = picture;
    update(innerRect());
}

QImage PictureBox::rendered() const
{
    const QRect inner = innerRect();
    QImage image(inner.size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(backColor_);
    QPainter p(&image);
    if (!picture_.isNull())
        p.drawImage(0, 0, picture_);
    if (!drawing_.isNull())
        p.drawImage(0, 0, drawing_);
    return image;
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect inner = innerRect();
    const QRect dirty = event->rect().intersected(inner);
    if (!dirty.isEmpty()) {
        // Only the dirty part is composed: background, picture, then the drawing over both.
        const QRect source = dirty.translated(-inner.topLeft());
        p.fillRect(dirty, backColor_);
        if (!picture_.isNull())
            p.drawImage(dirty, picture_, source);
        if (!drawing_.isNull())
            p.drawImage(dirty, drawing_, source);
    }
    if (inner.contains(event->rect()))
        return;
    if (hasFocus()) {
        // The box takes the focus by Tab; the frame shows where it is.
        QPen pen(palette().color(QPalette::Highlight), kBorder);
        pen.setJoinStyle(Qt::MiterJoin); // square corners: a bevel leaves the outer corner pixels out
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(kBorder / 2.0, kBorder / 2.0, -kBorder / 2.0, -kBorder / 2.0));
        return;
    }
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(0, 0, width() - 1, 0);
    p.drawLine(0, 0, 0, height() - 1);
    p.setPen(palette().color(QPalette::Midlight));
    p.drawLine(1, height() - 1, width() - 1, height() - 1);
    p.drawLine(width() - 1, 1, width() - 1, height() - 1);
    p.setPen(palette().color(QPalette::Shadow));
    p.drawLine(1, 1, width() - 2, 1);
    p.drawLine(1, 1, 1, height() - 2);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(2, height() - 2, width() - 2, height() - 2);
    p.drawLine(width() - 2, 2, width() - 2, height() - 2);
}

void PictureBox::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void PictureBox::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void PictureBox::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A box never drawn on holds no canvas; the first drawing makes one of the box's size.
    if (!drawing_.isNull())
        ensureCanvas();
}
