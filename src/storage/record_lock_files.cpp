#include "record_lock_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include "record_intent.h"
#include "record_io.h"
#include "record_lock.h"

namespace recordlock {
namespace lockfiles {

QString folderOf(const QString& lock)
{
    return QFileInfo(lock).absolutePath();
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

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

// Beside the lock, under a name nobody else makes: where a lock is made, let go or broken.
QString nameOfOurOwn(const QString& lock, const char* what)
{
    return lock + u'.' + QString::fromLatin1(randomHex(8)) + u'.' + QLatin1String(what);
}

// The holder file, the intent and the folder; a reader on another computer may hold the file a
// moment longer, and a lock file of the older layout goes too. A lock moved into the emptied
// folder's place meanwhile is somebody else's and stays. An intent written late by a holder whose
// lock was broken may lie in any lock folder, and goes with it.
int removeLock(const QString& lock, const QByteArray& lease)
{
    retryingWhileBusy([&] { return recordio::removeFile(holderFile(lock)); });
    if (!lease.isEmpty())
        retryingWhileBusy([&] { return recordio::removeFile(recordintent::fileOf(lock, lease)); });
    int error = recordio::removeFolder(lock);
    if (error == ENOTEMPTY) {
        const QStringList strays = QDir(lock).entryList({QStringLiteral("intent.*")}, QDir::Files | QDir::Hidden);
        for (const QString& name : strays)
            recordio::removeFile(lock + u'/' + name);
    }
    if (error != 0)
        error = retryingWhileBusy([&] {
            const int e = recordio::removeFolder(lock);
            return e == ENOTEMPTY && !QFileInfo::exists(holderFile(lock)) ? EBUSY : e;
        });
    if (error == ENOTDIR)
        return retryingWhileBusy([&] { return recordio::removeFile(lock); });
    return error;
}

QByteArray leaseOf(const QByteArray& text)
{
    const auto holder = parse(text);
    return holder ? holder->lease : QByteArray();
}

// 0 when this call made the lock. It is made whole under a name of its maker's own and moved into
// place in one step, so it never shows without its holder file, and a move never goes over a
// lock that names a holder (a folder that is not empty is never replaced). A move that the
// client reports as failed although the file server made it is told by the holder file's text.
// `madeAtMs` is when the move was asked for: the lock cannot show before, and its lease counts
// from then, however long the link took to make it.
int makeLock(const QString& lock, const QByteArray& text, qint64* madeAtMs, Content* seen)
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
        // Never a lock whose holder file did not arrive whole: a breaker reads there which intent
        // to finish. A client that writes behind (sshfs) says so only at the close.
        errno = 0;
        const bool whole = file.write(text) == text.size();
        const int writeError = errno;
        file.close();
        const int closeError = errno;
        if (!whole || file.error() != QFileDevice::NoError) {
            const int error = !whole && writeError != 0 ? writeError : closeError != 0 ? closeError : EIO;
            removeLock(staged);
            return error;
        }
    }
    const qint64 movedAt = clockMs();
    if (madeAtMs)
        *madeAtMs = movedAt;
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
    // another computer moves its lock away), and the look is made again; or it was refused.
    if (there.exists) {
        if (seen)
            *seen = there;
        return EEXIST;
    }
    const bool passing =
        moved == ENOENT || moved == EIO || moved == EBUSY || moved == EEXIST || moved == ENOTEMPTY || moved == ENOTDIR;
    return passing ? EAGAIN : moved;
}

// Lets go of a lock this program holds, showing `ours`: moved away first and removed under its
// new name, since an SMB server keeps a removed folder "pending deletion" while another computer
// looks at it, and a client that looks at the lock's own name then may lose its connection for
// seconds. A move that arrives late (this program slept just before it) may take a lock that
// somebody made since: that one goes back at once. A move the client reports as failed may still
// have been made, and somebody else's lock may stand there now: removed in place only while it
// still shows ours.
void letGo(const QString& lock, const QByteArray& ours, qint64 leaseEndsMs)
{
    const QString aside = nameOfOurOwn(lock, "old");
    const QByteArray lease = leaseOf(ours);
    if (retryingWhileBusy([&] { return recordio::renameFile(lock, aside); }) == 0) {
        // Answered within the lease: the move was made while the lock could only be ours.
        if (clockMs() < leaseEndsMs) {
            removeLock(aside, lease);
            return;
        }
        const Content moved = readLock(aside);
        const QByteArray movedLease = moved.readable ? leaseOf(moved.bytes) : QByteArray();
        if (movedLease == lease || (moved.readable && !parse(moved.bytes)))
            removeLock(aside, lease);
        else if (recordio::renameNoReplace(aside, lock) != 0)
            removeLock(aside, movedLease);
    } else if (const Content there = readLock(lock); there.readable && leaseOf(there.bytes) == lease) {
        removeLock(lock, lease);
    } else {
        removeLock(aside, lease);
    }
}

// Rewrites a lock or token that still shows `ours` with `next`, through the handle it was read
// by: a write that arrives late lands in that very file, wherever it was moved, never in the
// lock somebody made since at its place. 0, kNotOurs when it shows something else, or why not.
int rewriteIfOurs(const QString& lock, const QByteArray& ours, const QByteArray& next)
{
    QFile file(holderFile(lock));
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        return QFileInfo::exists(file.fileName()) ? EIO : kNotOurs;
    if (leaseOf(file.read(4096)) != leaseOf(ours))
        return kNotOurs;
    if (!file.seek(0) || file.write(next) != next.size() || !file.flush())
        return EIO;
    return 0;
}

} // namespace lockfiles

using namespace lockfiles;

BreakResult moveAsideIfSame(const QString& path, const QByteArray& judged, bool judgedReadable, qint64 notAfterMs)
{
    const QString aside = nameOfOurOwn(path, "broken");
    if (clockMs() >= notAfterMs)
        return BreakResult::Busy;
    const int moved = retryingWhileBusy([&] { return recordio::renameFile(path, aside); });
    if (moved == ENOENT)
        return BreakResult::Gone;
    if (moved != 0)
        return BreakResult::Busy;
    const Content c = readLock(aside);
    if (c.same(judged, judgedReadable)) {
        removeLock(aside, leaseOf(judged));
        return BreakResult::Removed;
    }
    // Made after the look: back where it was, unless another lock took its place since.
    if (recordio::renameNoReplace(aside, path) != 0)
        removeLock(aside);
    return BreakResult::NotTheOne;
}

} // namespace recordlock
