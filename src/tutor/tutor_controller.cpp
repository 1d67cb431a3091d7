#include "tutor/tutor_controller.h"

#include <QCoreApplication>
#include <QEvent>

#include <utility>

#include "content/picture_line.h"
#include "platform/runtime_text.h"
#include "storage/record_lock.h"
#include "storage/session_index.h"

namespace {

// The session index's names for the computer and the session, unless the caller gave its own.
TutorServices withSessionNames(TutorServices services)
{
    if (services.hostName.isEmpty())
        services.hostName = recordlock::hostName();
    if (!services.newSessionId)
        services.newSessionId = [] { return sessionindex::newSessionId(); };
    return services;
}

// Calls back once, after the first paint of any window is done, and after what was already posted.
class AfterFirstPaint : public QObject {
public:
    explicit AfterFirstPaint(std::function<void()> then) : then_(std::move(then))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched != this) {
            QCoreApplication::instance()->removeEventFilter(this);
            QCoreApplication::postEvent(this, new QEvent(QEvent::User), Qt::LowEventPriority);
        }
        return false;
    }
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (then_)
            std::exchange(then_, {})();
        return true;
    }

private:
    std::function<void()> then_;
};

} // namespace

TutorController::TutorController(TutorServices services, PictureRoutines& routines)
    : headerAfterFirstPaint_(services.headerAfterFirstPaint), session_(withSessionNames(services)),
      records_(session_, std::move(services)), routines_(routines)
{
    setOnEnd({});
}

void TutorController::setOnEnd(std::function<void()> onEnd)
{
    // However the session ends, records still to send get their bounded wait first.
    session_.setOnEnd([this, onEnd = std::move(onEnd)] {
        records_.recordEnd(endHow_.value_or(sessionindex::EndEntry::How::Finished));
        records_.sendBeforeLeaving();
        if (onEnd)
            onEnd();
    });
}

void TutorController::end(sessionindex::EndEntry::How how)
{
    writeHeaderIfDue();
    if (!hasEnded())
        endHow_ = how;
    session_.end();
    records_.closeChannels();
}

void TutorController::start()
{
    // Ended during start-up, the session was quit (a header some file took and another refused).
    endHow_ = sessionindex::EndEntry::How::Quit;
    session_.start(routines_.routineNames());
    if (hasEnded())
        return;
    records_.finishLeftOverRecords();
    headerDue_ = true;
    if (!headerAfterFirstPaint_ || !QCoreApplication::instance()) {
        writeHeaderIfDue();
        return;
    }
    endHow_.reset();
    afterFirstPaint_ = std::make_unique<AfterFirstPaint>([this] { writeHeaderIfDue(); });
}

bool TutorController::writeHeaderIfDue()
{
    if (std::exchange(headerDue_, false)) {
        // Ended while the header is written, the session was quit.
        endHow_ = sessionindex::EndEntry::How::Quit;
        records_.writeSessionHeader();
        if (!hasEnded())
            endHow_.reset();
    }
    return !hasEnded();
}

void TutorController::show(TextBoxes& boxes, Boxes outcome)
{
    if (outcome == Boxes::ClearBoth)
        boxes.question.clear();
    if (outcome != Boxes::Keep)
        boxes.answer.clear();
}

bool TutorController::settleAnswerBox(TextBoxes& boxes)
{
    if (!writeHeaderIfDue())
        return false;
    const Settled settled = records_.settleAnswerBox(boxes.answer);
    show(boxes, settled.boxes);
    return settled.goOn;
}

void TutorController::step(TextBoxes& boxes)
{
    if (writeHeaderIfDue() && session_.stepToNextLine())
        boxes.answer = session_.answerPrompt();
}

bool TutorController::next(TextBoxes& boxes)
{
    if (hasEnded() || !settleAnswerBox(boxes))
        return false;
    step(boxes);
    if (hasEnded())
        return endOfSet(boxes);
    const QString shown = session_.displayText();
    QString drawn;
    // At most one routine a press: the line after it is shown even when it is a picture line.
    if (shown.size() > 8 && isPictureLine(shown)) {
        runRoutine(routineNameOf(shown));
        if (hasEnded())
            return false;
        drawn = QStringLiteral("Graph drawn: %1 (Alt+G for its description). ")
                    .arg(routines_.routineTitle(routineNameOf(shown)));
        session_.clearDisplayText();
        step(boxes);
        if (hasEnded())
            return endOfSet(boxes);
    }
    boxes.said = drawn + session_.displayText();
    boxes.question = session_.showStep(boxes.question);
    return true;
}

