#include "platform/prompter.h"
#include "records/record_layout.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

bool MainWindow::recordAnswer(RecordKind kind, const QString& answer)
{
    if (refuseUnwritable(answer))
        return false;
    // A record that some files already took is finished, not written again, when the
    // student tries once more with the same text.
    PendingRecord record;
    if (pendingRecord_ && pendingRecord_->kind == kind && pendingRecord_->answer == answer &&
        pendingRecord_->line == currentLine) {
        record = *pendingRecord_;
    } else {
        record = {kind, answer, currentLine, composeRecord(kind, answer)};
    }
    pendingRecord_.reset();
    const auto failure = appendToRecordFiles(record);
    if (!failure)
        return true;
    services_.prompter->tell(failure->reason +
                             QStringLiteral("\n\nYour text stays in the answer box: click the button again to finish "
                                            "recording it once the problem is mended."));
    pendingRecord_ = record;
    return false;
}

void MainWindow::cmd_enter_response_Click()
{
    const QString answer = txt_answer->text();
    if (answer != answerPrompt) {
        if (!recordAnswer(RecordKind::Response, answer))
            return;
        responsePending = false;
        currentText = answer;
    }
    cumulativeText = answerSeparator + answer + cumulativeText;
    txt_question->setText(QString());
    txt_answer->setText(QString());
}

void MainWindow::cmd_save_as_notes_Click()
{
    const QString answer = txt_answer->text();
    if (answer != answerPrompt) {
        if (!recordAnswer(RecordKind::Note, answer))
            return;
        responsePending = false;
        currentText = records::kNotesMarker + answer;
    }
    // With the reminder in the box nothing was recorded, and currentText still holds what it
    // held before the click (the last record, or the question box as the last step left it).
    cumulativeText = answerSeparator + currentText + QStringLiteral("\r\n\r\n") + cumulativeText;
    txt_question->setText(QString());
    txt_answer->setText(QString());
}
