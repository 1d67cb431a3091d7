#include <QScopedValueRollback>

#include "platform/prompter.h"
#include "records/record_book.h"
#include "records/record_layout.h"
#include "session/session.h"
#include "storage/record_journal.h"

bool RecordBook::isUnfinished() const
{
    // Also a record whose write got no answer: it may be in a file already.
    return pending_ && (!pending_->recordedIn.isEmpty() || !pending_->journalEntry.isEmpty());
}

Settled RecordBook::settleUnfinishedRecord(std::optional<RecordKind> nextRecord, const QString& answerBox)
{
    if (!isUnfinished())
        return {};
    const RecordKind kind = pending_->kind;
    const bool textInBox = pending_->isFor(kind, answerBox, session_.currentLine());
    // The click about to record the same text finishes this record itself.
    if (nextRecord == kind && textInBox)
        return {};
    // Before the walk goes on or the program ends with its text still in the answer box,
    // finishing it is what a second click on its button does, transcript and boxes included.
    // Before another record, only its files are finished, and the box is the next record's.
    const bool asItsButton = textInBox && !nextRecord;
    const auto failure = asItsButton ? recordAnswerBox(kind, answerBox) : appendPending(*pending_);
    if (!failure) {
        pending_.reset();
        return {true, asItsButton ? Boxes::ClearBoth : Boxes::Keep};
    }
    // The reason already names the files that hold the record and those still missing it.
    const QString question = failure->reason + QStringLiteral("\n\nStay, to mend the problem and try again, or go on "
                                                              "without it there for now? The tutor then finishes it "
                                                              "the next time it starts.");
    QScopedValueRollback<bool> asking(asking_, true);
    if (services_.prompter->choose(question, {QStringLiteral("Stay"), QStringLiteral("Go on without it")}) == 0)
        return {false, Boxes::Keep};
    // The student takes the record as it stands: its journal entry stays, let go by this run,
    // for the next start to finish. Where its text is still in the answer box, the box is
    // done with as a successful click would leave it.
    journal::keep(pending_->journalEntry);
    pending_.reset();
    if (!asItsButton)
        return {};
    const bool isNote = kind == RecordKind::Note;
    session_.tookAnswerBox(answerBox, isNote ? records::kNotesMarker + answerBox : answerBox, isNote, true);
    return {true, Boxes::ClearBoth};
}

Settled RecordBook::settleAnswerBox(const QString& answerBox)
{
    // Every click tries again what waits to be sent.
    if (delivery_)
        delivery_->retryNow();
    const Settled unfinished = settleUnfinishedRecord(std::nullopt, answerBox);
    if (!unfinished.goOn || unfinished.boxes != Boxes::Keep)
        return unfinished;
    // Blanks alone are nothing to lose; the reminder and an empty box go on as always.
    if (answerBox.trimmed().isEmpty() || answerBox == session_.answerPrompt())
        return {};
    QScopedValueRollback<bool> asking(asking_, true);
    const int choice = services_.prompter->choose(
        QStringLiteral("The text in the answer box has not been recorded."),
        {QStringLiteral("Keep editing"), QStringLiteral("Record it as your answer"), QStringLiteral("Discard it")});
    if (choice == 0)
        return {false, Boxes::Keep};
    if (choice == 2) {
        pending_.reset();
        return {true, Boxes::ClearAnswer};
    }
    if (const auto failure = recordAnswerBox(RecordKind::Response, answerBox)) {
        services_.prompter->warn(failure->reason + QStringLiteral("\n\nYour text stays in the answer box."));
        return {false, Boxes::Keep};
    }
    return {true, Boxes::ClearBoth};
}