bool TutorController::endOfSet(TextBoxes& boxes) const
{
    const QString set = runtimetext::plainNumber(runtimetext::leadingNumber(session_.classNotesNo()));
    // The student may have left records still to send: they are not recorded yet, and are told.
    const int left = records_.toSend();
    if (left == 0)
        boxes.said = QStringLiteral("End of class notes %1. Your answers are recorded.").arg(set);
    else
        boxes.said =
            QStringLiteral("End of class notes %1. %2 kept on this computer, which sends %3 to the class "
                           "folder at the next start of the tutor.")
                .arg(set, left == 1 ? QStringLiteral("1 record is") : QStringLiteral("%1 records are").arg(left),
                     left == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    return false;
}

void TutorController::record(TextBoxes& boxes, RecordKind kind, Boxes outcome, bool heldReminder)
{
    show(boxes, outcome);
    // Sent behind the scenes, it is said once it is in the class folder.
    if (outcome == Boxes::ClearBoth && !heldReminder && !records_.sentLater())
        boxes.said = kind == RecordKind::Note ? QStringLiteral("Note saved") : QStringLiteral("Answer recorded");
}

void TutorController::enterResponse(TextBoxes& boxes)
{
    if (!writeHeaderIfDue())
        return;
    const bool reminder = boxes.answer == session_.answerPrompt();
    record(boxes, RecordKind::Response, records_.enterResponse(boxes.answer), reminder);
}

void TutorController::saveAsNotes(TextBoxes& boxes)
{
    if (!writeHeaderIfDue())
        return;
    const bool reminder = boxes.answer == session_.answerPrompt();
    record(boxes, RecordKind::Note, records_.saveAsNotes(boxes.answer), reminder);
}

void TutorController::displayNotes(TextBoxes& boxes)
{
    if (!writeHeaderIfDue())
        return;
    if (const auto notes = records_.displayNoteFile()) {
        boxes.question += QStringLiteral("\r\n\r\n") + *notes;
        boxes.said = QStringLiteral("Your notes file is shown at the end of the question box, the newest note last.");
    }
}

void TutorController::displayEverything(TextBoxes& boxes) const
{
    if (hasEnded())
        return;
    const Transcript& everything = session_.cumulativeText();
    boxes.question = everything.text();
    boxes.newestAtTop = true;
    boxes.said = everything.entries() == 0
                     ? QStringLiteral("Nothing to show yet: no line has been shown and nothing recorded.")
                     : QStringLiteral("Everything of this session is shown, newest first: %1 %2.")
                           .arg(everything.entries())
                           .arg(everything.entries() == 1 ? QStringLiteral("entry") : QStringLiteral("entries"));
}

void TutorController::quit(TextBoxes& boxes)
{
    if (!hasEnded() && settleAnswerBox(boxes))
        end(sessionindex::EndEntry::How::Quit);
}

void TutorController::runRoutine(const QString& name)
{
    if (hasEnded())
        return;
    // The program ends before the set's end, as at "quit program".
    if (!routines_.drawRoutine(name))
        end(sessionindex::EndEntry::How::Quit);
}

void TutorController::nextPicture()
{
    for (int i = 1; i <= 2 && !hasEnded(); ++i) {
        const long long k = static_cast<long long>(session_.lineIndex()) + i;
        // Past the last slot there are no lines, so no picture lines either.
        if (k < 0 || k > Session::kLastSlot)
            continue;
        const QString line = session_.line(int(k));
        // Unlike a question step, no length test: the bare marker gives the empty name.
        if (!isPictureLine(line))
            continue;
        runRoutine(routineNameOf(line));
        if (hasEnded())
            return;
        session_.moveTo(session_.lineIndex() + i);
    }
}
