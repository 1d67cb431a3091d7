#include "record_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>

#include <memory>
#include <mutex>
#include <vector>

#include "record_io.h"
#include "record_journal.h"
#include "storage/plain_reason.h"

namespace {

AppendOutcome failedAt(AppendOutcome outcome, const FileAppend& file, const QString& reason)
{
    outcome.failedName = file.name;
    outcome.failedPath = file.path;
    outcome.reason = reason;
    return outcome;
}

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

// Whether the file already holds the record, at or after where the file ended when the
// record was composed.
bool holdsRecord(recordio::File& file, qint64 from, qint64 end, const QByteArray& bytes)
{
    if (from > end)
        from = 0;
    if (end - from < bytes.size())
        return false;
    QByteArray tail;
    if (file.readAt(from, end - from, tail) != 0)
        return false;
    return tail.indexOf(bytes) >= 0;
}

const QString kTakenOver = QStringLiteral(
    "this computer did not answer for a while and another computer has taken the record files over meanwhile; "
    "nothing more was written there, please try again");

// The locks one append or one start-up takes: an operating-system lock on each file (once per
// path) and the lock of each folder.
struct Locks {
    QHash<QString, size_t> osIndex;
    std::vector<recordio::File> os;
    QHash<QString, std::shared_ptr<recordlock::FolderLock>> folders;

    bool created(const QString& path) const
    {
        const auto it = osIndex.constFind(path);
        return it != osIndex.constEnd() && os[*it].created();
    }
    bool confirm(const QString& folder) const
    {
        const auto it = folders.constFind(folder);
        return it != folders.constEnd() && (*it)->confirm();
    }
};

// Every lock these files need, all within one deadline; the file refused and why, if any.
std::optional<std::pair<qsizetype, QString>> takeLocks(const QList<FileAppend>& files, const AppendSettings& settings,
                                                       const QByteArray& id, const QDeadlineTimer& deadline,
                                                       recordlock::WaitNotice& notice, Locks& locks)
{
    QElapsedTimer waited;
    waited.start();
    qint64 lookedAt = -1000;
    QString holder;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& path = files[i].path;
        if (locks.osIndex.contains(path))
            continue;
        recordio::File file;
        if (const int error = file.openReadWrite(path))
            return std::make_pair(i, plainReason(error, path));
        int pauseMs = 1;
        for (;;) {
            const int error = file.tryLock();
            if (error == 0)
                break;
            if (error != EWOULDBLOCK)
                return std::make_pair(i, plainReason(error, path));
            // Who holds the files may be a computer that a neighbour here waits for; looked up
            // only once the wait is long enough to tell, and then once a second.
            const bool expired = deadline.hasExpired();
            if (expired || (waited.elapsed() >= 500 && waited.elapsed() - lookedAt >= 1000)) {
                holder = recordlock::holderOf(folderOf(path), id);
                lookedAt = waited.elapsed();
                notice.waiting(holder, waited.elapsed(), settings.lock.waitMs);
            }
            if (expired)
                return std::make_pair(i, QStringLiteral("the record files are in use by %1, for longer than %2 "
                                                        "seconds; please try again in a moment")
                                             .arg(holder)
                                             .arg(std::max(1, settings.lock.waitMs / 1000)));
            recordio::pause(pauseMs);
            pauseMs = std::min(pauseMs * 2, 20);
        }
        locks.osIndex.insert(path, locks.os.size());
        locks.os.push_back(std::move(file));
    }
    // The operating-system locks come first: they let only one program of this computer at a
    // time take or judge a lock.
    QStringList folders;
    for (const FileAppend& f : files)
        folders << folderOf(f.path);
    folders.sort();
    folders.removeDuplicates();
    for (const QString& folder : folders) {
        if (locks.folders.contains(folder))
            continue;
        auto lock = std::make_shared<recordlock::FolderLock>();
        if (const auto refused = lock->acquire(folder, settings.lock, deadline, id, &notice)) {
            for (qsizetype i = 0; i < files.size(); ++i) {
                if (folderOf(files[i].path) == folder)
                    return std::make_pair(i, *refused);
            }
        }
        locks.folders.insert(folder, lock);
    }
    notice.done();
    return std::nullopt;
}

