#pragma once

// What every append shares, whoever asks for it (a click, the delivery, the start-up's finishing):
// the locks taken, the jobs written under them, the session index's entries. Only for src/storage.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "record_intent.h"
#include "record_io.h"
#include "record_journal.h"
#include "storage/record_files.h"
#include "storage/record_lock.h"

namespace recordsteps {

QString folderOf(const QString& path);

// Why a holder whose lease ran out wrote nothing more.
extern const QString kTakenOver;

// ---- record_take_locks.cpp

// The locks one append or one start-up takes: an operating-system lock on each file (once per
// path), kept open for the whole step, and the lock of each folder.
struct Locks {
    QHash<QString, size_t> osIndex;
    std::vector<recordio::File> os;
    QHash<QString, std::shared_ptr<recordlock::FolderLock>> folders;

    // The file the step itself writes: the one its operating-system lock was taken by, or where
    // a network client (sshfs) takes a file's size when it opens it and answers from that for a
    // while after, one opened once more under the locks, as the size it took before the wait is
    // old by now.
    QHash<QString, recordio::File*> step;
    std::vector<std::unique_ptr<recordio::File>> fresh;
    // The paths whose operating-system lock is held on a stand-in on this computer's own disk.
    QSet<QString> standIns;
    bool roundTripNoted = false;

    // The step's own handle on the file (see `step`).
    int open(const QString& path, recordio::File*& out);
    recordio::File& file(const QString& path) { return *step.value(path); }
};

// The file refused (by its place in the list) and why; whether somebody else held the files for
// the whole wait (a wait, not a failure).
struct Refusal {
    qsizetype file = 0;
    QString why;
    bool waitRanOut = false;
};
// Every lock these files need, all within one deadline; the file refused and why, if any.
std::optional<Refusal> takeLocks(const QList<FileAppend>& files, const AppendSettings& settings, const QByteArray& id,
                                 const recordlock::WaitBound& wait, recordlock::WaitNotice& notice, Locks& locks);

// ---- record_write_under.cpp

// Where this program last saw each record file end (under the locks, or after its own write), and
// where its own last entries ended each index, in this run. A file only grows, so a record
// composed now lies at or after that end, known without asking the file server; and an index
// that still ends where this program's entries ended it ends with their line end.
class KnownEnds {
public:
    std::optional<qint64> of(const QString& path) const
    {
        std::lock_guard guard(mutex_);
        const auto it = ends_.constFind(path);
        return it == ends_.constEnd() ? std::nullopt : std::optional<qint64>(*it);
    }
    void set(const QString& path, qint64 end)
    {
        std::lock_guard guard(mutex_);
        ends_.insert(path, end);
    }

private:
    mutable std::mutex mutex_;
    QHash<QString, qint64> ends_;
};
KnownEnds& knownEnds();

// One file's share of a record to write under the locks; with `sizeBefore` (a record that may
// have reached the file already) the file is looked at first and written only when it lacks it.
struct Job {
    FileAppend file;
    std::optional<qint64> sizeBefore{};
    IndexNote index{};
    qsizetype record = 0; // the jobs of one record are next to one another, in the order of its files
};

// A share without bytes carries only index entries (a session's end): no record file is written.
bool indexOnly(const Job& job);
// The session index beside a record file.
QString indexPathOf(const QString& recordFile);

enum class Step { Written, AlreadyHeld, LeaseLost, Failed, NotReached };

struct Steps {
    // One per job: a record's files that took it are its first ones. Each file's shares are
    // written together, so after a failure a later record may hold its first files.
    QList<Step> done;
    QString reason;           // why those that failed did not
    qsizetype failedJob = -1; // the job the reason is about, where it is not the first that failed
    bool touched = false;     // some record file may hold part of a record that is not known whole
    // Where each file's share was to go: once in a lock, an intent may be finished by whoever
    // breaks that lock, so a record whose lease ran out is looked for there before it is written.
    QHash<QString, qint64> intended;
    // The session index that did not take the record's entries, and why.
    QString indexPath;
    QString indexFailure;
};

// The jobs under the locks: each file's end as the file server has it, the whole intent into
// each folder's lock, then each file's shares in one write, flushed and read back. Nothing more
// is written after a write that does not succeed.
Steps writeUnder(Locks& locks, const QList<Job>& jobs);

// ---- record_index_write.cpp

// A folder's session index for one step: where the step's entries go, taken under the locks
// before the intent is written, so that they are part of it and whoever finishes the intent
// writes them too, at the same offset.
struct IndexTarget {
    QString folder;
    QString path;
    recordio::File file;
    qint64 at = 0;
    std::optional<char> lastByte;

    QByteArray bytes(const QList<sessionindex::Entry>& entries) const
    {
        return sessionindex::bytesToAppend(entries, lastByte);
    }
};

// Each folder's index with entries to take, its end found; an index that cannot be looked at
// is only said, and the records go on without it.
std::vector<IndexTarget> indexTargets(const QList<Job>& jobs, const QList<qint64>& at,
                                      QHash<QString, QList<recordintent::Part>>& intents, Steps& steps);
// The entries of the jobs before `upTo` that were written, at the offset the intent gave them,
// still under the locks. A holder whose lease ran out writes them only where the index ends
// inside them, as a breaker does: a breaker may have written them already, and others may have
// appended after them. A failure here is only said: the records are in their files whatever
// becomes of the index.
void writeIndex(std::vector<IndexTarget>& targets, const QList<Job>& jobs, const QList<qint64>& at, qsizetype upTo,
                Locks& locks, Steps& steps);
// Whether the index holds the job's end entry at or after `from` (where it ended when the entry
// was kept). An index that cannot be read is taken to hold it: a session's end said twice would
// be worse than one not said.
bool indexHolds(const Job& job, qint64 from);

// The index entries a journal entry keeps with its files, as its opaque note.
QByteArray encodeNote(const IndexNote& note);
IndexNote decodeNote(const QByteArray& bytes);

// ---- record_batch.cpp

// Several records' shares under one taking of the locks, within one wait: one intent per folder,
// each folder's index entries in one write.
struct BatchSteps {
    QList<FileAppend> all; // every share, in order
    std::optional<Refusal> refused{};
    Steps steps{};
};
BatchSteps writeBatch(const QList<Job>& jobs, const AppendSettings& settings);

// What became of one record's shares in a batch, those from `first`.
struct RecordSteps {
    qsizetype took = 0; // the shares that took it, the first ones
    QStringList added;  // names of the files written now, and of those that held it already
    QStringList held;
    QString failedName{}; // the first that did not take it (none: all did)
    QString failedPath{};
    QString reason{};
    bool waitRanOut = false;
};
// Why a record after one that failed in the same line was not tried.
inline const QString kEarlierFirst = QStringLiteral("an earlier record could not be finished first");
RecordSteps stepsOf(const BatchSteps& batch, qsizetype first, qsizetype count);

// ---- record_append.cpp

// Each file's share as the journal keeps it, with where the file ended as far as this run knows
// (or, with `askServer`, as the file server says).
QList<journal::File> journalFiles(const QList<FileAppend>& files, bool askServer = true);
// A journal folder that cannot be written is named once in a run, not at every record.
bool firstTimeFor(const QString& folder);
// Said once per index in a run, as the journal's failure is.
QString indexFailureMessage(const Steps& steps);

} // namespace recordsteps
