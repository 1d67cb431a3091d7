#include <QFileInfo>

#include "platform/code_page.h"
#include "platform/prompter.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

void MainWindow::cmd_display_note_file_Click()
{
    channels_.close(3);
    const QString path = drives_.local(notesFile);
    if (!QFileInfo::exists(path)) {
        services_.prompter->tell(QStringLiteral("No notes have been saved yet: use \"Save as Notes\" to keep a note "
                                                "(they go to %1).")
                                     .arg(notesFile));
        return;
    }
    if (const auto failure = channels_.open(3, path, Channels::Mode::Input)) {
        services_.prompter->tell(
            QStringLiteral("The notes in %1 could not be read: %2.").arg(notesFile, failure->reason));
        return;
    }
    // Deliberately added to what currentText already holds (the last record, or the question
    // box as the last step left it), not to an empty text: a second click shows the notes twice.
    QString gathered = currentText;
    while (!channels_.atEnd(3))
        gathered += codepage::decode(channels_.readLine(3));
    channels_.close(3);
    currentText = gathered;
    txt_question->setText(txt_question->text() + QStringLiteral("\r\n\r\n") + currentText);
}

void MainWindow::cmd_displayCumulativeText_Click()
{
    txt_question->setText(cumulativeText.text());
}

void MainWindow::cmd_clr_answer_Click()
{
    // responsePending keeps its value: the next step still puts the reminder back.
    txt_answer->setText(QString());
}