enum class Step { Written, AlreadyHeld, LeaseLost, Failed };

// One file's share under the locks: opened again (a network client fetches the file's size
// when it opens it, and the size it fetched before the wait is old by now), written at the end
// the file server reports, flushed, read back. With `sizeBefore` (a left-over journal entry) a
// file that already holds the record is not written again. Nothing is written once the lease
// on the folder's lock may have run out.
Step writeOne(const FileAppend& f, const qint64* sizeBefore, const Locks& locks, QString& reason)
{
    recordio::File file;
    if (const int error = file.openReadWrite(f.path)) {
        reason = plainReason(error, f.path);
        return Step::Failed;
    }
    qint64 end = 0;
    if (const int error = file.size(end)) {
        reason = plainReason(error, f.path);
        return Step::Failed;
    }
    if (sizeBefore && holdsRecord(file, *sizeBefore, end, f.bytes))
        return Step::AlreadyHeld;
    if (!locks.confirm(folderOf(f.path)))
        return Step::LeaseLost;
    qint64 done = 0;
    int error = file.writeAt(end, f.bytes, done);
    if (error == 0)
        error = file.flush();
    if (error == 0 && (file.created() || locks.created(f.path)))
        error = recordio::flushFolder(folderOf(f.path));
    QByteArray back;
    if (error == 0)
        error = file.readAt(end, f.bytes.size(), back);
    if (error == 0 && back != f.bytes) {
        reason = QStringLiteral("the record did not reach the file intact");
        return Step::Failed;
    }
    if (error != 0) {
        // Cut back only while everything past the old end is this record's own.
        qint64 now = -1;
        if (done > 0 && file.size(now) == 0 && now == end + done)
            file.truncateTo(end);
        reason = plainReason(error, f.path);
        return Step::Failed;
    }
    return Step::Written;
}

QList<journal::File> journalFiles(const QList<FileAppend>& files)
{
    QList<journal::File> entry;
    for (const FileAppend& f : files) {
        qint64 size = 0;
        recordio::sizeOfPath(f.path, size);
        entry << journal::File{f.name, f.path, size, f.bytes};
    }
    return entry;
}

// A journal folder that cannot be written is named once in a run, not at every record.
bool firstTimeFor(const QString& folder)
{
    static std::mutex mutex;
    static QSet<QString> told;
    std::lock_guard guard(mutex);
    if (told.contains(folder))
        return false;
    told.insert(folder);
    return true;
}

} // namespace

QString identityFileOf(const AppendSettings& settings)
{
    if (!settings.identityFile.isEmpty())
        return settings.identityFile;
    const QString data = settings.journalFolder.isEmpty() ? QFileInfo(journal::defaultFolder()).absolutePath()
                                                          : QFileInfo(settings.journalFolder).absolutePath();
    return data + QStringLiteral("/computer-id");
}

AppendOutcome appendRecord(const QList<FileAppend>& files, const AppendSettings& settings, const QString& journalEntry)
{
    if (files.isEmpty())
        return {};
    recordio::ignoreFileSizeSignal();
    AppendOutcome outcome;
    QString entry = journalEntry;
    const bool newEntry = entry.isEmpty() && !settings.journalFolder.isEmpty();
    if (newEntry) {
        QString why;
        entry = journal::begin(settings.journalFolder, journalFiles(files), &why);
        if (entry.isEmpty() && firstTimeFor(settings.journalFolder))
            outcome.journalFailure =
                QStringLiteral("The tutor's journal (%1) cannot be written: %2. Records are still written to the "
                               "record files, but one that a crash interrupts cannot be finished at the next start.")
                    .arg(QDir::toNativeSeparators(settings.journalFolder), why);
    }
    const QByteArray id = recordlock::computerId(identityFileOf(settings));
    const QDeadlineTimer deadline(settings.lock.waitMs);
    recordlock::WaitNotice notice(settings.waiting);
    qsizetype next = 0;
    // A lease lost between files (this program stalled) is taken again while time is left;
    // the files that took the record are not written again.
    for (int round = 0; next < files.size(); ++round) {
        Locks locks;
        const QList<FileAppend> rest = files.mid(next);
        if (const auto refused = takeLocks(rest, settings, id, deadline, notice, locks)) {
            outcome = failedAt(outcome, files[next + refused->first], refused->second);
            break;
        }
        bool lost = false;
        QString reason;
        for (; next < files.size(); ++next) {
            const Step step = writeOne(files[next], nullptr, locks, reason);
            if (step == Step::LeaseLost) {
                lost = true;
                break;
            }
            if (step == Step::Failed)
                break;
            outcome.written << files[next].name;
        }
        if (next < files.size() && !lost) {
            outcome = failedAt(outcome, files[next], reason);
            break;
        }
        if (lost && (deadline.hasExpired() || round >= 3)) {
            outcome = failedAt(outcome, files[next], kTakenOver);
            break;
        }
    }
    notice.done();
    // A record that no file took is in none of them: nothing to finish later.
    if (outcome.ok() || (newEntry && outcome.written.isEmpty()))
        journal::drop(entry);
    else
        outcome.journalEntry = entry;
    return outcome;
}

