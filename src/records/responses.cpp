#include "platform/prompter.h"
#include "records/record_book.h"
#include "records/record_layout.h"
#include "session/session.h"

namespace {

// Names the button, as a keyboard user presses it rather than clicks it.
QString textStays(RecordKind kind)
{
    return QStringLiteral("\n\nYour text stays in the answer box: press \"%1\" again to finish recording it once the "
                          "problem is mended.")
        .arg(kind == RecordKind::Note ? QStringLiteral("Save as Notes") : QStringLiteral("Enter Response"));
}

} // namespace

Boxes RecordBook::enterResponse(const QString& answerBox)
{
    const Settled settled = settleUnfinishedRecord(RecordKind::Response, answerBox);
    if (!settled.goOn)
        return settled.boxes;
    return toldUnlessRecorded(RecordKind::Response, recordAnswerBox(RecordKind::Response, answerBox));
}

Boxes RecordBook::saveAsNotes(const QString& answerBox)
{
    const Settled settled = settleUnfinishedRecord(RecordKind::Note, answerBox);
    if (!settled.goOn)
        return settled.boxes;
    return toldUnlessRecorded(RecordKind::Note, recordAnswerBox(RecordKind::Note, answerBox));
}

Boxes RecordBook::toldUnlessRecorded(RecordKind kind, const std::optional<Failure>& failure)
{
    if (!failure)
        return Boxes::ClearBoth;
    services_.prompter->warn(failure->reason + textStays(kind));
    return Boxes::Keep;
}

std::optional<Failure> RecordBook::recordAnswerBox(RecordKind kind, const QString& answerBox)
{
    const bool isNote = kind == RecordKind::Note;
    const bool toRecord = answerBox != session_.answerPrompt();
    if (toRecord) {
        if (auto failure = recordAnswer(kind, answerBox))
            return failure;
    }
    session_.tookAnswerBox(answerBox, isNote ? records::kNotesMarker + answerBox : answerBox, isNote, toRecord);
    return std::nullopt;
}

std::optional<Failure> RecordBook::recordAnswer(RecordKind kind, const QString& answer)
{
    if (auto failure = unwritable(answer))
        return failure;
    sentLater_ = false;
    if (sendsLater()) {
        auto failure = keepAndSend(kind, answer);
        sentLater_ = !failure;
        // With no journal to keep it in, the record goes straight to the files as it always has,
        // unless it would overtake records still to send.
        if (!failure || toSend() > 0)
            return failure;
    }
    // A record that some files already took is finished, not written again, when the
    // student tries once more with the same text.
    if (pending_ && pending_->isFor(kind, answer, session_.currentLine()))
        return appendPending(*pending_);
    return appendPending({kind, answer, session_.currentLine(), composeRecord(kind, answer), {}});
}
