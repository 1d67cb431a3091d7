#include "record_lock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSysInfo>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>

#include "record_io.h"
#include "storage/plain_reason.h"

namespace recordlock {
namespace {

const QByteArray kFirstLine = "classnotes-tutor record lock";
const QString kBreakingSuffix = QStringLiteral(".breaking");

qint64 monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

struct Content {
    QByteArray bytes;
    bool readable = false;
    bool exists = true;

    bool same(const QByteArray& b, bool r) const { return readable == r && bytes == b; }
};

// Opened only for the moment of the read: some SMB clients refuse to move or remove a file
// that another computer has open.
Content readLock(const QString& lock)
{
    QFile file(holderFile(lock));
    Content c;
    if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        c.bytes = file.read(4096);
        c.readable = true;
    } else {
        c.exists = QFileInfo::exists(lock);
    }
    return c;
}

bool isPermission(int error)
{
    return error == EACCES || error == EPERM;
}

bool isBusy(int error)
{
    return error == EBUSY || error == EACCES || error == EPERM || error == ETXTBSY || error == EWOULDBLOCK;
}

// A file that another computer is reading may refuse to move or go for a moment.
template <typename Step> int retryingWhileBusy(Step step)
{
    int error = 0;
    for (int attempt = 0; attempt < 40; ++attempt) {
        error = step();
        if (!isBusy(error))
            return error;
        recordio::pause(std::min(2 + attempt, 25));
    }
    return error;
}

// Beside the lock, under a name nobody else makes: where a lock is made, let go or broken.
QString nameOfOurOwn(const QString& lock, const char* what)
{
    return lock + u'.' + QString::fromLatin1(randomHex(8)) + u'.' + QLatin1String(what);
}

// The holder file and the folder; a reader on another computer may hold the file a moment
// longer, and a lock file of the older layout goes too. A lock moved into the emptied folder's
// place meanwhile is somebody else's and stays.
int removeLock(const QString& lock)
{
    retryingWhileBusy([&] { return recordio::removeFile(holderFile(lock)); });
    const int error = retryingWhileBusy([&] {
        const int e = recordio::removeFolder(lock);
        return e == ENOTEMPTY && !QFileInfo::exists(holderFile(lock)) ? EBUSY : e;
    });
    if (error == ENOTDIR)
        return retryingWhileBusy([&] { return recordio::removeFile(lock); });
    return error;
}

// 0 when this call made the lock. It is made whole under a name of its maker's own and moved into
// place in one step, so it never shows without its holder file, and a move never goes over a
// lock that names a holder (a folder that is not empty is never replaced). A move that the
// client reports as failed although the file server made it is told by the holder file's text.
int makeLock(const QString& lock, const QByteArray& text)
{
    const QString staged = nameOfOurOwn(lock, "new");
    if (const int error = recordio::makeFolder(staged))
        return error;
    {
        // Nobody else looks into a folder of this name: a plain create will do, without the
        // record files' care for other computers' caches (one request fewer on a slow link).
        QFile file(holderFile(staged));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            const int error = file.error() == QFileDevice::PermissionsError ? EACCES : EIO;
            recordio::removeFolder(staged);
            return error;
        }
        // A full disk leaves it empty: others then break it after the stale time.
        if (file.write(text) != text.size())
            file.resize(0);
    }
    const int moved = recordio::renameFile(staged, lock);
    if (moved == 0)
        return 0;
    // Clients name a lock there already in many ways (EEXIST, ENOTEMPTY, ENOTDIR for a file of an
    // older layout, EPERM through SFTP), so what lies there is looked at.
    const Content there = readLock(lock);
    if (there.same(text, true))
        return 0;
    removeLock(staged);
    // Nothing there: the move met the file server in a passing state (smbnetfs says ENOENT while
    // another computer moves its lock away), and the look is made again.
    return there.exists ? EEXIST : EAGAIN;
}

// Lets go of a lock this program holds, showing `ours`: moved away first and removed under its
// new name, since an SMB server keeps a removed folder "pending deletion" while another computer
// looks at it, and a client that looks at the lock's own name then may lose its connection for
// seconds. A move the client reports as failed may still have been made, and somebody else's lock
// may stand there now: removed in place only while it still shows ours.
void letGo(const QString& lock, const QByteArray& ours)
{
    const QString aside = nameOfOurOwn(lock, "old");
    if (retryingWhileBusy([&] { return recordio::renameFile(lock, aside); }) == 0)
        removeLock(aside);
    else if (readLock(lock).same(ours, true))
        removeLock(lock);
    else
        removeLock(aside);
}

