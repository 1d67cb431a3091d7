#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/runtime_text.h"
#include "widgets/text_box.h"
#include "records/record_layout.h"
#include "window/main_window.h"

bool MainWindow::recordText(const QString& kind, const QString& answer, const std::function<QList<FileAppend>()>& compose)
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
        record.kind = kind;
        record.answer = answer;
        record.line = currentLine;
        record.files = compose();
    }
    pendingRecord_.reset();
    const QString what = kind == QLatin1String("notes") ? QStringLiteral("Your note") : QStringLiteral("Your answer");
    if (appendToRecordFiles(record, what))
        return true;
    services_.prompter->tell(record.lastMessage +
                             QStringLiteral("\n\nYour text stays in the answer box: click the button again to finish "
                                            "recording it once the problem is mended."));
    pendingRecord_ = record;
    return false;
}

void MainWindow::cmd_enter_response_Click()
{
    if (ended_)
        return;
    const QString answer = txt_answer->text();
    if (answer != answerPrompt) {
        const bool recorded = recordText(QStringLiteral("response"), answer, [&] {
            const QString time = services_.clock->timeText();
            const double number = rt::leadingNumber(classNotesNo) * 10000.0 + rt::leadingNumber(questionNo);
            const QString master =
                records::questionRecord(time, code(currentLine, sessionCodeNbr), code(answer, sessionCodeNbr), number);
            const QString send = records::questionRecord(time, code(currentLine, sessionCodeNbr),
                                                         code(answer, sessionCodeNbr), std::nullopt);
            return QList<FileAppend>{recordFor(masterFile, master), recordFor(sendFile, send)};
        });
        if (!recorded)
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
    if (ended_)
        return;
    const QString answer = txt_answer->text();
    if (answer != answerPrompt) {
        const QString note = records::kNotesMarker + answer;
        const bool recorded = recordText(QStringLiteral("notes"), answer, [&] {
            const QString time = services_.clock->timeText();
            const QString date = services_.clock->dateText();
            auto record = [&](bool lineEnd) {
                return records::notesRecord(time, date, code(currentLine, sessionCodeNbr), code(note, sessionCodeNbr),
                                            lineEnd);
            };
            return QList<FileAppend>{recordFor(masterFile, record(true)), recordFor(sendFile, record(false)),
                                     recordFor(notesFile, record(false))};
        });
        if (!recorded)
            return;
        responsePending = false;
        currentText = note;
    }
    cumulativeText = answerSeparator + currentText + QStringLiteral("\r\n\r\n") + cumulativeText;
    txt_question->setText(QString());
    txt_answer->setText(QString());
}
