#include "content/picture_line.h"
#include "widgets/announcer.h"
#include "widgets/text_box.h"
#include "window/main_window.h"
#include "window/record_announcements.h"

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
    const QString line = session_.displayText();
    txt_question->setText(session_.showStep(txt_question->text()));
    txt_question->scrollToEnd();
    Announcer::say(txt_question, line);
}

void MainWindow::cmd_enter_response_Click()
{
    const QString answer = txt_answer->text();
    const Boxes boxes = records_.cmd_enter_response_Click(answer);
    showBoxes(boxes);
    Announcer::say(txt_answer, recordAnnouncement(RecordKind::Response, boxes, answer == session_.answerPrompt()));
}

void MainWindow::cmd_save_as_notes_Click()
{
    const QString answer = txt_answer->text();
    const Boxes boxes = records_.cmd_save_as_notes_Click(answer);
    showBoxes(boxes);
    Announcer::say(txt_answer, recordAnnouncement(RecordKind::Note, boxes, answer == session_.answerPrompt()));
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
