#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

#include "platform/random_source.h"
#include "session/session_services.h"
#include "session/transcript.h"

// The walk through one set of class notes: the start-up answers, the line table, the line
// the walk stands on, the question numbers and the transcript. It runs without a window;
// the window shows what it holds and the record book writes what it is given.
class Session {
public:
    static constexpr int kLastSlot = 5000;
    static const QString kClassNotesPrompt;

    explicit Session(SessionServices services);

    // ---- session/startup.cpp: the three start-up questions, the content, the chosen set
    // Start-up up to the chosen set: the questions, the content, the positioning. An
    // instructor's class notes may name only the picture routines given.
    void start(const QStringList& pictureRoutines);

    // ---- session/stepping.cpp: the walk from line to line
    // Steps to the next line that is not empty; true when the answer box is to show the
    // reminder, because the line before got no response.
    bool stepToNextLine();
    // The step's line as the question box shows it after what the box held.
    QString showStep(const QString& questionBox);
    // What a record button did with the answer box, for the transcript: a note adds what
    // the last record was (or what the box held before), a response its text. The recorded
    // text is the note with its marker, or the answer.
    void tookAnswerBox(const QString& answer, const QString& recordedText, bool asNote, bool recorded);
    // "display notes" adds the notes to what currentText held.
    QString addToCurrentText(const QString& text);

    // ---- The end of the program: once ended, nothing more is shown or written.
    void end();
    bool hasEnded() const { return ended_; }
    // Called once when the session ends, whoever ends it.
    void setOnEnd(std::function<void()> onEnd) { onEnd_ = std::move(onEnd); }

    // ---- What the walk holds
    const QString& courseTitle() const { return courseTitle_; }
    int sessionCodeNbr() const { return sessionCodeNbr_; }
    void setSessionCodeNbr(int n) { sessionCodeNbr_ = n; }
    const QString& dataFolder() const { return dataFolder_; }
    const QString& masterFile() const { return masterFile_; }
    const QString& sendFile() const { return sendFile_; }
    const QString& notesFile() const { return notesFile_; }
    const QString& classNotesNo() const { return classNotesNo_; }
    const QString& nextClassNotesNo() const { return nextClassNotesNo_; }
    const QString& answerPrompt() const { return answerPrompt_; }
    const QString& answerSeparator() const { return answerSeparator_; }
    const QString& qaSeparator() const { return qaSeparator_; }
    const QString& currentLine() const { return currentLine_; }
    const QString& displayText() const { return displayText_; }
    void clearDisplayText() { displayText_.clear(); }
    const QString& questionNo() const { return questionNo_; }
    const QString& currentText() const { return currentText_; }
    bool responsePending() const { return responsePending_; }
    const Transcript& cumulativeText() const { return cumulativeText_; }
    // What the session index says of this session, beside the record files: its id (from the
    // system's generator, so the seeded sequence stays the tutor's), the computer, the start,
    // and the full name typed at start-up, which goes nowhere else.
    const QByteArray& sessionId() const { return sessionId_; }
    const QString& hostName() const { return hostName_; }
    const QString& startDate() const { return startDate_; }
    const QString& startTime() const { return startTime_; }
    const QString& fullName() const { return fullName_; }
    RandomSource& random() { return random_; }

    // The line table: slot 0 and the slots past the content are empty.
    int lineIndex() const { return lineIndex_; }
    // An empty text for a slot outside the table.
    QString line(int slot) const;
    // The header line of the chosen set once positioned there.
    QString headerLine() const { return line(headerIndex_); }
    // Moves the walk on to a slot: "next picture" skips the picture lines it drew.
    void moveTo(int slot);

private:
    void setupSession();
    void setClassNotesNumbers(const QString& entry);
    void loadClassNotes();
    // The instructor's class_notes.txt in the record folder, checked; none when there is no
    // such file or the student chose the built-in class notes over a faulty one.
    std::optional<QStringList> instructorsClassNotes();
    // session/positioning.cpp: asks again for a set that does not exist, until one does or
    // the student cancels.
    void startClassNotes();
    bool positionAtClassNotes();

    SessionServices services_;
    RandomSource random_;
    std::function<void()> onEnd_;
    bool ended_ = false;

    QString courseTitle_;
    int sessionCodeNbr_ = 0;
    QString dataFolder_;
    QString masterFile_;
    QString sendFile_;
    QString notesFile_;
    QString classNotesNo_;
    QString nextClassNotesNo_;
    QString classNotesEntry_; // as the student typed it, for messages
    QStringList pictureRoutines_;
    int setCount_ = 0;
    QByteArray sessionId_;
    QString hostName_;
    QString startDate_;
    QString startTime_;
    QString fullName_;
    QString answerPrompt_;
    QString qaSeparator_;
    QString answerSeparator_;
    std::vector<QString> classNotesLines_ = std::vector<QString>(kLastSlot + 1);
    int lineIndex_ = 0;
    int headerIndex_ = 0;
    QString currentLine_;
    QString displayText_;
    QString questionNo_;
    bool responsePending_ = false;
    Transcript cumulativeText_;
    QString currentText_;
};
