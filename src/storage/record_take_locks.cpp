#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#include "record_steps.h"
#include "storage/plain_reason.h"

namespace recordsteps {
namespace {

// A record file that is not there, on a folder whose client's create may cut a file to nothing
// (smbnetfs asks the file server to make the file or cut it), is made only while this program
// holds the folder's lock: one that looked a moment before another computer made the file and
// wrote its record there would cut that record away. Under the lock nobody else makes or writes
// it. Elsewhere a create-new is one step on the file server, made as the file is opened for its
// operating-system lock: a lock taken only to make a file would be written to while a neighbour
// on this computer holds the files, and sshfs then keeps the size that neighbour's open took
// before its wait instead of the one it takes under the locks.
std::optional<QString> makeMissing(const QString& path, const QByteArray& id, const recordlock::WaitBound& wait,
                                   recordlock::WaitNotice& notice, bool& waitRanOut)
{
    const QString folder = folderOf(path);
    if (!QFileInfo(folder).isDir())
        return plainReason(ENOENT, path);
    recordlock::FolderLock lock;
    if (auto refused = lock.acquire(folder, wait, id, &notice)) {
        waitRanOut = lock.waitRanOut();
        return refused;
    }
    recordio::File made;
    int error = made.openReadWrite(path);
    if (error == 0 && made.created())
        error = recordio::flushFolder(folder);
    if (error == 0)
        error = made.closeChecked();
    return error == 0 ? std::nullopt : std::optional<QString>(plainReason(error, path));
}

// Where a client keeps operating-system locks to this computer (sshfs), the lock of a record
// file is taken on a stand-in in this computer's local data, named after the file's path: it
// binds the same programs (those of this computer that share its data folder and reach the file
// by the same path), and spares the file server an open and a close of each file at every
// record, as the file is opened once more under the locks there anyway. Not taken (no local
// data to write): the file itself is locked.
bool openStandIn(recordio::File& file, const QString& standIns, const QString& path)
{
    if (!recordio::locksStayHere(folderOf(path)))
        return false;
    const QString name =
        standIns + u'/' +
        QString::fromLatin1(
            QCryptographicHash::hash(QFileInfo(path).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex());
    int error = file.openReadWrite(name);
    if (error == ENOENT && QDir().mkpath(standIns))
        error = file.openReadWrite(name);
    return error == 0;
}

// The file opened for its operating-system lock, made first if missing.
std::optional<QString> openMadeIfMissing(recordio::File& file, const QString& path, const QByteArray& id,
                                         const recordlock::WaitBound& wait, recordlock::WaitNotice& notice,
                                         bool& waitRanOut)
{
    if (!recordio::createMayCut(folderOf(path))) {
        const int error = file.openReadWrite(path);
        return error == 0 ? std::nullopt : std::optional<QString>(plainReason(error, path));
    }
    int error = file.openExisting(path);
    // Removed again by somebody right after it was made: made once more, a few times.
    for (int attempt = 0; error == ENOENT && attempt < 3; ++attempt) {
        if (auto refused = makeMissing(path, id, wait, notice, waitRanOut))
            return refused;
        error = file.openExisting(path);
    }
    return error == 0 ? std::nullopt : std::optional<QString>(plainReason(error, path));
}

// A wait for the operating-system locks of one step: its turn among the neighbours of this
// computer, and who holds the files, looked up now and then.
struct OsWait {
    const QByteArray& id;
    const recordlock::WaitBound& wait;
    recordlock::WaitNotice& notice;
    recordlock::Turn& turn;
    QElapsedTimer waited{};
    qint64 lookedAt = -1000;
    qint64 lookEvery = 1000;
    qint64 yieldedMs = 0;
    QString holder{};
    bool ranOut = false; // held by somebody else for the whole wait
};

// Who holds the files may be a computer that a neighbour here waits for; looked up only once the
// wait is long enough to tell, and then once a second. Over a slow link a look takes seconds, and
// a neighbour lets go of the files only for a moment between its records: the looks are spaced
// out so that most of the wait is spent trying the lock.
void lookForHolder(const QString& path, bool expired, OsWait& w)
{
    if (!expired && (w.waited.elapsed() < 500 || w.waited.elapsed() - w.lookedAt < w.lookEvery))
        return;
    const qint64 lookStarted = w.waited.elapsed();
    w.holder = recordlock::neighbourOf(folderOf(path), w.id);
    w.lookedAt = w.waited.elapsed();
    w.lookEvery = std::max<qint64>(1000, 4 * (w.lookedAt - lookStarted));
    w.notice.waiting(w.holder, w.wait.waitedMs(), w.wait.timing().waitMs);
}

// Tries the file's lock until it is taken or the wait runs out; why not, if not. `first`: no
// lock of the step is held yet, so a neighbour that waited longer goes first.
std::optional<QString> waitForOsLock(recordio::File& file, const QString& path, bool first, OsWait& w)
{
    int pauseMs = 1;
    for (;;) {
        // Not tried while a neighbour that waited longer may be about to take it.
        const bool yielding = first && w.turn.othersFirst(w.yieldedMs, w.wait.timing().yieldMs);
        const qint64 triedAtMs = recordlock::clockMs();
        const int error = yielding ? EWOULDBLOCK : file.tryLock();
        if (error == 0)
            return std::nullopt;
        if (error != EWOULDBLOCK)
            return plainReason(error, path);
        w.turn.waiting();
        const bool expired = w.wait.expired();
        lookForHolder(path, expired, w);
        if (expired) {
            w.ranOut = true;
            return recordlock::heldTooLong(w.holder, w.wait.timing().waitMs);
        }
        recordio::pause(pauseMs);
        // The next in line tries often: a neighbour lets go only for a moment between records.
        pauseMs = std::min(pauseMs * 2, first && w.turn.nextInLine() ? 4 : 20);
        if (yielding)
            w.yieldedMs += recordlock::clockMs() - triedAtMs;
    }
}

// The file opened for its operating-system lock: a stand-in, or the file itself.
std::optional<QString> openForOsLock(recordio::File& file, const QString& path, bool first, const QString& standIns,
                                     OsWait& w, Locks& locks)
{
    const qint64 openStartedMs = recordlock::clockMs();
    if (openStandIn(file, standIns, path)) {
        locks.standIns.insert(path);
        return std::nullopt;
    }
    if (auto refused = openMadeIfMissing(file, path, w.id, w.wait, w.notice, w.ranOut))
        return refused;
    // An open is a look-up and the open itself: the round trip before any wait is sized.
    if (first)
        recordlock::noteRoundTrip(folderOf(path), (recordlock::clockMs() - openStartedMs) / 2);
    return std::nullopt;
}

std::optional<Refusal> takeOsLocks(const QList<FileAppend>& files, const AppendSettings& settings, const QByteArray& id,
                                   const recordlock::WaitBound& wait, recordlock::WaitNotice& notice, Locks& locks)
{
    // The neighbours of this computer that waited longer take the files first.
    const QString data = QFileInfo(identityFileOf(settings)).absolutePath();
    recordlock::Turn turn(data + QStringLiteral("/turns"), folderOf(files.value(0).path), wait.startMs());
    OsWait w{id, wait, notice, turn};
    w.waited.start();
    const QString standIns = data + QStringLiteral("/locks");
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& path = files[i].path;
        if (locks.osIndex.contains(path))
            continue;
        recordio::File file;
        if (auto refused = openForOsLock(file, path, i == 0, standIns, w, locks))
            return Refusal{i, *refused, w.ranOut};
        if (auto refused = waitForOsLock(file, path, locks.osIndex.isEmpty(), w))
            return Refusal{i, *refused, w.ranOut};
        locks.osIndex.insert(path, locks.os.size());
        locks.os.push_back(std::move(file));
    }
    turn.done();
    return std::nullopt;
}

// The operating-system locks come first: they let only one program of this computer at a time
// take or judge a folder's lock.
std::optional<Refusal> takeFolderLocks(const QList<FileAppend>& files, const QByteArray& id,
                                       const recordlock::WaitBound& wait, recordlock::WaitNotice& notice, Locks& locks)
{
    QStringList folders;
    for (const FileAppend& f : files)
        folders << folderOf(f.path);
    folders.sort();
    folders.removeDuplicates();
    for (const QString& folder : folders) {
        if (locks.folders.contains(folder))
            continue;
        auto lock = std::make_shared<recordlock::FolderLock>();
        if (const auto refused = lock->acquire(folder, wait, id, &notice)) {
            for (qsizetype i = 0; i < files.size(); ++i) {
                if (folderOf(files[i].path) == folder)
                    return Refusal{i, *refused, lock->waitRanOut()};
            }
        }
        locks.folders.insert(folder, lock);
    }
    return std::nullopt;
}

} // namespace

int Locks::open(const QString& path, recordio::File*& out)
{
    if (!step.contains(path)) {
        recordio::File& locked = os[osIndex.value(path)];
        const bool standIn = standIns.contains(path);
        if (standIn || locked.sizeFromOpen()) {
            auto file = std::make_unique<recordio::File>();
            const qint64 openStartedMs = recordlock::clockMs();
            if (const int error = file->openReadWrite(path))
                return error;
            // The step's first look-up and open on the file server, as takeLocks notes it
            // where the lock is taken on the file itself.
            if (standIn && !roundTripNoted) {
                roundTripNoted = true;
                recordlock::noteRoundTrip(folderOf(path), (recordlock::clockMs() - openStartedMs) / 2);
            }
            // Made by the operating-system lock's open, if by anyone: the folder needs its flush.
            if (!standIn && locked.created())
                file->markCreated();
            fresh.push_back(std::move(file));
            step.insert(path, fresh.back().get());
        } else {
            step.insert(path, &locked);
        }
    }
    out = step.value(path);
    return 0;
}

std::optional<Refusal> takeLocks(const QList<FileAppend>& files, const AppendSettings& settings, const QByteArray& id,
                                 const recordlock::WaitBound& wait, recordlock::WaitNotice& notice, Locks& locks)
{
    if (auto refused = takeOsLocks(files, settings, id, wait, notice, locks))
        return refused;
    if (auto refused = takeFolderLocks(files, id, wait, notice, locks))
        return refused;
    notice.done();
    return std::nullopt;
}

} // namespace recordsteps
