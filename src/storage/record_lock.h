#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "storage/record_intent.h"
#include "storage/record_io.h"

// The lock of a record folder, taken while one record is appended, so that computers whose
// file-system clients keep operating-system locks to themselves still take turns. It is a
// folder, `records.lock`, because making a folder is one step on every file server, also
// through clients whose create-new is a look followed by a create (smbnetfs); the file `holder`
// in it names the holder. It is a lease: its holder rewrites it every few seconds, and a lock
// that nobody has seen change for a fixed time is stale. No clock of another computer is
// trusted: the time is the waiter's own monotonic clock, watching the same bytes.
namespace recordlock {

inline const QString kLockName = QStringLiteral("records.lock");

// The file in a lock's folder that names its holder.
inline QString holderFile(const QString& lock)
{
    return lock + QStringLiteral("/holder");
}

struct Holder {
    QString computer; // the host name, for people
    QByteArray id;    // the installation's own identity: cloned computers share host names
    qint64 process = 0;
    QByteArray lease; // new for every lock taken, so that a lock is told from the next one
    quint32 renewed = 0;
    // How long its holder lets it go unrenewed before taking it for lost, over its own link; a
    // waiter on a faster link waits at least as long before breaking it. 0: not said.
    qint64 staleAfterMs = 0;