QString describe(const std::optional<Holder>& holder, bool readable, const QByteArray& thisId)
{
    if (!holder)
        return readable ? QStringLiteral("an unknown holder (the lock names nobody)")
                        : QStringLiteral("an unknown holder (the lock cannot be read)");
    if (!thisId.isEmpty() && holder->id == thisId)
        return QStringLiteral("another tutor on this computer (process %1)").arg(holder->process);
    return QStringLiteral("the computer %1 (process %2)").arg(holder->computer).arg(holder->process);
}

// What this program knows of a lock or token it has just read, to be judged.
Facts factsOf(const Content& seen, const QByteArray& thisId, Watch& watch, qint64 staleAfterMs)
{
    Facts facts;
    facts.content = seen.bytes;
    facts.readable = seen.readable;
    facts.thisId = thisId;
    facts.thisProcess = recordio::processId();
    facts.processAlive = recordio::processAlive;
    facts.unchangedForMs = watch.see(seen.bytes, seen.readable, monotonicMs());
    facts.staleAfterMs = staleAfterMs;
    return facts;
}

} // namespace

BreakResult moveAsideIfSame(const QString& path, const QByteArray& judged, bool judgedReadable, qint64 notAfterMs)
{
    const QString aside = nameOfOurOwn(path, "broken");
    if (monotonicMs() >= notAfterMs)
        return BreakResult::Busy;
    const int moved = retryingWhileBusy([&] { return recordio::renameFile(path, aside); });
    if (moved == ENOENT)
        return BreakResult::Gone;
    if (moved != 0)
        return BreakResult::Busy;
    const Content c = readLock(aside);
    if (c.same(judged, judgedReadable)) {
        removeLock(aside);
        return BreakResult::Removed;
    }
    // Made after the look: back where it was, unless another lock took its place since.
    if (recordio::renameNoReplace(aside, path) != 0)
        removeLock(aside);
    return BreakResult::NotTheOne;
}

QByteArray randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return raw.toHex();
}

QByteArray text(const Holder& holder)
{
    return kFirstLine + "\r\ncomputer: " + holder.computer.toUtf8() + "\r\nid: " + holder.id +
           "\r\nprocess: " + QByteArray::number(holder.process) + "\r\nlease: " + holder.lease +
           "\r\nrenewed: " + QByteArray::number(holder.renewed).rightJustified(10, '0') + "\r\n";
}

std::optional<Holder> parse(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 7 || lines[0].trimmed() != kFirstLine || !lines[6].isEmpty())
        return std::nullopt;
    auto field = [&](int i, const char* key) -> std::optional<QByteArray> {
        const QByteArray line = lines[i].trimmed();
        const QByteArray prefix = QByteArray(key) + ": ";
        if (!line.startsWith(prefix))
            return std::nullopt;
        return line.mid(prefix.size());
    };
    const auto computer = field(1, "computer");
    const auto id = field(2, "id");
    const auto process = field(3, "process");
    const auto lease = field(4, "lease");
    const auto renewed = field(5, "renewed");
    if (!computer || !id || !process || !lease || !renewed || computer->isEmpty() || id->isEmpty() || lease->isEmpty())
        return std::nullopt;
    Holder h;
    bool processOk = false;
    bool renewedOk = false;
    h.computer = QString::fromUtf8(*computer);
    h.id = *id;
    h.process = process->toLongLong(&processOk);
    h.lease = *lease;
    h.renewed = renewed->toUInt(&renewedOk);
    if (!processOk || !renewedOk || h.process <= 0)
        return std::nullopt;
    return h;
}

QString hostName()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("unnamed computer") : name;
}

