#include <QFileInfo>

#include "platform/code_page.h"
#include "platform/prompter.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

void MainWindow::cmd_display_note_file_Click()
{
    if (ended_)
        return;
    channels_.close(3);
    const QString path = localPath(notesFile);
    if (!QFileInfo::exists(path)) {
        services_.prompter->tell(QStringLiteral("No notes have been saved yet: use \"Save as Notes\" to keep a note "
                                                "(they go to %1).")
                                     .arg(notesFile));
        return;
    }
    if (const auto error = channels_.open(3, path, Channels::Mode::Input)) {
        services_.prompter->tell(QStringLiteral("The notes in %1 could not be read: %2.").arg(notesFile, *error));
        return;
    }
    QString gathered = currentText;
    while (!channels_.atEnd(3))
        gathered += codepage::decode(channels_.readLine(3));
    channels_.close(3);
    currentText = gathered;
    txt_question->setText(txt_question->text() + QStringLiteral("\r\n\r\n") + currentText);
}

void MainWindow::cmd_displayCumulativeText_Click()
{
    if (ended_)
        return;
    txt_question->setText(cumulativeText);
}

void MainWindow::cmd_clr_answer_Click()
{
    if (ended_)
        return;
    txt_answer->setText(QString());
}

void MainWindow::cmd_quit_Click()
{
    endProgram();
}
