#include "platform/prompter.h"
#include "records/record_layout.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

namespace {

const QString kTextStays = QStringLiteral("\n\nYour text stays in the answer box: click the button again to finish "
                                          "recording it once the problem is mended.");

} // namespace

void MainWindow::cmd_enter_response_Click()
{
    if (!settleUnfinishedRecord(RecordKind::Response))
        return;
    if (const auto failure = recordAnswerBox(RecordKind::Response))
        services_.prompter->tell(failure->reason + kTextStays);
}

void MainWindow::cmd_save_as_notes_Click()
{
    if (!settleUnfinishedRecord(RecordKind::Note))
        return;
    if (const auto failure = recordAnswerBox(RecordKind::Note))
        services_.prompter->tell(failure->reason + kTextStays);
}

std::optional<Failure> MainWindow::recordAnswerBox(RecordKind kind)
{
    const QString answer = txt_answer->text();
    const bool isNote = kind == RecordKind::Note;
    if (answer != answerPrompt) {
        if (auto failure = recordAnswer(kind, answer))
            return failure;
        responsePending = false;
        currentText = isNote ? records::kNotesMarker + answer : answer;
    }
    // With the reminder in the box nothing was recorded: Enter Response adds the reminder,
    // Save as Notes adds what currentText held before the click (the last record, or the
    // question box as the last step left it).
    if (isNote)
        cumulativeText.prepend(answerSeparator + currentText + QStringLiteral("\r\n\r\n"));
    else
        cumulativeText.prepend(answerSeparator + answer);
    txt_question->setText(QString());
    txt_answer->setText(QString());
    return std::nullopt;
}

std::optional<Failure> MainWindow::recordAnswer(RecordKind kind, const QString& answer)
{
    if (auto failure = unwritable(answer))
        return failure;
    // A record that some files already took is finished, not written again, when the
    // student tries once more with the same text.
    PendingRecord record;
    if (pendingRecord_ && pendingRecord_->kind == kind && pendingRecord_->answer == answer &&
        pendingRecord_->line == currentLine)
        record = *pendingRecord_;
    else
        record = {kind, answer, currentLine, composeRecord(kind, answer), {}};
    pendingRecord_.reset();
    if (auto failure = appendToRecordFiles(record)) {
        pendingRecord_ = record;
        return failure;
    }
    return std::nullopt;
}
