#pragma once

#include <QPlainTextEdit>

// A multi-line text box that speaks CR LF: text set with CR LF (or a lone CR or LF)
// shows as line breaks and reads back with CR LF. Plain text only; Tab moves the focus.
class TextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    // The editor lays out a line in one piece, so a line of megabytes (the notes file
    // joined into one) would take seconds. A longer line is shown as pieces of at most
    // this many characters, joined by soft breaks that the text, the clipboard and
    // drag and drop never see.
    static constexpr int kLongestPiece = 4096;

    explicit TextBox(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    // Shows the end of the text, where the newest line stands.
    void scrollToEnd();
    // Shows the start of the text, where a newest-first text has its newest entry.
    void scrollToStart();

protected:
    QMimeData* createMimeDataFromSelection() const override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString textBetween(int from, int to, const QString& lineEnd) const;
    void mendSoftBreaks(int from, int charsRemoved, int charsAdded);

    bool hasSoftBreaks_ = false;
    bool settingText_ = false;
};