QByteArray computerId(const QString& file)
{
    static std::mutex mutex;
    static QHash<QString, QByteArray> known;
    std::lock_guard guard(mutex);
    if (const auto it = known.constFind(file); it != known.constEnd())
        return *it;
    auto valid = [](const QByteArray& id) {
        return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) { return std::isxdigit(uchar(c)); });
    };
    QByteArray id;
    QDir().mkpath(QFileInfo(file).absolutePath());
    // Made once, create-new, so that two tutors starting together agree on it.
    for (int attempt = 0; attempt < 50 && id.isEmpty(); ++attempt) {
        recordio::File made;
        const int error = made.createNew(file);
        if (error == 0) {
            const QByteArray fresh = randomHex(16);
            qint64 done = 0;
            if (made.writeAt(0, fresh + '\n', done) == 0 && made.flush() == 0)
                id = fresh;
            break;
        }
        if (error != EEXIST)
            break;
        QFile existing(file);
        if (existing.open(QIODevice::ReadOnly)) {
            const QByteArray kept = existing.read(64).trimmed();
            if (valid(kept))
                id = kept;
        }
        if (id.isEmpty())
            recordio::pause(2);
    }
    if (id.isEmpty())
        id = randomHex(16);
    known.insert(file, id);
    return id;
}

QString holderOf(const QString& folder, const QByteArray& thisId)
{
    const Content c = readLock(folder + u'/' + kLockName);
    if (!c.exists)
        return QStringLiteral("another tutor on this computer");
    return describe(c.readable ? parse(c.bytes) : std::nullopt, c.readable, thisId);
}

Judgement judge(const Facts& f)
{
    const auto holder = f.readable ? parse(f.content) : std::nullopt;
    Judgement j;
    j.holder = describe(holder, f.readable, f.thisId);
    // Only the computer that made a process can tell whether it still runs.
    if (holder && !f.thisId.isEmpty() && holder->id == f.thisId &&
        (holder->process == f.thisProcess || !f.processAlive || !f.processAlive(holder->process))) {
        j.verdict = Verdict::StaleProcessGone;
        return j;
    }
    if (f.unchangedForMs >= f.staleAfterMs)
        j.verdict = Verdict::StaleUnrenewed;
    return j;
}

qint64 Watch::see(const QByteArray& bytes, bool readable, qint64 nowMs)
{
    if (!seen_ || bytes != bytes_ || readable != readable_) {
        seen_ = true;
        bytes_ = bytes;
        readable_ = readable;
        sinceMs_ = nowMs;
    }
    return nowMs - sinceMs_;
}

void WaitNotice::waiting(const QString& holder, qint64 waitedMs, int waitMs)
{
    if (!hook_ || waitedMs < 500)
        return;
    const QString message = QStringLiteral("The record files are in use by %1. The tutor is waiting for them "
                                           "(at most %2 seconds).")
                                .arg(holder)
                                .arg(std::max(1, waitMs / 1000));
    if (message == told_)
        return;
    told_ = message;
    hook_(message);
}

void WaitNotice::done()
{
    if (told_.isEmpty())
        return;
    told_.clear();
    if (hook_)
        hook_(QString());
}

BreakResult breakStale(const QString& path, const QByteArray& judged, bool judgedReadable, const QByteArray& id,
                       int staleAfterMs, Watch& tokenWatch)
{
    // One breaker at a time: the token is a lock of its own, created atomically.
    const QString token = path + kBreakingSuffix;
    // Past this the breaker has stalled for as long as a holder may go without renewing, and
    // what it saw may be old. Never below a few milliseconds, so that the very short leases
    // of tests still let a lock go.
    const qint64 stallMs = std::max(staleAfterMs / 2, 50);
    const qint64 notAfter = monotonicMs() + stallMs;
    const QByteArray ours = text({hostName(), id, recordio::processId(), randomHex(16), 0});
    if (makeLock(token, ours) != 0) {
        const Content seen = readLock(token);
        if (!seen.exists)
            return BreakResult::Busy;
        // A breaker that died or stalled while breaking: its token goes the way of a stale lock.
        if (judge(factsOf(seen, id, tokenWatch, staleAfterMs)).verdict != Verdict::Held)
            moveAsideIfSame(token, seen.bytes, seen.readable, monotonicMs() + stallMs);
        return BreakResult::Busy;
    }
    // Under the token, once more: a holder that renewed since keeps its lock.
    BreakResult result = BreakResult::Busy;
    const Content now = readLock(path);
    if (!now.exists)
        result = BreakResult::Gone;
    else if (!now.same(judged, judgedReadable))
        result = BreakResult::NotTheOne;
    else
        result = moveAsideIfSame(path, judged, judgedReadable, notAfter);
    // Our own token only: after a stall somebody may have broken it and taken the next one.
    if (monotonicMs() < notAfter)
        letGo(token, ours);
    else
        moveAsideIfSame(token, ours, true, monotonicMs() + stallMs);
    return result;
}