    friend bool operator==(const Holder&, const Holder&) = default;
};

// Every renewal has the same length, so that it is rewritten in place.
QByteArray text(const Holder& holder);
std::optional<Holder> parse(const QByteArray& text);
// Who a lock names, in words; a lock of this very process is its own, never "another" tutor's.
QString describe(const std::optional<Holder>& holder, bool readable, const QByteArray& thisId, qint64 thisProcess);
QString hostName();
QByteArray randomHex(int bytes);

// The identity kept in `file` (made on first use, 32 hex digits). One that cannot be kept
// there is made for this run only: still unique, but a lock left by a killed earlier run is
// then judged by its lease alone.
QByteArray computerId(const QString& file);

enum class Verdict { Held, StaleProcessGone, StaleUnrenewed };

struct Judgement {
    Verdict verdict = Verdict::Held;
    QString holder; // who holds the files, in words
};

struct Facts {
    QByteArray content;
    bool readable = true;
    QByteArray thisId;
    qint64 thisProcess = 0;
    std::function<bool(qint64)> processAlive;
    qint64 unchangedForMs = 0; // how long this program has watched the very same lock
    qint64 staleAfterMs = 12000;
};

// Who a tutor waiting for a neighbour on this computer waits for, in words: that neighbour, and
// whom it waits for in turn when the lock of `folder` is another computer's.
QString neighbourOf(const QString& folder, const QByteArray& thisId);

// Stale when its process is gone and it was made on this computer (by identity, not by host
// name), or when it has not changed for the stale time, whatever it names.
Judgement judge(const Facts& facts);

// How long the lock file has shown the same bytes, on this program's monotonic clock.
class Watch {
public:
    qint64 see(const QByteArray& bytes, bool readable, qint64 nowMs);

private:
    bool seen_ = false;
    QByteArray bytes_;
    bool readable_ = false;
    qint64 sinceMs_ = 0;
};

// Milliseconds on a clock that goes on while the computer sleeps: a lease must not outlive a lid
// closed over it.
qint64 clockMs();

struct Timing {
    int waitMs = 30000;       // the longest wait for the files, then a message
    int staleAfterMs = 12000; // a lock watched unchanged this long is stale
    int renewEveryMs = 2000;  // a holder rewrites its lock this often
    // The longest a taker lets a neighbour of this computer that has waited longer go first.
    int yieldMs = 1000;
};

// Advertised stale times above this are garbage, not a slow link.
constexpr qint64 kLongestStaleMs = 600000;
// A call slower than this is a link gone for a while (a partition, a server restarting), not a
// slow one: counted as this, so that one outage does not stretch every later lease and wait to
// minutes, keeping a dead holder's lock in everybody's way.
constexpr qint64 kLongestRoundTripMs = 1500;

// The times of `floors`, grown for a link whose file-system calls take `roundTripMs` each: a
// renewal (about five calls) lands well within half the lease, a wait outlasts a neighbour's
// record and the taker's own over that link (a record is some thirty calls), and a taker lets
// a neighbour in the middle of a look at the holder (a few calls) reach the files first.
Timing sizedFor(const Timing& floors, qint64 roundTripMs);

// The bound of a wait in whole seconds, as the student is told it: never less than the wait.
// Files held by somebody else past the wait: a wait that ran out, not a failure of the files.
QString heldTooLong(const QString& holder, int waitMs);

inline int secondsTold(int waitMs)
{
    return std::max(1, (waitMs + 999) / 1000);
}

// One file-system call to `folder` as this program last measured it while taking its locks,
// slowly forgotten (0: never measured).
qint64 roundTripMs(const QString& folder);
void noteRoundTrip(const QString& folder, qint64 ms);

// The wait for the files of one record, from its click: its bound is the floors' wait, grown
// with the link's round trip as it is measured meanwhile, and the student is told this bound.
class WaitBound {
public:
    WaitBound(const Timing& floors, const QString& folder);
    // Never shorter than told before in the same wait, however the link's times go on.
    Timing timing() const;
    qint64 startMs() const { return startMs_; }
    qint64 waitedMs() const { return clockMs() - startMs_; }
    bool expired() const { return expiredFor(0); }
    // No room left for a step as long as `stepMs` within the bound: the wait ends before it.
    bool expiredFor(qint64 stepMs) const { return waitedMs() + stepMs >= timing().waitMs; }

private:
    Timing floors_;
    QString folder_;
    qint64 startMs_;
    mutable int longestWaitMs_ = 0;
};

// The writers of one computer take the files in the order they began to wait: one that has
// just let go does not take them again before a neighbour that waited longer had its chance.
// A waiter's ticket is a file in a folder of this computer's local data, named for the record
// folder, when it began to wait and its process; a ticket of a process that is gone, or older
// than any wait, counts for nothing.
struct Ticket {
    qint64 sinceMs = 0;
    qint64 process = 0;
    friend bool operator==(const Ticket&, const Ticket&) = default;
};

// Whether `mine` lets another waiter go first: one that is alive, began to wait earlier (by
// process number on a tie) and has waited at least `yieldMs`, for as long as `mine` has not yet
// let others go for `yieldMs`.
bool letsGoFirst(const QList<Ticket>& waiting, const Ticket& mine, qint64 nowMs, qint64 yieldedMs, qint64 yieldMs,
                 const std::function<bool(qint64)>& alive);

class Turn {
public:
    // `turns`: the folder of the tickets; none: every taker for itself.
    Turn(const QString& turns, const QString& recordFolder, qint64 sinceMs, qint64 process = recordio::processId());
    ~Turn() { done(); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    // Shows this waiter's ticket to its neighbours (once).
    void waiting();
    // Whether an earlier waiter goes first now; tickets of processes that are gone are removed.
    bool othersFirst(qint64 yieldedMs, qint64 yieldMs);
    // No earlier waiter was seen at the last look: the next to take the files, so it tries
    // often.
    bool nextInLine() const { return !earlier_; }
    // The files are taken, or the wait given up: the ticket goes.
    void done();

private:
    QString turns_;
    QString prefix_;
    Ticket mine_;
    QString file_;
    bool earlier_ = false;
};

// Told while a record waits for the files (who holds them, that the tutor waits), and with an
// empty text when the wait is over.
using WaitingHook = std::function<void(const QString&)>;

class WaitNotice {
public:
    explicit WaitNotice(WaitingHook hook) : hook_(std::move(hook)) {}
    ~WaitNotice() { done(); }
    WaitNotice(const WaitNotice&) = delete;
    WaitNotice& operator=(const WaitNotice&) = delete;
    // Tells `holder` once the wait has lasted a moment, and again when the holder changes.
    void waiting(const QString& holder, qint64 waitedMs, int waitMs);
    void done();

private:
    WaitingHook hook_;
    QString told_;
};

enum class BreakResult { Removed, Gone, NotTheOne, Busy, Unfinished };

// The last step of a break: the lock at `path` is taken away only if it is the one judged, its
// holder file moved within it to a name of this breaker's own first; one made since the look is
// left in place. Not after `notAfterMs` (steady clock): a breaker that stalled since it looked
// must look again.
BreakResult moveAsideIfSame(const QString& path, const QByteArray& judged, bool judgedReadable, qint64 notAfterMs,
                            qint64 staleAfterMs);

// One breaker at a time, under a token of its own made like a lock (`records.lock.breaking`): the lock at
// `path` is looked at once more, its holder's intent is finished, and it is taken away only when
// it is the very lock judged stale (`judged`); one made meanwhile by somebody else stays. An
// intent that cannot be finished keeps the lock where it is (Unfinished, and why in
// `unfinished`). A token is a lease too: one left by a breaker that died or stalls is judged like
// a lock, watched across this program's waits, and broken in turn.
BreakResult breakStale(const QString& path, const QByteArray& judged, bool judgedReadable, const QByteArray& id,
                       int staleAfterMs, QString* unfinished = nullptr);

enum class Declared { Held, Lost, Failed };

// Holds the lock of one folder while it lives; never left behind on a path the program
// controls.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Nothing when held, otherwise why not in plain words.
    std::optional<QString> acquire(const QString& folder, const WaitBound& wait, const QByteArray& computerId,
                                   WaitNotice* notice = nullptr);
    // Whether the lease still holds, renewed when due, and the lock on the share still ours.
    // False once it may have been broken or moved: then nothing more may be written under it.
    bool confirm();
    // Puts what is about to be written into the lock, then confirms the lease: only after Held
    // may a record file be touched. Failed: the intent could not be written (why in `why`).
    Declared declare(const QList<recordintent::Part>& parts, QString* why = nullptr);
    // Every part of the intent is written and read back.
    void written() { unfinished_ = false; }
    // An intent not known to be written is finished first; one that cannot be stays in the lock,
    // which stays too, for whoever takes it next.
    void release();
    // At the last release, the lock was found taken away by somebody else (who finished its
    // intent), not by this holder.
    bool takenFromUs() const { return takenFromUs_; }
    // The last acquire gave up because somebody else held the lock for the whole wait.
    bool waitRanOut() const { return waitRanOut_; }
    QString path() const { return path_; }

private:
    void hold(const QString& path, const Holder& ours, const Timing& timing, qint64 madeAt);
    bool renew();
    void renewing();
    void stopRenewing();

    QString path_;
    Holder ours_;
    Timing timing_;
    std::mutex mutex_; // guards ours_ and the file between the two threads
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread renewer_;
    // The start of the last renewal known to have reached the lock, monotonic milliseconds.
    std::atomic<qint64> lastGoodMs_{0};
    std::atomic<bool> lost_{false};
    QList<recordintent::Part> intent_;
    bool unfinished_ = false;
    bool takenFromUs_ = false;
    bool waitRanOut_ = false;
};

} // namespace recordlock
