#include "content/picture_line.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

void MainWindow::showBoxes(Boxes boxes)
{
    if (boxes == Boxes::ClearBoth)
        txt_question->setText(QString());
    if (boxes != Boxes::Keep)
        txt_answer->setText(QString());
}

bool MainWindow::settleAnswerBox()
{
    const Settled settled = records_.settleAnswerBox(txt_answer->text());
    showBoxes(settled.boxes);
    return settled.goOn;
}

void MainWindow::readNextQuestion()
{
    if (session_.readNextQuestion())
        txt_answer->setText(session_.answerPrompt());
}

void MainWindow::cmdNextQuestion_Click()
{
    if (!settleAnswerBox())
        return;
    readNextQuestion();
    if (ended_)
        return;
    const QString shown = session_.displayText();
    if (shown.size() > 8 && isPictureLine(shown)) {
        runRoutine(routineNameOf(shown));
        if (ended_)
            return;
        session_.clearDisplayText();
        readNextQuestion();
        if (ended_)
            return;
    }
    txt_question->setText(session_.showStep(txt_question->text()));
    txt_question->scrollToEnd();
}

void MainWindow::cmd_enter_response_Click()
{
    showBoxes(records_.cmd_enter_response_Click(txt_answer->text()));
}

void MainWindow::cmd_save_as_notes_Click()
{
    showBoxes(records_.cmd_save_as_notes_Click(txt_answer->text()));
}

void MainWindow::cmd_display_note_file_Click()
{
    if (const auto notes = records_.cmd_display_note_file_Click())
        txt_question->setText(txt_question->text() + QStringLiteral("\r\n\r\n") + *notes);
}

void MainWindow::cmd_displayCumulativeText_Click()
{
    txt_question->setText(session_.cumulativeText().text());
}

void MainWindow::cmd_clr_answer_Click()
{
    // responsePending keeps its value: the next step still puts the reminder back.
    txt_answer->setText(QString());
}

void MainWindow::cmd_quit_Click()
{
    if (settleAnswerBox())
        endProgram();
}