std::optional<QString> FolderLock::acquire(const QString& folder, const Timing& timing, const QDeadlineTimer& deadline,
                                           const QByteArray& computerId, WaitNotice* notice)
{
    release();
    const QString path = folder + u'/' + kLockName;
    const qint64 startedMs = monotonicMs();
    int pauseMs = 1;
    int permissionFailures = 0;
    int transientFailures = 0;
    QString holder = QStringLiteral("another program");
    Watch watch;
    Watch tokenWatch;
    auto heldTooLong = [&] {
        return QStringLiteral("the record files are in use by %1, for longer than %2 seconds; please try again "
                              "in a moment")
            .arg(holder)
            .arg(std::max(1, timing.waitMs / 1000));
    };
    // Bounded however the lock behaves: by the deadline, and by a count of breaks.
    for (int breaks = 0, tries = 0; breaks < 50; ++tries) {
        if (tries > 0 && deadline.hasExpired())
            return heldTooLong();
        const Holder candidate{hostName(), computerId, recordio::processId(), randomHex(16), 0};
        const qint64 createdMs = monotonicMs();
        const int error = makeLock(path, text(candidate));
        if (error == 0) {
            std::lock_guard guard(mutex_);
            path_ = path;
            ours_ = candidate;
            timing_ = timing;
            lastGoodMs_ = createdMs;
            lost_ = false;
            stop_ = false;
            renewer_ = std::thread([this] { renewing(); });
            return std::nullopt;
        }
        // A client that lost its connection to the file server for a moment (smbnetfs while
        // another computer removes a folder) says so with these; the look is made again.
        if ((error == EIO || error == EBUSY || error == EAGAIN) && ++transientFailures < 50) {
            recordio::pause(std::min(2 * transientFailures, 50));
            continue;
        }
        const QFileInfo info(path);
        // Some network clients report a file that exists as a permission failure, and its
        // holder may have removed it again before the look; a real one stays.
        if (isPermission(error) && !info.exists() && ++permissionFailures < 20)
            continue;
        if (error != EEXIST && !(isPermission(error) && info.exists()))
            return plainReason(error == EAGAIN ? EIO : error, path); // a move that kept failing
        const Content seen = readLock(path);
        if (!seen.exists)
            continue;
        const Judgement judgement = judge(factsOf(seen, computerId, watch, timing.staleAfterMs));
        holder = judgement.holder;
        if (judgement.verdict != Verdict::Held) {
            ++breaks;
            const BreakResult broken =
                breakStale(path, seen.bytes, seen.readable, computerId, timing.staleAfterMs, tokenWatch);
            if (broken != BreakResult::Busy)
                continue;
        }
        if (notice)
            notice->waiting(holder, monotonicMs() - startedMs, timing.waitMs);
        if (deadline.hasExpired())
            return heldTooLong();
        recordio::pause(pauseMs);
        pauseMs = std::min(pauseMs * 2, 20);
    }
    return QStringLiteral("the lock %1 keeps coming back stale; please tell the instructor").arg(native(path));
}

bool FolderLock::renew()
{
    std::lock_guard guard(mutex_);
    if (path_.isEmpty() || lost_)
        return false;
    const qint64 startMs = monotonicMs();
    // An expired lease is never taken up again: somebody may be breaking it this moment.
    if (startMs - lastGoodMs_ >= timing_.staleAfterMs / 2) {
        lost_ = true;
        return false;
    }
    QFile file(holderFile(path_));
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered)) {
        if (!QFileInfo::exists(file.fileName()))
            lost_ = true;
        return false;
    }
    const auto there = parse(file.read(4096));
    if (!there || there->lease != ours_.lease) {
        lost_ = true;
        return false;
    }
    Holder next = ours_;
    ++next.renewed;
    const QByteArray bytes = text(next);
    if (!file.seek(0) || file.write(bytes) != bytes.size() || !file.flush())
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
    if (monotonicMs() - lastGoodMs_ < timing_.staleAfterMs / 2)
        return true;
    return renew();
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
    // Within the lease nobody else can have broken it; after it only the very lock we left
    // is removed, the way a breaker would.
    if (!lost_ && monotonicMs() - lastGoodMs_ < timing_.staleAfterMs / 2) {
        letGo(path_, text(ours_));
    } else {
        Watch unused;
        breakStale(path_, text(ours_), true, ours_.id, timing_.staleAfterMs, unused);
    }
    path_.clear();
    ours_ = {};
}

} // namespace recordlock
