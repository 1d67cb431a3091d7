#include "command_button.h"

#include <QKeyEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

CommandButton::CommandButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

QStringList CommandButton::captionLines() const
{
    const QFontMetrics metrics(font());
    const int room = captionRect().width();
    QStringList lines;
    for (const QString& word : text().split(u' ', Qt::SkipEmptyParts)) {
        if (!lines.isEmpty() && metrics.horizontalAdvance(lines.last() + u' ' + word) <= room)
            lines.last() += u' ' + word;
        else
            lines << word;
    }
    return lines;
}

QSize CommandButton::captionSize() const
{
    const QFontMetrics metrics(font());
    int width = 0;
    const QStringList lines = captionLines();
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    return {width, int(lines.size()) * metrics.height()};
}

void CommandButton::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    p.drawControl(QStyle::CE_PushButton, option);

    const QFontMetrics metrics(font());
    const QRect area = captionRect();
    int y = area.top() + (area.height() - captionSize().height()) / 2;
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    for (const QString& line : captionLines()) {
        p.drawText(QRect(area.left(), y, area.width(), metrics.height()), Qt::AlignHCenter | Qt::AlignTop, line);
        y += metrics.height();
    }
    if (hasFocus()) {
        // Styles draw the focus frame only after a key moved the focus; a button the
        // student clicked holds the focus too, and Enter or Space would press it.
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        frame.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        frame.state |= QStyle::State_KeyboardFocusChange;
        frame.backgroundColor = palette().color(QPalette::Button);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, frame);
    }
}

void CommandButton::keyPressEvent(QKeyEvent* event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}
