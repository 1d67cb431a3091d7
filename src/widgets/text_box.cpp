#include "text_box.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <vector>

namespace {

// Each side of a soft break carries a mark, so that either side can vouch for it after
// an edit has disturbed the other (see mendSoftBreaks).
constexpr int kSoftBefore = 1;
constexpr int kSoftAfter = 2;
// How far back from a piece's end a blank is sought, to break between words.
constexpr int kLookBack = 256;

int marks(const QTextBlock& block)
{
    return std::max(block.userState(), 0); // a block never marked holds -1
}

void setMark(QTextBlock block, int mark, bool on)
{
    block.setUserState(on ? (marks(block) | mark) : (marks(block) & ~mark));
}

// Where a piece of a long line ends: after a blank near the longest piece's end, or else
// not inside a surrogate pair or before a combining mark.
qsizetype pieceEnd(QStringView text, qsizetype start)
{
    const qsizetype limit = start + TextBox::kLongestPiece;
    for (qsizetype end = limit; end > limit - kLookBack; --end) {
        if (text[end - 1] == u' ')
            return end;
    }
    qsizetype end = limit;
    while (end > start + 1 && (text[end].isLowSurrogate() || text[end].isMark()))
        --end;
    return end;
}

// The text with every line longer than the longest piece cut into pieces, each on a line
// of its own; `soft` gets the number of each line that continues the one before it.
QString cutLongLines(const QString& text, std::vector<int>& soft)
{
    QString out;
    out.reserve(text.size() + text.size() / (TextBox::kLongestPiece - kLookBack) + 1);
    int line = 0;
    qsizetype start = 0;
    for (;;) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        while (end - start > TextBox::kLongestPiece) {
            const qsizetype cut = pieceEnd(text, start);
            out += QStringView(text).sliced(start, cut - start);
            out += u'\n';
            soft.push_back(++line);
            start = cut;
        }
        out += QStringView(text).sliced(start, end - start);
        if (end == text.size())
            return out;
        out += u'\n';
        ++line;
        start = end + 1;
    }
}

// The document's raw text with its block and line separators as CR LF, in one pass: the
// answer box is read on every click, and may hold megabytes.
QString withCrLf(const QString& raw)
{
    const auto isBreak = [](QChar c) { return c == QChar::ParagraphSeparator || c == QChar::LineSeparator; };
    const auto breaks = std::count_if(raw.cbegin(), raw.cend(), isBreak);
    if (breaks == 0)
        return raw;
    QString out(raw.size() + breaks, Qt::Uninitialized);
    QChar* to = out.data();
    for (const QChar c : raw) {
        if (isBreak(c)) {
            *to++ = u'\r';
            *to++ = u'\n';
        } else {
            *to++ = c;
        }
    }
    return out;
}

} // namespace

TextBox::TextBox(QWidget* parent) : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUndoRedoEnabled(false);
    connect(document(), &QTextDocument::contentsChange, this, &TextBox::mendSoftBreaks);
}

QString TextBox::text() const
{
    if (!hasSoftBreaks_) {
        // The raw text keeps what the student typed (a no-break space stays one);
        // blocks are separated by paragraph separators.
        return withCrLf(document()->toRawText());
    }
    return textBetween(0, document()->characterCount() - 1, QStringLiteral("\r\n"));
}

void TextBox::setText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(u'\r', u'\n');
    std::vector<int> soft;
    shown = cutLongLines(shown, soft);

    settingText_ = true;
    setPlainText(shown);
    settingText_ = false;
    hasSoftBreaks_ = !soft.empty();
    QTextBlock block = document()->begin();
    int number = 0;
    for (const int line : soft) {
        for (; number < line - 1; ++number)
            block = block.next();
        setMark(block, kSoftAfter, true);
        block = block.next();
        ++number;
        setMark(block, kSoftBefore, true);
    }
}

void TextBox::scrollToEnd()
{
    moveCursor(QTextCursor::End);
    ensureCursorVisible();
}

void TextBox::scrollToStart()
{
    moveCursor(QTextCursor::Start);
    ensureCursorVisible();
}

QMimeData* TextBox::createMimeDataFromSelection() const
{
    if (!hasSoftBreaks_)
        return QPlainTextEdit::createMimeDataFromSelection();
    const QTextCursor cursor = textCursor();
    auto* data = new QMimeData;
    data->setText(textBetween(cursor.selectionStart(), cursor.selectionEnd(), QStringLiteral("\n")));
    return data;
}

void TextBox::keyPressEvent(QKeyEvent* event)
{
    // Beside a soft break, Backspace and Delete take the character beyond it, as they
    // would in the unbroken line.
    QTextCursor cursor = textCursor();
    if (hasSoftBreaks_ && !cursor.hasSelection()) {
        const bool back = event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier);
        const bool forward = event->matches(QKeySequence::Delete);
        if ((back && cursor.atBlockStart() && (marks(cursor.block()) & kSoftBefore)) ||
            (forward && cursor.atBlockEnd() && (marks(cursor.block()) & kSoftAfter))) {
            cursor.movePosition(back ? QTextCursor::PreviousCharacter : QTextCursor::NextCharacter);
            setTextCursor(cursor);
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

// The document's text from one position to another, with its line breaks as `lineEnd`
// and its soft breaks left out.
QString TextBox::textBetween(int from, int to, const QString& lineEnd) const
{
    const QString raw = document()->toRawText();
    QString out;
    out.reserve(to - from);
    int at = from;
    for (QTextBlock block = document()->findBlock(from).next(); block.isValid() && block.position() <= to;
         block = block.next()) {
        out += QStringView(raw).sliced(at, block.position() - 1 - at);
        if (!(marks(block) & kSoftBefore))
            out += lineEnd;
        at = block.position();
    }
    out += QStringView(raw).sliced(at, to - at);
    out.replace(QChar::LineSeparator, lineEnd);
    return out;
}

// An edit splits and merges blocks with no regard for soft breaks: a split block keeps its
// marks in its first half, and of two merged blocks the second one's marks survive. Where
// the two sides of a break now disagree, the side the edit did not touch is right; a
// break between two touched blocks was typed, so it is a real one.
void TextBox::mendSoftBreaks(int from, int, int charsAdded)
{
    if (!hasSoftBreaks_ || settingText_)
        return;
    const QTextDocument* doc = document();
    const QTextBlock first = doc->findBlock(from);
    QTextBlock last = doc->findBlock(from + charsAdded);
    if (!last.isValid())
        last = doc->lastBlock();
    if (!first.isValid())
        return;
    if (first == doc->begin())
        setMark(first, kSoftBefore, false);
    if (last == doc->lastBlock())
        setMark(last, kSoftAfter, false);

    QTextBlock before = first.previous();
    QTextBlock after = first;
    if (!before.isValid()) {
        before = first;
        after = first.next();
    }
    for (; after.isValid(); before = after, after = after.next()) {
        const bool beforeSays = marks(before) & kSoftAfter;
        const bool afterSays = marks(after) & kSoftBefore;
        if (beforeSays != afterSays) {
            const bool beforeTouched = before.position() + before.length() > from;
            const bool afterTouched = after.position() <= from + charsAdded;
            const bool soft = !beforeTouched ? beforeSays : !afterTouched ? afterSays : false;
            setMark(before, kSoftAfter, soft);
            setMark(after, kSoftBefore, soft);
        }
        if (before == last)
            break;
    }
}
