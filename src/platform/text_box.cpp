#include "text_box.h"

#include <QTextDocument>

TextBox::TextBox(QWidget* parent) : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUndoRedoEnabled(false);
}

QString TextBox::text() const
{
    // The raw text keeps what the student typed (a no-break space stays one);
    // blocks are separated by paragraph separators.
    QString raw = document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    raw.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return raw;
}

void TextBox::setText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(u'\r', u'\n');
    setPlainText(shown);
}

void TextBox::scrollToEnd()
{
    moveCursor(QTextCursor::End);
    ensureCursorVisible();
}
