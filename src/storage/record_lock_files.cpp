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

// Everything in a lock's folder, then the folder; a reader on another computer may hold a file a
// moment longer, and a lock file of the older layout goes too. Only for a lock under a name of
// its remover's own, or one emptied by its own holder: nobody else puts anything there. An intent
// written late by a holder whose lock was broken may lie in any lock folder, and goes with it.
int removeLock(const QString& lock, const QByteArray& lease)
{
    retryingWhileBusy([&] { return recordio::removeFile(holderFile(lock)); });
    if (!lease.isEmpty())
        retryingWhileBusy([&] { return recordio::removeFile(recordintent::fileOf(lock, lease)); });
    int error = recordio::removeFolder(lock);
    if (error == ENOTEMPTY) {
        for (const QString& name : QDir(lock).entryList(QDir::Files | QDir::Hidden))
            retryingWhileBusy([&] { return recordio::removeFile(lock + u'/' + name); });
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

Content readFile(const QString& path)
{
    QFile file(path);
    Content c;
    if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        c.bytes = file.read(4096);
        c.readable = true;
    } else {
        c.exists = QFileInfo::exists(path);
    }
    return c;
}

// No rename can say "only if it is still this one", and rename is the one step every client
// makes atomically. So what is moved first is the holder file, within whatever lock stands at
// `lock`, to a name nobody else uses: the lock's folder stays in place, and while it holds a file
// no lock can be moved over it, so no third computer takes the files in between. The moved file
// then says whose lock it was: somebody else's goes back under a move that never replaces (its
// holder may find its lock without a holder file for that moment and take its lease for lost,
// which costs a retry, never a record), and nothing of it is ever removed. Ours leaves a folder
// with only our marker in it, which nobody judges stale before a whole stale time after it lost its
// holder file; it is moved to a name of our own and removed there (a folder removed in place stays
// "pending deletion" on an SMB server while somebody looks at it, and clients looking at its
// name lose their connection). That move is asked for only within half a stale time of the
// first; past it (this program stalled) the folder is removed in place, which never removes a
// folder that holds anything. Only a stall of more than half a stale time between that look at
// the clock and the move's arrival at the file server, while somebody broke the emptied lock and
// a third computer made a new one, could move a lock that is not ours: it is then seen without
// our marker and put back, never removed.
Taken takeAwayIf(const QString& lock, const std::function<bool(const Content&)>& isIt, qint64 staleAfterMs,
                 const QByteArray& lease)
{
    const QString markerName = QStringLiteral("gone.") + QString::fromLatin1(randomHex(8));
    const QString marker = lock + u'/' + markerName;
    const qint64 askedAt = clockMs();
    const int error = retryingWhileBusy([&] { return recordio::renameFile(holderFile(lock), marker); });
    if (error == ENOTDIR)
        return takeFileAwayIf(lock, isIt);
    const Content moved = readFile(marker);
    if (!moved.exists) {
        // A move that failed, or one made and emptied since by a breaker of the emptied lock.
        if (error == 0)
            return Taken::Gone;
        return QFileInfo::exists(lock) ? (error == ENOENT ? Taken::NotIt : Taken::Failed) : Taken::Gone;
    }
    if (!isIt(moved)) {
        retryingWhileBusy([&] { return recordio::renameNoReplace(marker, holderFile(lock)); });
        return Taken::NotIt;
    }
    if (!lease.isEmpty())
        retryingWhileBusy([&] { return recordio::removeFile(recordintent::fileOf(lock, lease)); });
    const QString aside = nameOfOurOwn(lock, "old");
    // A move the client reports as failed may still have been made.
    if (clockMs() - askedAt < staleAfterMs / 2 &&
        (retryingWhileBusy([&] { return recordio::renameFile(lock, aside); }) == 0 || QFileInfo::exists(aside))) {
        if (QFileInfo::exists(aside + u'/' + markerName))
            removeLock(aside);
        else if (recordio::renameNoReplace(aside, lock) != 0)
            qWarning("a lock moved late is left at %s", qPrintable(native(aside)));
        return Taken::It;
    }
    removeLockInPlace(lock);
    return Taken::It;
}

// Every file but a holder file, then the folder, which fails for a folder that holds anything:
// one put back meanwhile keeps its lock.
void removeLockInPlace(const QString& lock)
{
    for (const QString& name : QDir(lock).entryList(QDir::Files | QDir::Hidden)) {
        if (name != QLatin1String("holder"))
            retryingWhileBusy([&] { return recordio::removeFile(lock + u'/' + name); });
    }
    retryingWhileBusy([&] { return recordio::removeFolder(lock); });
}

// A lock file of an older layout: moved aside whole, since it has no folder to move its text
// within, and put back when it is not the one meant.
Taken takeFileAwayIf(const QString& lock, const std::function<bool(const Content&)>& isIt)
{
    const QString aside = nameOfOurOwn(lock, "broken");
    const int moved = retryingWhileBusy([&] { return recordio::renameFile(lock, aside); });
    if (moved == ENOENT)
        return Taken::Gone;
    if (moved != 0)
        return Taken::Failed;
    // Read as a lock is read: a file names nobody, as no holder file can be read in it.
    const Content c = QFileInfo(aside).isDir() ? readLock(aside) : Content{{}, false, true};
    if (isIt(c)) {
        removeLock(aside);
        return Taken::It;
    }
    if (recordio::renameNoReplace(aside, lock) != 0)
        qWarning("a lock moved late is left at %s", qPrintable(native(aside)));
    return Taken::NotIt;
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

BreakResult moveAsideIfSame(const QString& path, const QByteArray& judged, bool judgedReadable, qint64 notAfterMs,
                            qint64 staleAfterMs)
{
    if (clockMs() >= notAfterMs)
        return BreakResult::Busy;
    const Content now = readLock(path);
    if (!now.exists)
        return BreakResult::Gone;
    // A folder without a holder file (its holder or breaker stopped half-way through taking it
    // away) is emptied and removed in place: only an empty folder can be removed so.
    if (!judgedReadable && !now.readable && QFileInfo(path).isDir() && !QFileInfo::exists(holderFile(path))) {
        if (!now.same(judged, judgedReadable))
            return BreakResult::NotTheOne;
        removeLockInPlace(path);
        return QFileInfo::exists(path) ? BreakResult::NotTheOne : BreakResult::Removed;
    }
    switch (takeAwayIf(
        path, [&](const Content& c) { return c.same(judged, judgedReadable); }, staleAfterMs, leaseOf(judged))) {
    case Taken::It:
        return BreakResult::Removed;
    case Taken::Gone:
        return BreakResult::Gone;
    case Taken::NotIt:
        return BreakResult::NotTheOne;
    case Taken::Failed:
        break;
    }
    return BreakResult::Busy;
}

} // namespace recordlock