std::optional<QString> finishJournal(const AppendSettings& settings)
{
    QStringList finished;
    QStringList unfinished;
    QStringList unreadable;
    QStringList problems;
    QList<journal::LeftOver> whole;
    for (const journal::LeftOver& entry : journal::takeLeftOvers(settings.journalFolder, &problems)) {
        if (entry.state == journal::ReadState::Whole) {
            whole << entry;
            continue;
        }
        const QString where = QDir::toNativeSeparators(journal::setAside(entry.id));
        unreadable << (entry.state == journal::ReadState::OtherVersion
                           ? QStringLiteral("%1 (from another version of the tutor)").arg(where)
                           : QStringLiteral("%1 (damaged)").arg(where));
    }
    if (!whole.isEmpty()) {
        // Every entry under one taking of the locks, within one wait.
        QList<FileAppend> all;
        for (const journal::LeftOver& entry : whole) {
            for (const journal::File& f : entry.files)
                all << FileAppend{f.name, f.path, f.bytes};
        }
        const QByteArray id = recordlock::computerId(identityFileOf(settings));
        recordlock::WaitNotice notice(settings.waiting);
        Locks locks;
        const auto refused = takeLocks(all, settings, id, QDeadlineTimer(settings.lock.waitMs), notice, locks);
        bool lost = false;
        for (const journal::LeftOver& entry : whole) {
            QStringList added;
            QStringList held;
            QString failedName;
            QString failedPath;
            QString reason;
            if (refused) {
                failedName = all[refused->first].name;
                failedPath = all[refused->first].path;
                reason = refused->second;
            }
            for (qsizetype i = 0; i < entry.files.size() && failedName.isEmpty(); ++i) {
                const journal::File& f = entry.files[i];
                const Step step =
                    lost ? Step::LeaseLost : writeOne({f.name, f.path, f.bytes}, &f.sizeBefore, locks, reason);
                if (step == Step::Written)
                    added << f.name;
                else if (step == Step::AlreadyHeld)
                    held << f.name;
                else {
                    lost = lost || step == Step::LeaseLost;
                    failedName = f.name;
                    failedPath = f.path;
                    if (step == Step::LeaseLost)
                        reason = kTakenOver;
                }
            }
            if (!failedName.isEmpty()) {
                journal::keep(entry.id);
                unfinished << QStringLiteral("%1 (on disk: %2): %3; it is kept in %4")
                                  .arg(failedName, QDir::toNativeSeparators(failedPath), reason,
                                       QDir::toNativeSeparators(entry.id));
                continue;
            }
            journal::drop(entry.id);
            if (added.isEmpty())
                continue;
            QString line = QStringLiteral("a record now added to %1").arg(added.join(QStringLiteral(", ")));
            if (!held.isEmpty())
                line += QStringLiteral(" (it was already in %1)").arg(held.join(QStringLiteral(", ")));
            finished << line;
        }
    }
    QStringList parts;
    if (!finished.isEmpty())
        parts << QStringLiteral("An earlier run of the tutor ended while it was recording. These records are now "
                                "complete in all their files, none written twice:\n- %1")
                     .arg(finished.join(QStringLiteral("\n- ")));
    if (!unfinished.isEmpty())
        parts << QStringLiteral("These records of an earlier run could not be finished yet, and will be tried again "
                                "at the next start:\n- %1")
                     .arg(unfinished.join(QStringLiteral("\n- ")));
    if (!unreadable.isEmpty())
        parts << QStringLiteral("These journal entries cannot be read, so nothing was written from them; they are "
                                "left where they are:\n- %1")
                     .arg(unreadable.join(QStringLiteral("\n- ")));
    // Said here at the start, it is not said again at the first record.
    if (!problems.isEmpty() && firstTimeFor(settings.journalFolder))
        parts << QStringLiteral("The tutor's journal cannot be used, so records that a crash interrupts cannot be "
                                "finished at the next start:\n- %1")
                     .arg(problems.join(QStringLiteral("\n- ")));
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(QStringLiteral("\n\n"));
}

