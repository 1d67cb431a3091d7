#include "record_lock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#endif

#include "record_intent.h"
#include "record_io.h"
#include "record_lock_files.h"
#include "storage/plain_reason.h"

namespace recordlock {
namespace {

using namespace lockfiles;

const QString kBreakingSuffix = QStringLiteral(".breaking");

// A lease outlives one wait: a lock or a breaker's token that stays the same while one click after
// another waits for it is stale a stale time after the first saw it, not never. Bytes that name no
// lease are not told from the same bytes seen again later, and count only while watched closely.
qint64 watched(const QString& key, const Content& seen, qint64 staleAfterMs)
{
    struct Seen {
        Watch watch;
        qint64 lastMs = 0;
    };
    static std::mutex mutex;
    static QHash<QString, Seen> known;
    std::lock_guard guard(mutex);
    const qint64 now = clockMs();
    const qint64 forgetAfterMs = seen.readable && parse(seen.bytes) ? staleAfterMs : 1000;
    Seen& s = known[key];
    if (s.lastMs != 0 && now - s.lastMs > forgetAfterMs)
        s = {};
    s.lastMs = now;
    return s.watch.see(seen.bytes, seen.readable, now);
}

// What this program knows of a lock or token it has just read, to be judged.
Facts factsOf(const QString& key, const Content& seen, const QByteArray& thisId, qint64 staleAfterMs)
{
    Facts facts;
    facts.content = seen.bytes;
    facts.readable = seen.readable;
    facts.thisId = thisId;
    facts.thisProcess = recordio::processId();
    facts.processAlive = recordio::processAlive;
    facts.unchangedForMs = watched(key, seen, staleAfterMs);
    facts.staleAfterMs = staleAfterMs;
    return facts;
}

// What a breaker finishes before the lock goes: the intent its holder file names, or, in a lock
// whose holder file is gone (its holder stopped half-way through letting go, or another's move
// took it), every intent in it.
std::optional<QString> finishIntents(const QString& path, const QByteArray& judged, bool judgedReadable)
{
    QStringList files;
    if (judgedReadable)
        files << recordintent::fileOf(path, leaseOf(judged));
    else
        for (const QString& name : QDir(path).entryList({QStringLiteral("intent.*")}, QDir::Files | QDir::Hidden))
            files << path + u'/' + name;
    for (const QString& file : std::as_const(files)) {
        // An intent that is missing or cannot be read was never taken by the file server (its
        // write and close are checked before any record file is touched), so its holder wrote
        // nothing that needs finishing.
        const auto intent = recordintent::read(file);
        if (!intent || intent->isEmpty())
            continue;
        if (auto why = recordintent::finish(folderOf(path), *intent))
            return why;
    }
    return std::nullopt;
}

// Past this a breaker has stalled for most of the time after which others take its token for
// stale, and what it saw may be old. Never below a few milliseconds, so that the very short
// leases of tests still let a lock go.
qint64 stallOf(qint64 staleAfterMs)
{
    return std::max<qint64>(staleAfterMs * 2 / 3, 50);
}

// A breaker killed after the lock went (its holder woke and let go, or it broke the lock and
// died before its token) leaves its token with no lock beneath it, where no break comes to judge
// it: the takers of the lock look at the token too. One seen there is looked at at every take;
// otherwise about twice a stale time (a look is a call to the file server), often enough for its
// watch to see it unchanged for a whole stale time.
struct TokenLooks {
    bool there = false;
    qint64 lookedMs = 0;
};
std::mutex tokensMutex;
QHash<QString, TokenLooks>& tokenLooks()
{
    static QHash<QString, TokenLooks> known;
    return known;
}

void noteToken(const QString& token, bool there)
{
    std::lock_guard guard(tokensMutex);
    tokenLooks()[token] = {there, clockMs()};
}

bool tokenDue(const QString& token, qint64 staleAfterMs)
{
    std::lock_guard guard(tokensMutex);
    const auto it = tokenLooks().constFind(token);
    return it == tokenLooks().cend() || it->there || clockMs() - it->lookedMs >= staleAfterMs / 2;
}

// About once a second (more often for the short leases of tests): a look at the token costs a
// call to the file server.
void watchToken(const QString& lock, qint64 staleAfterMs, qint64& lookedMs)
{
    const qint64 now = clockMs();
    if (lookedMs != 0 && now - lookedMs < std::min<qint64>(1000, staleAfterMs / 10))
        return;
    lookedMs = now;
    const QString token = lock + kBreakingSuffix;
    const Content seen = readLock(token);
    noteToken(token, seen.exists);
    if (seen.exists)
        watched(token, seen, staleAfterMs);
}

// A token judged stale by the lease rule goes, as a stale lock goes; a live breaker's never.
void takeAwayIfStale(const QString& token, const Content& seen, const QByteArray& id, qint64 staleAfterMs)
{
    noteToken(token, seen.exists);
    if (!seen.exists || judge(factsOf(token, seen, id, staleAfterMs)).verdict == Verdict::Held)
        return;
    const BreakResult r =
        moveAsideIfSame(token, seen.bytes, seen.readable, clockMs() + stallOf(staleAfterMs), staleAfterMs);
    if (r == BreakResult::Removed || r == BreakResult::Gone)
        noteToken(token, false);
}

// A taker killed between making a lock or token and moving it into place leaves it staged under
// a name of its own, in nobody's way but for ever. One made by a process of this computer that
// has ended is dead at once; another computer's only once older than two stale times by the file
// server's own clock (against the holder file just made), as staging lasts a few calls. A taker
// that wakes after its staged one went has its move refused and tries again. A listing costs a
// call, so it is made at most once per two stale times and folder.
void sweepStaged(const QString& folder, const QString& lock, const QByteArray& computerId, qint64 staleAfterMs)
{
    {
        std::lock_guard guard(tokensMutex);
        static QHash<QString, qint64> sweptMs;
        qint64& last = sweptMs[folder];
        if (last != 0 && clockMs() - last < 2 * staleAfterMs)
            return;
        last = clockMs();
    }
    const QDateTime ours = QFileInfo(holderFile(lock)).lastModified();
    const QFileInfoList staged = QDir(folder).entryInfoList({kLockName + QStringLiteral(".*.new")},
                                                            QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& s : staged) {
        const Content seen = readLock(s.filePath());
        const auto holder = seen.readable ? parse(seen.bytes) : std::nullopt;
        const bool endedHere = holder && holder->id == computerId && holder->process != recordio::processId() &&
                               !recordio::processAlive(holder->process);
        if (endedHere || (ours.isValid() && s.lastModified().msecsTo(ours) > 2 * staleAfterMs))
            removeLock(s.filePath());
    }
}

// One breaker at a time: the token is a lock of its own, created atomically. Made: nothing;
// otherwise Busy, and a token of a breaker that died or stalled goes the way of a stale lock.
std::optional<BreakResult> makeToken(const QString& token, const QByteArray& ours, const QByteArray& id,
                                     qint64 staleAfterMs, qint64* madeAt)
{
    Content there{{}, false, false}; // filled only by a look after a refused move
    if (makeLock(token, ours, madeAt, &there) == 0)
        return std::nullopt;
    // The look after a refused move says who holds it: not looked at twice.
    takeAwayIfStale(token, there.exists ? there : readLock(token), id, staleAfterMs);
    return BreakResult::Busy;
}

// Under the token, once more: a holder that renewed since keeps its lock. What its holder was
// writing is finished first, while the lock still keeps everybody else out; a breaker that
// stalls here and is overtaken writes the same bytes again.
BreakResult breakUnderToken(const QString& path, const QByteArray& judged, bool judgedReadable, const QString& token,
                            Holder& mine, qint64 notAfter, qint64 staleAfterMs, QString* unfinished)
{
    const Content now = readLock(path);
    if (!now.exists)
        return BreakResult::Gone;
    if (!now.same(judged, judgedReadable))
        return BreakResult::NotTheOne;
    if (auto why = finishIntents(path, judged, judgedReadable)) {
        if (unfinished)
            *unfinished = *why;
        return BreakResult::Unfinished;
    }
    // The token shows it is still at work, for as long again.
    const QByteArray ours = text(mine);
    ++mine.renewed;
    const qint64 at = clockMs();
    if (at < notAfter && rewriteIfOurs(token, ours, text(mine)) == 0)
        notAfter = at + stallOf(staleAfterMs);
    return moveAsideIfSame(path, judged, judgedReadable, notAfter, staleAfterMs);
}

} // namespace

BreakResult breakStale(const QString& path, const QByteArray& judged, bool judgedReadable, const QByteArray& id,
                       int staleAfterMs, QString* unfinished)
{
    const QString token = path + kBreakingSuffix;
    Holder mine{hostName(), id, recordio::processId(), randomHex(16), 0, staleAfterMs};
    qint64 madeAt = 0;
    if (auto busy = makeToken(token, text(mine), id, staleAfterMs, &madeAt))
        return *busy;
    // Counted from when the token was made (or last rewritten), however slow the link.
    const BreakResult result = breakUnderToken(path, judged, judgedReadable, token, mine,
                                               madeAt + stallOf(staleAfterMs), staleAfterMs, unfinished);
    // Our own token only: after a stall somebody may have broken it and taken the next one.
    const Taken gone = takeAwayIf(
        token, [&](const Content& c) { return c.readable && leaseOf(c.bytes) == mine.lease; }, staleAfterMs);
    noteToken(token, gone != Taken::It && gone != Taken::Gone);
    return result;
}

namespace {

// What one try at the lock came to, and what the wait does next.
struct Try {
    enum { Held, Again, Wait, Refused } next = Again;
    QString why; // Refused: why, in plain words
};

// Counted across the tries of one wait for the lock.
struct Tries {
    const QString& folder;
    const QString& path;
    const WaitBound& wait;
    const QByteArray& id;
    int permissionFailures = 0;
    int transientFailures = 0;
    int breaks = 0;
    int refusal = 0;    // a refusal with no lock there, retried in case the client misnamed one
    bool broke = false; // a lock just broken is taken at once, even at the deadline
    qint64 tokenLookedMs = 0;
    QString holder = QStringLiteral("another program");

