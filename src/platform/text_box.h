#pragma once

#include <QPlainTextEdit>

// A multi-line text box that speaks CR LF: text set with CR LF (or a lone CR or LF)
// shows as line breaks and reads back with CR LF. Plain text only; Tab moves the focus.
class TextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    // Shows the end of the text, where the newest line stands.
    void scrollToEnd();
};
