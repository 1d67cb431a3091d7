#include <QTimer>

#include "content/picture_line.h"
#include "diagrams/descriptions.h"
#include "diagrams/graphs.h"
#include "diagrams/picture_commands.h"
#include "diagrams/routines.h"
#include "diagrams/venn.h"
#include "experiment/pendulum.h"
#include "widgets/announcer.h"
#include "widgets/picture_box.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

void MainWindow::withBoxes(const std::function<void(TextBoxes&)>& action, QWidget* sayer)
{
    TextBoxes boxes{txt_question->text(), txt_answer->text(), QString()};
    const TextBoxes before = boxes;
    inAction_ = true;
    action(boxes);
    inAction_ = false;
    // A box is set only when its text changed, so that the student's cursor stays put.
    if (boxes.question != before.question) {
        txt_question->setText(boxes.question);
        if (boxes.newestAtTop)
            txt_question->scrollToStart();
        else
            txt_question->scrollToEnd();
    }
    if (boxes.answer != before.answer)
        txt_answer->setText(boxes.answer);
    Announcer::say(sayer ? sayer : txt_question, boxes.said);
    if (endAfterAction_)
        endProgramAfterSaying(boxes.said);
}

void MainWindow::readNextQuestion()
{
    withBoxes([this](TextBoxes& b) { controller_.step(b); });
}

void MainWindow::cmdNextQuestion_Click()
{
    withBoxes([this](TextBoxes& b) { controller_.next(b); });
}

void MainWindow::cmd_enter_response_Click()
{
    withBoxes([this](TextBoxes& b) { controller_.enterResponse(b); }, txt_answer);
}

void MainWindow::cmd_save_as_notes_Click()
{
    withBoxes([this](TextBoxes& b) { controller_.saveAsNotes(b); }, txt_answer);
}

void MainWindow::cmd_display_note_file_Click()
{
    withBoxes([this](TextBoxes& b) { controller_.displayNotes(b); });
}

void MainWindow::cmd_displayCumulativeText_Click()
{
    withBoxes([this](TextBoxes& b) { controller_.displayEverything(b); });
}

void MainWindow::cmd_clr_answer_Click()
{
    // responsePending keeps its value: the next step still puts the reminder back.
    txt_answer->setText(QString());
}

void MainWindow::cmd_quit_Click()
{
    withBoxes([this](TextBoxes& b) { controller_.quit(b); });
}

void MainWindow::cmd_next_picture_Click()
{
    controller_.nextPicture();
}

QString MainWindow::remSpaces(const QString& text) const
{
    return withoutBlanksAndHyphens(text);
}

void MainWindow::runRoutine(const QString& routine)
{
    controller_.runRoutine(routine);
}

bool MainWindow::drawRoutine(const QString& name)
{
    return diagram::drawRoutine(name, *Picture1);
}

QStringList MainWindow::routineNames() const
{
    QStringList names;
    for (const diagram::NamedRoutine& routine : diagram::kPictureRoutines)
        names << QLatin1String(routine.name);
    return names;
}

QString MainWindow::routineTitle(const QString& name) const
{
    for (const diagram::NamedRoutine& routine : diagram::kPictureRoutines) {
        if (name == QLatin1String(routine.name))
            return diagram::graphTitle(routine.graph);
    }
    return name;
}

void MainWindow::graph1()
{
    diagram::graph1(*Picture1);
}

void MainWindow::graph2()
{
    diagram::graph2(*Picture1);
}

void MainWindow::graph3()
{
    diagram::graph3(*Picture1);
}

void MainWindow::venn1()
{
    diagram::venn1(*Picture1, controller_.random());
}

void MainWindow::venn2()
{
    diagram::venn2(*Picture1, controller_.random());
}

void MainWindow::venn3()
{
    diagram::venn3(*Picture1, controller_.random());
}

void MainWindow::cmd_copy_picture_Click()
{
    diagram::copyPicture(*Picture1, *Picture2);
}

void MainWindow::cmd_pend_exp_Click()
{
    // QTimer::start() on a running timer would push the next tick back by a full interval.
    if (!tmr_pend_exp->isActive())
        tmr_pend_exp->start();
}

void MainWindow::tmr_pend_exp_Timer()
{
    experiment::pendulumTick(*Picture1, controller_.random(), *services_.sound);
}