    QString heldTooLong() const { return recordlock::heldTooLong(holder, wait.timing().waitMs); }
};

// A make refused: tried again at once after a passing failure, judged when a lock is there.
Try afterRefusedMake(Tries& t, int error)
{
    // A client that lost its connection to the file server for a moment (smbnetfs while another
    // computer removes a folder) says so with these; the look is made again.
    if ((error == EIO || error == EBUSY || error == EAGAIN) && ++t.transientFailures < 50) {
        recordio::pause(std::min(2 * t.transientFailures, 50));
        return {};
    }
    const QFileInfo info(t.path);
    // Some network clients report a file that exists as a permission failure, and its holder may
    // have removed it again before the look; a real one stays.
    if (isPermission(error) && !info.exists() && ++t.permissionFailures < 20) {
        t.refusal = error;
        return {};
    }
    if (error != EEXIST && !(isPermission(error) && info.exists()))
        return {Try::Refused, plainReason(error == EAGAIN ? EIO : error, t.path)}; // a move that kept failing
    return {Try::Wait, {}};
}

// The lock that refused the make, judged, and broken when stale.
Try judgeAndBreak(Tries& t, const Content& seen, const Timing& timing)
{
    const Facts facts = factsOf(t.path, seen, t.id, timing.staleAfterMs);
    const Judgement judgement = judge(facts);
    t.holder = judgement.holder;
    // A breaker cut off or killed half-way leaves its token: watched while the lock still waits
    // its turn, so that both stale times run together within one wait, not one after the other.
    if (judgement.verdict == Verdict::Held) {
        if (!seen.readable || facts.unchangedForMs >= timing.staleAfterMs / 2)
            watchToken(t.path, timing.staleAfterMs, t.tokenLookedMs);
        return {Try::Wait, {}};
    }
    QString why;
    const BreakResult broken = breakStale(t.path, seen.bytes, seen.readable, t.id, timing.staleAfterMs, &why);
    // Breaks that found another breaker at work count for nothing: that one ends, or its token
    // goes stale and is broken in turn, within the wait.
    if (broken == BreakResult::Busy)
        return {Try::Wait, {}};
    ++t.breaks;
    if (broken == BreakResult::Unfinished)
        return {Try::Refused, QStringLiteral("a record that %1 began there cannot be completed (%2), and nothing "
                                             "more can be written there until it is")
                                  .arg(t.holder, why)};
    t.broke = broken == BreakResult::Removed;
    return {};
}

// One make of the lock; the lock that refused it judged.
Try tryOnce(Tries& t, const Timing& timing, Holder* made, qint64* madeAt)
{
    // The stale time is said in the lock, so that waiters on faster links give this holder as
    // long as it gives itself.
    const Holder candidate{hostName(), t.id, recordio::processId(), randomHex(16), 0, timing.staleAfterMs};
    Content there{{}, false, false};
    const qint64 makeStartedMs = clockMs();
    const int error = makeLock(t.path, text(candidate), madeAt, &there);
    // Staging the lock is four calls on the file server (its folder, the holder file's create,
    // write and close): the round trip while taking the lock.
    if (*madeAt > 0)
        noteRoundTrip(t.folder, (*madeAt - makeStartedMs) / 4);
    if (error == 0) {
        *made = candidate;
        return {Try::Held, {}};
    }
    Try next = afterRefusedMake(t, error);
    if (next.next != Try::Wait)
        return next;
    // A refused move was followed by a look at the lock already: judged on what it found.
    const Content seen = there.exists ? there : readLock(t.path);
    return seen.exists ? judgeAndBreak(t, seen, timing) : Try{};
}

} // namespace

void FolderLock::hold(const QString& path, const Holder& ours, const Timing& timing, qint64 madeAt)
{
    std::lock_guard guard(mutex_);
    path_ = path;
    ours_ = ours;
    timing_ = timing;
    lastGoodMs_ = madeAt;
    lost_ = false;
    stop_ = false;
    intent_.clear();
    unfinished_ = false;
    renewer_ = std::thread([this] { renewing(); });
}

std::optional<QString> FolderLock::acquire(const QString& folder, const WaitBound& wait, const QByteArray& computerId,
                                           WaitNotice* notice)
{
    release();
    takenFromUs_ = false;
    waitRanOut_ = false;
    const QString path = folder + u'/' + kLockName;
    Tries t{folder, path, wait, computerId};
    int pauseMs = 1;
    // How long the last try took (a make and a look, more over a slow link): the wait ends
    // before a try that would end past the bound the student was told.
    qint64 tryMs = 0;
    // Bounded however the lock behaves: by the deadline, and by a count of breaks.
    for (int tries = 0; t.breaks < 50; ++tries) {
        if (tries > 0 && !t.broke && wait.expiredFor(tryMs)) {
            if (t.refusal != 0)
                return plainReason(t.refusal, path);
            waitRanOut_ = true;
            return t.heldTooLong();
        }
        const qint64 tryStartedMs = clockMs();
        t.refusal = 0;
        t.broke = false;
        // Sized from the link as measured so far.
        const Timing timing = wait.timing();
        Holder made;
        qint64 madeAt = 0;
        const Try next = tryOnce(t, timing, &made, &madeAt);
        if (next.next == Try::Held) {
            hold(path, made, timing, madeAt);
            const QString token = path + kBreakingSuffix;
            if (tokenDue(token, timing.staleAfterMs))
                takeAwayIfStale(token, readLock(token), computerId, timing.staleAfterMs);
            sweepStaged(folder, path, computerId, timing.staleAfterMs);
            return std::nullopt;
        }
        if (next.next == Try::Refused)
            return next.why;
        if (next.next == Try::Again)
            continue;
        if (notice)
            notice->waiting(t.holder, wait.waitedMs(), wait.timing().waitMs);
        tryMs = clockMs() - tryStartedMs;
        if (wait.expiredFor(tryMs + pauseMs)) {
            waitRanOut_ = true;
            return t.heldTooLong();
        }
        recordio::pause(pauseMs);
        pauseMs = std::min(pauseMs * 2, 20);
    }
    return QStringLiteral("the lock %1 keeps coming back stale; please tell the instructor").arg(native(path));
}

Declared FolderLock::declare(const QList<recordintent::Part>& parts, QString* why)
{
    if (path_.isEmpty() || lost_)
        return Declared::Lost;
    if (!parts.isEmpty()) {
        const QString file = recordintent::fileOf(path_, ours_.lease);
        bool remote = false;
        if (const int error = recordintent::write(file, parts, &remote)) {
            // A lock moved away meanwhile has no folder left to write into: its lease is lost,
            // whatever the clock says.
            if (!confirm())
                return Declared::Lost;
            if (why)
                *why = writeReason(error, remote, file);
            recordio::removeFile(file);
            return Declared::Failed;
        }
    }
    // The intent is whole in the lock before this look: whoever breaks the lock after it
    // finishes the intent, and whatever this holder writes from here on is the same bytes.
    intent_ = parts;
    unfinished_ = !parts.isEmpty();
    return confirm() ? Declared::Held : Declared::Lost;
}

bool FolderLock::renew()
{
    std::lock_guard guard(mutex_);
    if (path_.isEmpty() || lost_)
        return false;
    const qint64 startMs = clockMs();
    // An expired lease is never taken up again: somebody may be breaking it this moment.
    if (startMs - lastGoodMs_ >= timing_.staleAfterMs / 2) {
        lost_ = true;
        return false;
    }
    Holder next = ours_;
    ++next.renewed;
    const int error = rewriteIfOurs(path_, text(ours_), text(next));
    if (error == kNotOurs)
        lost_ = true;
    if (error != 0)
        return false;
    ours_ = next;
    lastGoodMs_ = startMs;
    return true;
}

void FolderLock::renewing()
{
    std::unique_lock wait(mutex_);
    while (!stop_) {
        const int every = std::max(1, timing_.renewEveryMs);
        if (wake_.wait_for(wait, std::chrono::milliseconds(every), [this] { return stop_; }))
            break;
        wait.unlock();
        const bool ok = renew();
        wait.lock();
        if (!ok && lost_)
            break;
    }
}

bool FolderLock::confirm()
{
    if (path_.isEmpty() || lost_)
        return false;
    if (clockMs() - lastGoodMs_ >= timing_.staleAfterMs / 2)
        return renew();
    // Within the lease by the clock, but the lock may have been moved away by a computer that
    // woke from a stall: the share says whose it is.
    std::lock_guard guard(mutex_);
    const Content c = readLock(path_);
    if (c.readable && leaseOf(c.bytes) == ours_.lease)
        return !lost_;
    lost_ = true;
    return false;
}

void FolderLock::stopRenewing()
{
    {
        std::lock_guard guard(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (renewer_.joinable())
        renewer_.join();
}

void FolderLock::release()
{
    stopRenewing();
    if (path_.isEmpty())
        return;
    // One that may have been broken is looked at first: a lock somebody took since is left alone,
    // not even its holder file moved for a moment, and its breaker finished the intent in it.
    const QByteArray lease = ours_.lease;
    auto isOurs = [&](const Content& c) { return c.readable && leaseOf(c.bytes) == lease; };
    const bool mayBeBroken = lost_ || clockMs() - lastGoodMs_ >= timing_.staleAfterMs / 2;
    takenFromUs_ = mayBeBroken && !isOurs(readLock(path_));
    // Still ours, this holder is its own breaker. A write that failed part-way (or an intent whose
    // lease ran out before any record file was touched) is finished with the same bytes; one that
    // cannot be stays in the lock, for whoever takes the lock next to finish before anything else
    // is written.
    if (!takenFromUs_) {
        if (unfinished_ && !recordintent::finish(folderOf(path_), intent_))
            unfinished_ = false;
        if (!unfinished_)
            takeAwayIf(path_, isOurs, timing_.staleAfterMs, lease);
    }
    path_.clear();
    ours_ = {};
    intent_.clear();
    unfinished_ = false;
}

QString heldTooLong(const QString& holder, int waitMs)
{
    return QStringLiteral("the record files are in use by %1, for longer than %2 seconds")
        .arg(holder)
        .arg(secondsTold(waitMs));
}

QString neighbourOf(const QString& folder, const QByteArray& thisId)
{
    const QString neighbour = QStringLiteral("another tutor on this computer");
    const Content c = readLock(folder + u'/' + kLockName);
    const auto holder = c.readable ? parse(c.bytes) : std::nullopt;
    if (!holder)
        return neighbour;
    if (holder->id == thisId)
        return describe(holder, true, thisId, recordio::processId());
    return QStringLiteral("%1, which waits for %2").arg(neighbour, describe(holder, true, thisId, 0));
}

qint64 clockMs()
{
#ifdef _WIN32
    // Goes on while the computer sleeps.
    return qint64(GetTickCount64());
#elif defined(CLOCK_BOOTTIME)
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
#else
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

} // namespace recordlock
