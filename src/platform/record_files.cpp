#include "record_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QDateTime>

#include <vector>

#include "record_io.h"
#include "record_journal.h"

QString plainReason(int error, const QString& path)
{
    switch (error) {
    case ENOENT: {
        const QFileInfo info(path);
        if (!info.absoluteDir().exists())
            return QStringLiteral("the folder %1 does not exist").arg(QDir::toNativeSeparators(info.absolutePath()));
        return QStringLiteral("the file does not exist");
    }
    case EACCES:
    case EPERM:
        return QStringLiteral("the file or its folder is read-only (no permission to write)");
    case EROFS:
        return QStringLiteral("the disk is read-only");
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QStringLiteral("the disk is full");
    case EFBIG:
        return QStringLiteral("the file has reached the largest size allowed");
    case EISDIR:
        return QStringLiteral("it is a folder, not a file");
    case ENOTDIR:
        return QStringLiteral("part of its path is a file, not a folder");
    case EIO:
        return QStringLiteral("the disk reported an input/output error");
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
        // Windows refuses to open a file that another program holds without sharing it;
        // its C library has no words for this number.
        return QStringLiteral("another program has the file open and lets nobody write to it (close it there)");
#endif
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

namespace {

AppendOutcome failedAt(AppendOutcome outcome, const FileAppend& file, const QString& reason)
{
    outcome.failedName = file.name;
    outcome.failedPath = file.path;
    outcome.reason = reason;
    return outcome;
}

AppendOutcome failedAt(AppendOutcome outcome, const FileAppend& file, int error)
{
    return failedAt(std::move(outcome), file, plainReason(error, file.path));
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

// Appends under the locks. With `sizesBefore` (a left-over journal entry) a file that
// already holds the record is counted as written and not written again.
AppendOutcome appendLocked(const QList<FileAppend>& files, const AppendSettings& settings,
                           const QList<qint64>* sizesBefore, QStringList* alreadyHeld = nullptr)
{
    recordio::ignoreFileSizeSignal();
    AppendOutcome outcome;
    const qint64 deadline = QDateTime::currentMSecsSinceEpoch() + settings.lock.waitMs;
    std::vector<recordio::File> open(size_t(files.size()));
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (const int error = open[size_t(i)].openReadWrite(files[i].path))
            return failedAt(outcome, files[i], error);
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        int pauseMs = 1;
        for (;;) {
            const int error = open[size_t(i)].tryLock();
            if (error == 0)
                break;
            if (error != EWOULDBLOCK)
                return failedAt(outcome, files[i], error);
            if (QDateTime::currentMSecsSinceEpoch() >= deadline)
                return failedAt(outcome, files[i],
                                QStringLiteral("another tutor on this computer has been writing to it for longer "
                                               "than %1 seconds; please try again in a moment")
                                    .arg(std::max(1, settings.lock.waitMs / 1000)));
            recordio::pause(pauseMs);
            pauseMs = std::min(pauseMs * 2, 20);
        }
    }
    // The operating-system locks come first: they let only one program of this computer at a
    // time take or judge a lock file.
    QStringList folders;
    for (const FileAppend& f : files)
        folders << folderOf(f.path);
    folders.sort();
    folders.removeDuplicates();
    std::vector<recordlock::FolderLock> folderLocks(size_t(folders.size()));
    for (qsizetype k = 0; k < folders.size(); ++k) {
        if (const auto refused = folderLocks[size_t(k)].acquire(folders[k], settings.lock, deadline)) {
            for (const FileAppend& f : files) {
                if (folderOf(f.path) == folders[k])
                    return failedAt(outcome, f, *refused);
            }
        }
    }
    // Opened again under the locks: a network client fetches the file's size when it opens
    // it, and the size it fetched before the wait for the lock file is old by now.
    std::vector<recordio::File> io(size_t(files.size()));
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (const int error = io[size_t(i)].openReadWrite(files[i].path))
            return failedAt(outcome, files[i], error);
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        recordio::File& file = io[size_t(i)];
        const QByteArray& bytes = files[i].bytes;
        qint64 end = 0;
        if (const int error = file.size(end))
            return failedAt(outcome, files[i], error);
        if (sizesBefore && holdsRecord(file, sizesBefore->value(i), end, bytes)) {
            if (alreadyHeld)
                *alreadyHeld << files[i].name;
            outcome.written << files[i].name;
            continue;
        }
        qint64 done = 0;
        int error = file.writeAt(end, bytes, done);
        if (error == 0)
            error = file.flush();
        if (error == 0 && open[size_t(i)].created())
            error = recordio::flushFolder(folderOf(files[i].path));
        QByteArray back;
        if (error == 0)
            error = file.readAt(end, bytes.size(), back);
        if (error == 0 && back != bytes)
            return failedAt(outcome, files[i], QStringLiteral("the record did not reach the file intact"));
        if (error != 0) {
            // Cut back only while everything past the old end is this record's own.
            qint64 now = -1;
            if (done > 0 && file.size(now) == 0 && now == end + done)
                file.truncateTo(end);
            return failedAt(outcome, files[i], error);
        }
        outcome.written << files[i].name;
    }
    return outcome;
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

} // namespace

AppendOutcome appendRecord(const QList<FileAppend>& files, const AppendSettings& settings)
{
    if (files.isEmpty())
        return {};
    QString entry = files.front().journalEntry;
    const bool newEntry = entry.isEmpty() && !settings.journalFolder.isEmpty();
    if (newEntry)
        entry = journal::begin(settings.journalFolder, journalFiles(files));
    AppendOutcome outcome = appendLocked(files, settings, nullptr);
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
    for (const journal::LeftOver& entry : journal::takeLeftOvers(settings.journalFolder)) {
        if (entry.state != journal::ReadState::Whole) {
            const QString where = QDir::toNativeSeparators(journal::setAside(entry.id));
            unreadable << (entry.state == journal::ReadState::OtherVersion
                               ? QStringLiteral("%1 (from another version of the tutor)").arg(where)
                               : QStringLiteral("%1 (damaged)").arg(where));
            continue;
        }
        QList<FileAppend> files;
        QList<qint64> sizes;
        for (const journal::File& f : entry.files) {
            files << FileAppend{f.name, f.path, f.bytes, entry.id};
            sizes << f.sizeBefore;
        }
        QStringList held;
        const AppendOutcome outcome = appendLocked(files, settings, &sizes, &held);
        if (!outcome.ok()) {
            journal::keep(entry.id);
            unfinished << QStringLiteral("%1 (on disk: %2): %3; it is kept in %4")
                              .arg(outcome.failedName, QDir::toNativeSeparators(outcome.failedPath), outcome.reason,
                                   QDir::toNativeSeparators(entry.id));
            continue;
        }
        journal::drop(entry.id);
        QStringList added = outcome.written;
        for (const QString& name : held)
            added.removeOne(name);
        if (added.isEmpty())
            continue;
        QString line = QStringLiteral("a record now added to %1").arg(added.join(QStringLiteral(", ")));
        if (!held.isEmpty())
            line += QStringLiteral(" (it was already in %1)").arg(held.join(QStringLiteral(", ")));
        finished << line;
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
    if (f->write(bytes) != bytes.size() || !f->flush())
        return Failure{f->errorString()};
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
