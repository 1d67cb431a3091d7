#pragma once

#include <QPushButton>
#include <QStringList>

// A command button whose caption breaks over lines, centred, when it is wider than
// the button, as the platform's own command buttons do.
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    CommandButton(const QString& caption, QWidget* parent);

    // Where the caption goes: just inside the bevel, so the captions fit the small
    // buttons of the layout.
    QRect captionRect() const { return rect().adjusted(2, 0, -2, 0); }
    // The caption broken at blanks to fit captionRect's width, and the room it takes
    // (lines packed at the font's height, without extra leading).
    QStringList captionLines() const;
    QSize captionSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Enter and Return press the focused button, as Space does.
    void keyPressEvent(QKeyEvent* event) override;
};
