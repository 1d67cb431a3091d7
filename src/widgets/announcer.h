#pragma once

#include <QWidget>

// Says a short text to screen readers without taking the keyboard focus and without
// changing a pixel of the window. It is an empty widget that assistive technology sees
// as a notification: each text becomes its name and the notification is shown anew.
// Orca speaks a notification that appears; a status bar or an alert whose name changes,
// and text inserted into a box that has no focus, it passes over in silence.
class Announcer : public QWidget {
    Q_OBJECT
public:
    // Says the text through the owner's announcer, made on first use.
    static void say(QWidget* owner, const QString& text);
    // The text as it is said: its lines joined, blanks at either end left out.
    static QString spoken(const QString& text);

private:
    explicit Announcer(QWidget* owner);
};
