#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

#include "records/record_book.h"
#include "session/session.h"
#include "tutor/tutor_services.h"

// The drawing routines a picture line can name; the window's drawings implement them.
class PictureRoutines {
public:
    virtual ~PictureRoutines() = default;
    // Draws the routine of that name (already cleaned and lower-cased); false when there is
    // no routine of that name, and nothing is drawn.
    virtual bool drawRoutine(const QString& name) = 0;
    // The names drawRoutine() knows, for checking an instructor's class notes.
    virtual QStringList routineNames() const = 0;
    // What the drawing of that name shows, as its title reads.
    virtual QString routineTitle(const QString& name) const = 0;

protected:
    PictureRoutines() = default;
    PictureRoutines(const PictureRoutines&) = default;
    PictureRoutines& operator=(const PictureRoutines&) = default;
};

// The window's two text boxes as a click finds them; each action leaves in them what the
// window is to show.
struct TextBoxes {
    QString question;
    QString answer = QStringLiteral(" ");
    // What changed, in words for a screen reader: the new line, a record confirmed; empty
    // when nothing is to be said.
    QString said;
    // The question box's newest entry stands at its top rather than its end.
    bool newestAtTop = false;
};

// The tutor's controller: one step of the walk and what each button leads to, with
// everything the window used to decide. It owns the session and the record book; the window,
// the tools and the tests all drive it, handing in the boxes' texts and showing what comes
// back. Once the session has ended no action changes anything.
class TutorController {
public:
    TutorController(TutorServices services, PictureRoutines& routines);

    // Start-up before the window is first shown: the questions, the chosen set, the records a
    // killed run left, the session header (or, with headerAfterFirstPaint, its writing arranged).
    void start();
    // "Next Question / Answer": settles the answer box, steps on, runs a picture line's routine
    // and steps once more, and adds the line to the question box.
    // True when a line was added to the question box.
    bool next(TextBoxes& boxes);
    // One step of the walk; the answer box gets the reminder where the line before got no
    // response. The question box is left alone.
    void step(TextBoxes& boxes);
    void enterResponse(TextBoxes& boxes);
    void saveAsNotes(TextBoxes& boxes);
    void displayNotes(TextBoxes& boxes);
    void displayEverything(TextBoxes& boxes) const;

    // "next picture": draws the picture lines of the next two slots, as the table says, and
    // moves the walk past those it drew.
    void nextPicture();
    // Draws the routine of that name, or ends the program when there is none.
    void runRoutine(const QString& name);
    // Before the walk goes on or the program ends: finishes a half-written record and asks
    // about unrecorded text; false when the student chose to stay.
    bool settleAnswerBox(TextBoxes& boxes);
    // "quit program": ends once nothing typed or half-recorded would be lost.
    void quit(TextBoxes& boxes);

    // The end of the program: the session ends (as the window closed, unless it has ended
    // already) and every record file is closed.
    void end(sessionindex::EndEntry::How how = sessionindex::EndEntry::How::Closed);
    // While a question about the answer box is open or a record is on its way to the files,
    // the window is not to be closed.
    bool isBusy() const { return records_.isAsking(); }
    bool hasEnded() const { return session_.hasEnded(); }
    // Called once when the session ends, whoever ends it.
    void setOnEnd(std::function<void()> onEnd);
    const Session& session() const { return session_; }
    // The run's one generator, which the circle and pendulum drawings share with the coding.
    RandomSource& random() { return session_.random(); }
    RecordBook& records() { return records_; }
    const RecordBook& records() const { return records_; }

private:
    static void show(TextBoxes& boxes, Boxes outcome);
    // Writes the session header if it is still due: nothing is recorded before it. False once
    // the session has ended (the student quit at its question).
    bool writeHeaderIfDue();
    // The walk has reached the end of the set: said before the program ends. Always false.
    bool endOfSet(TextBoxes& boxes) const;
    // Confirms a record that took the answer box; the reminder passing on and a failure
    // (which has its own message) say nothing.
    void record(TextBoxes& boxes, RecordKind kind, Boxes outcome, bool heldReminder);

    const bool headerAfterFirstPaint_;
    Session session_;
    RecordBook records_;
    bool headerDue_ = false;
    std::unique_ptr<QObject> afterFirstPaint_;
    // How the session is being ended by this controller; none: the walk passed the set's end.
    std::optional<sessionindex::EndEntry::How> endHow_;
    PictureRoutines& routines_;
};
