#include <QScopedValueRollback>

#include "platform/prompter.h"
#include "storage/record_journal.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

bool MainWindow::isUnfinished() const
{
    return pendingRecord_ && !pendingRecord_->recordedIn.isEmpty();
}

bool MainWindow::settleUnfinishedRecord(std::optional<RecordKind> nextRecord)
{
    if (!isUnfinished())
        return true;
    const RecordKind kind = pendingRecord_->kind;
    const bool textInBox = pendingRecord_->answer == txt_answer->text() && pendingRecord_->line == currentLine;
    // The click about to record the same text finishes this record itself.
    if (nextRecord == kind && textInBox)
        return true;
    // Before the walk goes on or the program ends with its text still in the answer box,
    // finishing it is what a second click on its button does, transcript and boxes included.
    // Before another record, only its files are finished, and the box is the next record's.
    const bool asItsButton = textInBox && !nextRecord;
    const auto failure = asItsButton ? recordAnswerBox(kind) : appendToRecordFiles(*pendingRecord_);
    if (!failure) {
        pendingRecord_.reset();
        return true;
    }
    // The reason already names the files that hold the record and those still missing it.
    const QString question = failure->reason + QStringLiteral("\n\nStay, to mend the problem and try again, or go on "
                                                              "without it there for now? The tutor then finishes it "
                                                              "the next time it starts.");
    QScopedValueRollback<bool> asking(settling_, true);
    if (services_.prompter->choose(question, {QStringLiteral("Stay"), QStringLiteral("Go on without it")}) == 0)
        return false;
    // The student takes the record as it stands: nothing is left to write, and where its text
    // is still in the answer box the record is done with as a successful click would be.
    // Its journal entry stays, let go by this run, for the next start to finish.
    journal::keep(pendingRecord_->journalEntry);
    pendingRecord_->files.clear();
    if (asItsButton)
        recordAnswerBox(kind);
    pendingRecord_.reset();
    return true;
}

bool MainWindow::settleAnswerBox()
{
    if (!settleUnfinishedRecord(std::nullopt))
        return false;
    const QString text = txt_answer->text();
    // Blanks alone are nothing to lose; the reminder and an empty box go on as always.
    if (text.trimmed().isEmpty() || text == answerPrompt)
        return true;
    QScopedValueRollback<bool> asking(settling_, true);
    const int choice = services_.prompter->choose(
        QStringLiteral("The text in the answer box has not been recorded."),
        {QStringLiteral("Keep editing"), QStringLiteral("Record it as your answer"), QStringLiteral("Discard it")});
    if (choice == 0)
        return false;
    if (choice == 2) {
        pendingRecord_.reset();
        txt_answer->setText(QString());
        return true;
    }
    if (const auto failure = recordAnswerBox(RecordKind::Response)) {
        services_.prompter->tell(failure->reason + QStringLiteral("\n\nYour text stays in the answer box."));
        return false;
    }
    return true;
}
