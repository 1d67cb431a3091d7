#include "content/picture_line.h"
#include "platform/runtime_text.h"
#include "session/session.h"

bool Session::stepToNextLine()
{
    if (ended_)
        return false;
    const bool remind = responsePending_;
    responsePending_ = false;

    QString line;
    while (line.isEmpty()) {
        // Past the last slot there is nothing more to show: the walk ends as at a next header.
        if (lineIndex_ >= kLastSlot) {
            end();
            return remind;
        }
        ++lineIndex_;
        line = classNotesLines_[size_t(lineIndex_)];
        if (line.isEmpty())
            continue;
        currentLine_ = line;
        if (runtimetext::left(line, 2).toLower() == QLatin1String("`q"))
            questionNo_ = runtimetext::plainNumber(runtimetext::leadingNumber(runtimetext::midFrom(line, 3)));
        cumulativeText_.prepend(qaSeparator_ + line);
    }
    if (!isPictureLine(line))
        responsePending_ = true;
    displayText_ = line;
    if (runtimetext::left(line, 3) == nextClassNotesNo_)
        end();
    return remind;
}

QString Session::showStep(const QString& questionBox)
{
    // currentText is left holding the question box's whole text; Save as Notes over the
    // reminder and "display notes" build on it, so it is kept, stale as it looks.
    currentText_ = questionBox + QStringLiteral("\r\n\r\n") + displayText_;
    displayText_.clear();
    return currentText_;
}

void Session::tookAnswerBox(const QString& answer, const QString& recordedText, bool asNote, bool recorded)
{
    if (recorded) {
        responsePending_ = false;
        currentText_ = recordedText;
    }
    // With the reminder in the box nothing was recorded: Enter Response adds the reminder,
    // Save as Notes adds what currentText held before the click (the last record, or the
    // question box as the last step left it).
    if (asNote)
        cumulativeText_.prepend(answerSeparator_ + currentText_ + QStringLiteral("\r\n\r\n"));
    else
        cumulativeText_.prepend(answerSeparator_ + answer);
}

QString Session::addToCurrentText(const QString& text)
{
    // Deliberately added to what currentText already holds (the last record, or the question
    // box as the last step left it), not to an empty text: a second click shows the notes twice.
    currentText_ += text;
    return currentText_;
}
