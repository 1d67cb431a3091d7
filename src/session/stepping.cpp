#include "diagrams/picture_line.h"
#include "platform/runtime_text.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

void MainWindow::readNextQuestion()
{
    if (ended_)
        return;
    if (responsePending)
        txt_answer->setText(answerPrompt);
    responsePending = false;

    QString line;
    while (line.isEmpty()) {
        // Past the last slot there is nothing more to show: the walk ends as at a next header.
        if (lineIndex >= kLastSlot)
            return endProgram();
        ++lineIndex;
        line = classNotesLines[size_t(lineIndex)];
        if (line.isEmpty())
            continue;
        currentLine = line;
        if (rt::left(line, 2).toLower() == QLatin1String("`q"))
            questionNo = rt::plainNumber(rt::leadingNumber(rt::midFrom(line, 3)));
        cumulativeText.prepend(qaSeparator + line);
    }
    if (!isPictureLine(line))
        responsePending = true;
    displayText = line;
    if (rt::left(line, 3) == nextClassNotesNo)
        endProgram();
}

void MainWindow::cmdNextQuestion_Click()
{
    if (!settleAnswerBox())
        return;
    readNextQuestion();
    if (ended_)
        return;
    if (displayText.size() > 8 && isPictureLine(displayText)) {
        runRoutine(routineNameOf(displayText));
        if (ended_)
            return;
        displayText.clear();
        readNextQuestion();
        if (ended_)
            return;
    }
    // currentText is left holding the question box's whole text; Save as Notes over the
    // reminder and "display notes" build on it, so it is kept, stale as it looks.
    currentText = txt_question->text() + QStringLiteral("\r\n\r\n") + displayText;
    displayText.clear();
    txt_question->setText(currentText);
    txt_question->scrollToEnd();
}
