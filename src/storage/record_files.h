#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

#include "platform/failure.h"
#include "storage/record_lock.h"
#include "storage/session_index.h"

class QFile;

// One file's share of a record: its name as the program gives it, where it lies on
// disk, and the bytes to append.
struct FileAppend {
    QString name;
    QString path;
    QByteArray bytes;
};

// What became of a record. Files are taken in order; those before the failing one
// hold the record, the failing one and those after it do not.
// What the session index is to say of a record: the session it belongs to (none: nothing is
// said), whether it is the session's header, and with the header the session itself, once.
struct IndexNote {
    QByteArray session;
    sessionindex::PlaceEntry::Kind kind = sessionindex::PlaceEntry::Kind::Record;
    std::optional<sessionindex::SessionEntry> start{};
    // How the session ended. Given with one file share without bytes, it is the index's only
    // entry of that share: the share names the folder and the lock, and nothing is written there.
    std::optional<sessionindex::EndEntry> end{};
};

struct AppendOutcome {
    QStringList written; // names of the files that took the record
    QString failedName;  // empty when every file took it
    QString failedPath;
    QString reason; // in plain words
    // Kept while some files hold the record and others do not; give it back on the retry.
    QString journalEntry{};
    // The journal folder could not take the record, why, and that recording went on without
    // it; said once per journal folder in a run.
    QString journalFailure{};
    // The session index could not take the record's entries, why, and that recording went on
    // without them; said once per record folder in a run.
    QString indexFailure{};
    // A write began in the failed file and no answer told whether it arrived: the record may be
    // there. The journal entry is kept, and the retry looks for the record before writing it.
    bool outcomeUnknown = false;
    // This computer stopped answering while it wrote, and another took the files over; the files
    // were looked at afterwards, and what `written` says is what they hold, once.
    bool tookOver = false;
    // Somebody else held the record files for the whole wait: nothing is wrong with them, and the
    // record is only waiting for its turn.
    bool waitRanOut = false;

    bool ok() const { return failedName.isEmpty(); }
};

struct AppendSettings {
    QString journalFolder; // none: no journal
    recordlock::Timing lock;
    // Told while a record waits for the files (who holds them), with an empty text at the end.
    recordlock::WaitingHook waiting{};
    // This computer's identity; none: `computer-id` beside the journal folder, in the tutor's
    // own local data.
    QString identityFile{};
    // The record's entries in the session index beside the record files.
    IndexNote index{};
};

// The identity file the settings name.
QString identityFileOf(const AppendSettings& settings);

// Appends one record to several files so that it holds across computers sharing one folder:
// every file is opened read-write once and locked (an operating-system lock, and the folder's
// lock made atomically), each file's end is taken as the file server has it, the record's bytes
// and offsets are put into the folder's lock (its intent, which whoever breaks the lock finishes
// first), and the record is written there, flushed to the disk, read back and compared. A write
// that fails is made again with the same bytes; on a network folder one that cannot be finished
// stays in the lock for the next taker, and only on this computer's own disk is the record's own
// part cut back. With a journal folder the record is kept there from before the first file is
// touched until every file holds it. A retry of a record passes the journal entry the first
// attempt gave back: every file is looked at for the record before it is written again.
// `lookFirst` false: the entry was kept by keepInJournal and nothing was written from it yet.
AppendOutcome appendRecord(const QList<FileAppend>& files, const AppendSettings& settings = {},
                           const QString& journalEntry = {}, bool lookFirst = true);

// Records kept in the journal by keepInJournal, delivered under one hold of the locks: one intent
// per folder covers them all, and each folder's index takes their entries in one write. What
// became of each, in order; a record after one that failed is not written. As for appendRecord,
// the entry of a record that every file took is dropped, the others' given back.
struct BatchRecord {
    QList<FileAppend> files;
    QString entry;
    IndexNote index{};
    bool lookFirst = false; // some file may hold it already
};
// The most records delivered under one hold of the locks: a computer catching up lets the
// others in between.
inline constexpr qsizetype kMostRecordsInOneHold = 64;
QList<AppendOutcome> appendBatch(const QList<BatchRecord>& records, const AppendSettings& settings);

// The record kept in the journal, flushed, before any record file is touched: its entry, or
// empty and why. Asks the file server nothing: where a file's end is not known yet, a later
// look for the record starts at the file's beginning.
QString keepInJournal(const QList<FileAppend>& files, const AppendSettings& settings, QString* why);

// Finishes the records that a run ended before every file held them: each into the files
// still missing it, found from their bytes, never twice, all under one taking of the locks
// within one wait. What became of each entry; the records layer words it for the student.
struct LeftOvers {
    struct Finished {
        QStringList added; // names of the files it was written to now
        QStringList held;  // and of those that held it already
    };
    struct Unfinished {
        QString name; // the file that could not take it
        QString path;
        QString reason;
        QString entry; // where it is kept for the next start
    };
    struct Unreadable {
        QString where; // where the entry was set aside
        bool otherVersion = false;
    };
    QList<Finished> finished; // only those that some file took now
    QList<Unfinished> unfinished;
    QList<Unreadable> unreadable;
    // Why the journal cannot be used ("folder: reason"), said once per journal folder in a run.
    QStringList problems;
    // As AppendOutcome's: the index entries of the records finished now.
    QString indexFailure{};

    bool empty() const
    {
        return finished.isEmpty() && unfinished.isEmpty() && unreadable.isEmpty() && problems.isEmpty() &&
               indexFailure.isEmpty();
    }
};
LeftOvers finishJournal(const AppendSettings& settings);
// The same records, to be delivered behind the scenes instead (appendBatch, RecordDelivery): those
// that read whole, oldest first, each locked for this process and looked for before it is written;
// the others set aside and told in `told`, as finishJournal tells them.
QList<BatchRecord> takeLeftOverRecords(const AppendSettings& settings, LeftOvers& told);

// Numbered channels for reading and writing whole files line by line.
class Channels {
public:
    enum class Mode { Input, Output, Append };
    static constexpr int kCount = 3;

    Channels();
    ~Channels();

    std::optional<Failure> open(int channel, const QString& path, Mode mode);
    // A line ends at CR LF or a lone CR; the end is not part of it.
    QByteArray readLine(int channel);
    bool atEnd(int channel) const;
    std::optional<Failure> write(int channel, const QByteArray& bytes);
    void close(int channel);
    void closeAll();

private:
    QFile* file(int channel) const;
    std::array<std::unique_ptr<QFile>, kCount> files_;
};