Channels::Channels() = default;
Channels::~Channels() = default;

QFile* Channels::file(int channel) const
{
    if (channel < 1 || channel > kCount)
        return nullptr;
    return files_[size_t(channel - 1)].get();
}

std::optional<Failure> Channels::open(int channel, const QString& path, Mode mode)
{
    if (channel < 1 || channel > kCount)
        return Failure{QStringLiteral("channel %1 does not exist").arg(channel)};
    close(channel);
    auto f = std::make_unique<QFile>(path);
    QIODevice::OpenMode flags = QIODevice::ReadOnly;
    if (mode == Mode::Output)
        flags = QIODevice::WriteOnly | QIODevice::Truncate;
    else if (mode == Mode::Append)
        flags = QIODevice::WriteOnly | QIODevice::Append;
    const QFileInfo info(path);
    if (info.isDir())
        return Failure{plainReason(EISDIR, path)};
    if (!f->open(flags)) {
        if (!info.absoluteDir().exists())
            return Failure{plainReason(ENOENT, path)};
        if (mode == Mode::Input && !info.exists())
            return Failure{plainReason(ENOENT, path)};
        return Failure{f->errorString()};
    }
    files_[size_t(channel - 1)] = std::move(f);
    return std::nullopt;
}

QByteArray Channels::readLine(int channel)
{
    QFile* f = file(channel);
    QByteArray line;
    if (!f)
        return line;
    // A run up to the next CR at a time, from the file's own buffer (a character at a time
    // made a notes file of megabytes slow to read): a short look ahead first, as most
    // record lines are short, and further along a long one.
    char chunk[16384];
    qint64 ahead = 256;
    for (;; ahead = std::min<qint64>(ahead * 4, sizeof chunk)) {
        const qint64 got = f->peek(chunk, ahead);
        if (got <= 0)
            return line;
        const auto* cr = static_cast<const char*>(std::memchr(chunk, '\r', size_t(got)));
        if (!cr) {
            line.append(chunk, got);
            f->skip(got);
            continue;
        }
        line.append(chunk, cr - chunk);
        f->skip(cr - chunk + 1);
        char next = 0;
        if (f->peek(&next, 1) == 1 && next == '\n')
            f->skip(1);
        return line;
    }
}

bool Channels::atEnd(int channel) const
{
    QFile* f = file(channel);
    return !f || f->atEnd();
}

std::optional<Failure> Channels::write(int channel, const QByteArray& bytes)
{
    QFile* f = file(channel);
    if (!f)
        return Failure{QStringLiteral("channel %1 holds no file").arg(channel)};
    errno = 0;
    if (f->write(bytes) != bytes.size() || !f->flush()) {
        // The system's own reason in plain words where there is one; Qt's text otherwise.
        const int error = errno;
        return Failure{error != 0 ? plainReason(error, f->fileName()) : f->errorString()};
    }
    return std::nullopt;
}

void Channels::close(int channel)
{
    if (channel < 1 || channel > kCount)
        return;
    files_[size_t(channel - 1)].reset();
}

void Channels::closeAll()
{
    for (int c = 1; c <= kCount; ++c)
        close(c);
}
