#include "window_scale.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace windowscale {

namespace {

constexpr double kDesignedDpi = 96.0;
constexpr double kTwipsPerPixel = 15.0;

int pixels(int twips, double factor)
{
    return int(std::lround(twips * factor / kTwipsPerPixel));
}

// A window too large for the screen, shown in a frame that scrolls it.
class ScrollingFrame : public QScrollArea {
public:
    explicit ScrollingFrame(QWidget& window) : window_(window)
    {
        setWindowTitle(window.windowTitle());
        connect(&window, &QWidget::windowTitleChanged, this, &QWidget::setWindowTitle);
        setWidget(&window);
        // Tab goes round the window's controls only, as without the frame.
        setFocusPolicy(Qt::NoFocus);
        window.installEventFilter(this);
    }
    // The window belongs to whoever made it, not to the frame.
    ~ScrollingFrame() override { takeWidget(); }

    // Into the free area of the screen with the decoration the window manager adds; again
    // whenever that decoration turns out other than the one fitted to (known only once shown).
    void fit(const QMargins& decoration)
    {
        fittedTo_ = decoration;
        const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const int border = 2 * frameWidth();
        const QSize wanted = window_.size() + QSize(border + verticalScrollBar()->sizeHint().width(),
                                                    border + horizontalScrollBar()->sizeHint().height());
        setGeometry(fittingFrame(screen->availableGeometry(), decoration, wanted));
    }

protected:
    bool event(QEvent* event) override
    {
        const bool handled = QScrollArea::event(event);
        if ((event->type() == QEvent::Move || event->type() == QEvent::Show) && windowHandle() &&
            windowHandle()->frameMargins() != fittedTo_ && !windowHandle()->frameMargins().isNull())
            fit(windowHandle()->frameMargins());
        return handled;
    }
    void closeEvent(QCloseEvent* event) override
    {
        // The window decides, as when it is closed itself: it may ask about an answer first.
        if (window_.isVisible() && !window_.close())
            event->ignore();
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Hidden by itself, when the program ends; a minimised frame hides it too, but
        // leaves it unhidden.
        if (watched == &window_ && event->type() == QEvent::Hide && window_.isHidden())
            close();
        return QScrollArea::eventFilter(watched, event);
    }

private:
    QWidget& window_;
    QMargins fittedTo_;
};

// Before the window manager has framed a window: a title bar and a thin border, as most draw them.
QMargins likelyDecoration()
{
    const int title = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return {4, title + 4, 4, 4};
}

} // namespace

double factor()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? std::max(1.0, screen->logicalDotsPerInchY() / kDesignedDpi) : 1.0;
}

QRect fromTwips(int left, int top, int width, int height, double factor)
{
    const QPoint topLeft(pixels(left, factor), pixels(top, factor));
    const QPoint beyond(pixels(left + width, factor), pixels(top + height, factor));
    return {topLeft, QSize(beyond.x() - topLeft.x(), beyond.y() - topLeft.y())};
}

QRect fittingFrame(const QRect& available, const QMargins& decoration, const QSize& wanted)
{
    const QRect inside = available.marginsRemoved(decoration);
    return {inside.topLeft(), wanted.boundedTo(inside.size())};
}

void showFitting(QWidget& window)
{
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().marginsRemoved(likelyDecoration()).size() : window.size();
    if (window.width() <= room.width() && window.height() <= room.height()) {
        window.show();
        window.activateWindow();
        return;
    }
    // At the designed size "quit program" and "copy picture" stand a few pixels past the client
    // area; a window that scrolls anyway takes them whole, with room for their focus frames.
    const QRect controls = window.childrenRect();
    window.resize(window.size().expandedTo(QSize(controls.right() + 3, controls.bottom() + 3)));
    auto* frame = new ScrollingFrame(window);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->fit(likelyDecoration());
    frame->show();
    frame->activateWindow();
    window.setFocus();
}

} // namespace windowscale
