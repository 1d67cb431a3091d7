#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "platform/drive_paths.h"
#include "platform/failure.h"
#include "records/record_services.h"
#include "storage/record_delivery.h"
#include "storage/record_files.h"
#include "storage/record_journal.h"

class QEventLoop;

class Session;

// What a record is; each kind has its own layout and its own set of files.
enum class RecordKind { SessionHeader, Response, Note };

// What an action leaves in the window's boxes.
enum class Boxes {
    Keep,
    ClearAnswer,
    ClearBoth, // the answer box was taken: recorded, or the reminder passed on
};

// Before the walk goes on or the program ends: whether it may, and what happened to the boxes.
struct Settled {
    bool goOn = true;
    Boxes boxes = Boxes::Keep;
};

// Composes the session's records and writes them to their files, all of them or, where
// some files fail, keeping the record pending until the rest hold it too. It also reads
// the notes back, codes the query files, and finishes at start-up what a killed run left.
// It runs without a window: it is given the answer box's text and says what became of it.
class RecordBook {
public:
    RecordBook(Session& session, RecordServices services);

    // ---- records/session_header.cpp: start-up, after the set is chosen
    // Before the session header: records a killed run left unfinished, told once.
    void finishLeftOverRecords();
    // Writes the header to the master and send files, offering to mend a missing or
    // unwritable folder; ends the session when the student quits. Where records are sent behind
    // the scenes, a folder that is there gets the header the same way, first in line.
    void writeSessionHeader();

    // ---- records/responses.cpp: Enter Response and Save as Notes
    Boxes enterResponse(const QString& answerBox);
    Boxes saveAsNotes(const QString& answerBox);

    // ---- records/unfinished.cpp: nothing typed or half-recorded is dropped without a word
    // Before the walk goes on or the program ends: finishes an unfinished record and asks
    // about text that was typed but not recorded.
    Settled settleAnswerBox(const QString& answerBox);
    // True while a question to the student about the answer box is open, or a record is on
    // its way to the files: the window is not to be closed under either.
    bool isAsking() const { return asking_; }

    // ---- records/display.cpp
    // The notes file's text for "display notes" (added to currentText), or nothing when
    // there is none to show; the student is told why.
    std::optional<QString> displayNoteFile();

    // ---- records/coding.cpp: line coding
    QString code(const QString& a, double codeNbr) const;
    // The text as coded back, or nothing when a character's computed code falls outside 0..255.
    std::optional<QString> decode(const QString& a, double codeNbr) const;
    QString makeCodeLine(double codeNbr);

    // ---- records/query_files.cpp
    // Codes query.txt into queri.txt; no channel is left open either way.
    std::optional<Failure> codeFile();

    // ---- At the end of the program
    void closeChannels() { channels_.closeAll(); }

    // ---- records/sending.cpp: records kept on this computer first, sent behind the scenes
    // Whether the last record taken was kept on this computer, to be sent behind the scenes.
    bool sentLater() const { return sentLater_; }
    // Records kept on this computer and not yet in the class folder.
    int toSend() const { return sent_ - delivered_; }
    // Before the program ends: waits a while for records still to send, then lets the student
    // wait more or leave them for this computer's next start.
    void sendBeforeLeaving();
    // Says in the session index how the session ended, after its records and as they travel;
    // once, and only for a session whose header some file took.
    void recordEnd(sessionindex::EndEntry::How how);
    // What the student is told, once, when a record kept here cannot reach the class folder yet.
    static QString deliveryTrouble(const QString& what, const QString& name, const QString& path, const QString& reason,
                                   bool waiting, int toSend);

private:
    // Each file's bytes of a record of this kind, composed in full before any is written.
    QList<FileAppend> composeRecord(RecordKind kind, const QString& answer);
    // What either button does with the answer box: record it (unless it holds the reminder)
    // and add it to the transcript. Nothing changes when it was not recorded.
    std::optional<Failure> recordAnswerBox(RecordKind kind, const QString& answerBox);
    // Records the text as a record of its kind in every one of its files.
    std::optional<Failure> recordAnswer(RecordKind kind, const QString& answer);
    // Finishes a record that some of its files took and others did not, unless the student's
    // next click finishes it anyway; asks whether to go on without it where that fails.
    Settled settleUnfinishedRecord(std::optional<RecordKind> nextRecord, const QString& answerBox);
    bool isUnfinished() const;

    // A record and the files still missing it. One that some files did not take stays
    // pending; the next click with the same text completes it instead of writing it twice.
    struct PendingRecord {
        RecordKind kind = RecordKind::Response;
        QString answer;
        QString line;
        QList<FileAppend> files; // still missing the record
        QStringList recordedIn;  // names of the files that took it
        QString journalEntry{};  // kept while some files hold the record and others do not

        bool isFor(RecordKind k, const QString& text, const QString& shownLine) const
        {
            return kind == k && answer == text && line == shownLine;
        }
    };
    // Appends to every file still missing the record, dropping those that took it.
    std::optional<Failure> appendToRecordFiles(PendingRecord& record);
    // The record, or the one pending for the same click, appended; still pending on failure.
    std::optional<Failure> appendPending(PendingRecord record);
    // Why the text, or the line shown, cannot go into the files: characters the code page
    // cannot hold. Empty when it can.
    std::optional<Failure> unwritable(const QString& text) const;
    // The settings every append and the start-up's finishing share.
    AppendSettings appendSettings() const;
    // What the session index is to say of a record of this kind; the session itself with the
    // header's first try.
    IndexNote indexNote(RecordKind kind, bool firstTry) const;
    // The reason a record file gave, or that the network drive went.
    QString reasonTold(RecordKind kind, const QString& reason) const;
    // Tells a failure of a record button; the text stays in the answer box.
    Boxes toldUnlessRecorded(RecordKind kind, const std::optional<Failure>& failure);

    // Whether a record for the chosen folder is sent behind the scenes rather than at once.
    bool sendsLater() const;
    // The record kept in the journal and handed to the delivery; why not, and the text stays.
    std::optional<Failure> keepAndSend(RecordKind kind, const QString& answer);
    // An earlier run's records, handed to the delivery first in line, and told.
    void sendLeftOvers(const QList<BatchRecord>& records);
    // The delivery, made at its first record.
    RecordDelivery& delivery();
    void delivered(int kind);
    void deliveryFailed(int kind, const QString& name, const QString& path, const QString& reason, bool waiting);
    void tellKept(RecordKind kind);
    void say(const QString& text) const;

    Session& session_;
    RecordServices services_;
    DrivePaths drives_;
    Channels channels_;
    std::optional<PendingRecord> pending_;
    bool asking_ = false;

    mutable std::optional<bool> sendsLater_;
    std::unique_ptr<RecordDelivery> delivery_;
    bool sentLater_ = false;
    int sent_ = 0;
    int delivered_ = 0;
    int leftOvers_ = 0;     // the first records sent: an earlier run's
    bool toldKept_ = false; // the student was told some record is only on this computer
    bool keptNotes_ = false;
    bool keptAnswers_ = false;
    bool failureTold_ = false;
    bool headerTaken_ = false; // the session is in the index
    bool endRecorded_ = false;
    QEventLoop* leaving_ = nullptr;
    // The notes file's bytes of each note still to send, by the note's place in line.
    std::deque<std::pair<int, QByteArray>> notesToSend_;
};
