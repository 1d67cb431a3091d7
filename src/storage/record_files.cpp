#include "record_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QCryptographicHash>
#include <QDataStream>
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
// record was composed; 0 or the errno value of a look that failed. A look that failed is no
// answer: taken for "not there", the record would be written a second time after a write whose
// answer was lost (a client reconnecting).
int holdsRecord(recordio::File& file, qint64 from, qint64 end, const QByteArray& bytes, bool& held)
{
    held = false;
    if (from > end)
        from = 0;
    if (end - from < bytes.size())
        return 0;
    QByteArray tail;
    if (const int error = file.readAt(from, end - from, tail))
        return error;
    held = tail.indexOf(bytes) >= 0;
    return 0;
}

const QString kTakenOver = QStringLiteral(
    "this computer's hold on the record files ran out before the record was written (it did not answer for a "
    "while, or another computer has taken the record files over meanwhile); nothing more was written there, please "
    "try again");

QString writeReason(int error, const recordio::File& file, const QString& path)
{
    return writeReason(error, file.remote(), path);
}

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

    int open(const QString& path, recordio::File*& out)
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
    recordio::File& file(const QString& path) { return *step.value(path); }
};

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

KnownEnds& knownEnds()
{
    static KnownEnds ends;
    return ends;
}

// A record file that is not there, on a folder whose client's create may cut a file to nothing
// (smbnetfs asks the file server to make the file or cut it), is made only while this program
// holds the folder's lock: one that looked a moment before another computer made the file and
// wrote its record there would cut that record away. Under the lock nobody else makes or writes
// it. Elsewhere a create-new is one step on the file server, made as the file is opened for its
// operating-system lock: a lock taken only to make a file would be written to while a neighbour
// on this computer holds the files, and sshfs then keeps the size that neighbour's open took
// before its wait instead of the one it takes under the locks.
std::optional<QString> makeMissing(const QString& path, const QByteArray& id, const recordlock::WaitBound& wait,
                                   recordlock::WaitNotice& notice)
{
    const QString folder = folderOf(path);
    if (!QFileInfo(folder).isDir())
        return plainReason(ENOENT, path);
    recordlock::FolderLock lock;
    if (auto refused = lock.acquire(folder, wait, id, &notice))
        return refused;
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
                                         const recordlock::WaitBound& wait, recordlock::WaitNotice& notice)
{
    if (!recordio::createMayCut(folderOf(path))) {
        const int error = file.openReadWrite(path);
        return error == 0 ? std::nullopt : std::optional<QString>(plainReason(error, path));
    }
    int error = file.openExisting(path);
    // Removed again by somebody right after it was made: made once more, a few times.
    for (int attempt = 0; error == ENOENT && attempt < 3; ++attempt) {
        if (auto refused = makeMissing(path, id, wait, notice))
            return refused;
        error = file.openExisting(path);
    }
    return error == 0 ? std::nullopt : std::optional<QString>(plainReason(error, path));
}

// Every lock these files need, all within one deadline; the file refused and why, if any.
std::optional<std::pair<qsizetype, QString>> takeLocks(const QList<FileAppend>& files, const AppendSettings& settings,
                                                       const QByteArray& id, const recordlock::WaitBound& wait,
                                                       recordlock::WaitNotice& notice, Locks& locks)
{
    QElapsedTimer waited;
    waited.start();
    qint64 lookedAt = -1000;
    qint64 lookEvery = 1000;
    QString holder;
    // The neighbours of this computer that waited longer take the files first.
    const QString data = QFileInfo(identityFileOf(settings)).absolutePath();
    recordlock::Turn turn(data + QStringLiteral("/turns"), folderOf(files.value(0).path), wait.startMs());
    const QString standIns = data + QStringLiteral("/locks");
    qint64 yieldedMs = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& path = files[i].path;
        if (locks.osIndex.contains(path))
            continue;
        recordio::File file;
        const qint64 openStartedMs = recordlock::clockMs();
        if (openStandIn(file, standIns, path)) {
            locks.standIns.insert(path);
        } else {
            if (const auto refused = openMadeIfMissing(file, path, id, wait, notice))
                return std::make_pair(i, *refused);
            // An open is a look-up and the open itself: the round trip before any wait is sized.
            if (i == 0)
                recordlock::noteRoundTrip(folderOf(path), (recordlock::clockMs() - openStartedMs) / 2);
        }
        int pauseMs = 1;
        for (;;) {
            // Not tried while a neighbour that waited longer may be about to take it.
            const bool yielding = locks.osIndex.isEmpty() && turn.othersFirst(yieldedMs, wait.timing().yieldMs);
            const qint64 triedAtMs = recordlock::clockMs();
            const int error = yielding ? EWOULDBLOCK : file.tryLock();
            if (error == 0)
                break;
            if (error != EWOULDBLOCK)
                return std::make_pair(i, plainReason(error, path));
            turn.waiting();
            // Who holds the files may be a computer that a neighbour here waits for; looked up
            // only once the wait is long enough to tell, and then once a second. Over a slow link
            // a look takes seconds, and a neighbour lets go of the files only for a moment
            // between its records: the looks are spaced out so that most of the wait is spent
            // trying the lock.
            const bool expired = wait.expired();
            if (expired || (waited.elapsed() >= 500 && waited.elapsed() - lookedAt >= lookEvery)) {
                const qint64 lookStarted = waited.elapsed();
                holder = recordlock::neighbourOf(folderOf(path), id);
                lookedAt = waited.elapsed();
                lookEvery = std::max<qint64>(1000, 4 * (lookedAt - lookStarted));
                notice.waiting(holder, wait.waitedMs(), wait.timing().waitMs);
            }
            if (expired)
                return std::make_pair(i, QStringLiteral("the record files are in use by %1, for longer than %2 "
                                                        "seconds; please try again in a moment")
                                             .arg(holder)
                                             .arg(recordlock::secondsTold(wait.timing().waitMs)));
            recordio::pause(pauseMs);
            // The next in line tries often: a neighbour lets go only for a moment between records.
            pauseMs = std::min(pauseMs * 2, locks.osIndex.isEmpty() && turn.nextInLine() ? 4 : 20);
            if (yielding)
                yieldedMs += recordlock::clockMs() - triedAtMs;
        }
        locks.osIndex.insert(path, locks.os.size());
        locks.os.push_back(std::move(file));
    }
    turn.done();
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
        if (const auto refused = lock->acquire(folder, wait, id, &notice)) {
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

// One file's share of a record to write under the locks; with `sizeBefore` (a record that may
// have reached the file already) the file is looked at first and written only when it lacks it.
struct Job {
    FileAppend file;
    std::optional<qint64> sizeBefore{};
    IndexNote index{};
};

// A share without bytes carries only index entries (a session's end): no record file is written.
bool indexOnly(const Job& job)
{
    return job.file.bytes.isEmpty();
}

QString indexPathOf(const QString& recordFile)
{
    return folderOf(recordFile) + u'/' + QLatin1String(sessionindex::kFileName);
}

// Whether the index holds the job's end entry at or after `from` (where it ended when the entry
// was kept). An index that cannot be read is taken to hold it: a session's end said twice would
// be worse than one not said.
bool indexHolds(const Job& job, qint64 from)
{
    if (!job.index.end)
        return true;
    recordio::File index;
    qint64 end = 0;
    QByteArray tail;
    if (const int error = index.openExisting(indexPathOf(job.file.path)))
        return error != ENOENT;
    if (index.size(end) != 0)
        return true;
    if (from > end)
        from = 0;
    if (index.readAt(from, end - from, tail) != 0)
        return true;
    return tail.contains(sessionindex::encode(*job.index.end));
}

enum class Step { Written, AlreadyHeld, LeaseLost, Failed };

struct Steps {
    QList<Step> done;         // one per job, in order, up to and with the first that did not succeed
    QString reason;           // why the last one did not
    qsizetype failedJob = -1; // the job the reason is about, where it is not the last one
    bool touched = false;     // some record file may hold part of a record that is not known whole
    // Where each file's share was to go: once in a lock, an intent may be finished by whoever
    // breaks that lock, so a record whose lease ran out is looked for there before it is written.
    QHash<QString, qint64> intended;
    // The session index that did not take the record's entries, and why.
    QString indexPath;
    QString indexFailure;
};

// The session index's entries of the jobs before `upTo` that are written into `folder` (at
// their offsets), in the jobs' order: those of fewer jobs are the start of those of more.
QList<sessionindex::Entry> indexEntries(const QList<Job>& jobs, const QList<qint64>& at, qsizetype upTo,
                                        const QString& folder)
{
    QList<sessionindex::Entry> list;
    QSet<QByteArray> started;
    for (qsizetype i = 0; i < upTo; ++i) {
        const IndexNote& note = jobs[i].index;
        if (at[i] < 0 || note.session.isEmpty() || folderOf(jobs[i].file.path) != folder)
            continue;
        if (indexOnly(jobs[i])) {
            if (note.end)
                list << *note.end;
            continue;
        }
        if (note.start && !started.contains(note.session)) {
            started.insert(note.session);
            list << *note.start;
        }
        list << sessionindex::PlaceEntry{note.session, note.kind, QFileInfo(jobs[i].file.path).fileName(), at[i],
                                         jobs[i].file.bytes.size()};
    }
    return list;
}

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
                                      QHash<QString, QList<recordintent::Part>>& intents, Steps& steps)
{
    std::vector<IndexTarget> targets;
    for (auto it = intents.begin(); it != intents.end(); ++it) {
        const QList<sessionindex::Entry> entries = indexEntries(jobs, at, jobs.size(), it.key());
        if (entries.isEmpty())
            continue;
        IndexTarget t;
        t.folder = it.key();
        t.path = t.folder + u'/' + QLatin1String(sessionindex::kFileName);
        QByteArray last;
        int error = t.file.openReadWrite(t.path);
        if (error == 0)
            error = t.file.size(t.at);
        // Still where this program's own last entry ended it: with a line end.
        if (error == 0 && t.at > 0 && knownEnds().of(t.path) == t.at)
            last = "\n";
        else if (error == 0 && t.at > 0)
            error = t.file.readAt(t.at - 1, 1, last);
        if (error != 0) {
            steps.indexPath = t.path;
            steps.indexFailure = plainReason(error, t.path);
            continue;
        }
        t.lastByte = last.isEmpty() ? std::nullopt : std::optional<char>(last.front());
        it.value() << recordintent::Part{QLatin1String(sessionindex::kFileName), t.at, t.bytes(entries)};
        targets.push_back(std::move(t));
    }
    return targets;
}

// The entries of the jobs before `upTo` that were written, at the offset the intent gave them,
// still under the locks. A holder whose lease ran out writes them only where the index ends
// inside them, as a breaker does: a breaker may have written them already, and others may have
// appended after them. A failure here is only said: the records are in their files whatever
// becomes of the index.
void writeIndex(std::vector<IndexTarget>& targets, const QList<Job>& jobs, const QList<qint64>& at, qsizetype upTo,
                Locks& locks, Steps& steps)
{
    for (IndexTarget& t : targets) {
        const QList<sessionindex::Entry> entries = indexEntries(jobs, at, upTo, t.folder);
        if (entries.isEmpty() || !t.file.isOpen())
            continue;
        const QByteArray bytes = t.bytes(entries);
        QString why;
        if (locks.folders.value(t.folder)->confirm()) {
            qint64 done = 0;
            int error = t.file.writeAt(t.at, bytes, done);
            if (error == 0)
                error = t.file.flush();
            if (error == 0)
                error = t.file.closeChecked();
            if (error == 0)
                knownEnds().set(t.path, t.at + bytes.size());
            else
                why = plainReason(error, t.path);
        } else {
            t.file.closeChecked();
            why = recordintent::finishPart(t.folder, {QLatin1String(sessionindex::kFileName), t.at, bytes})
                      .value_or(QString());
        }
        if (!why.isEmpty()) {
            steps.indexPath = t.path;
            steps.indexFailure = why;
        }
    }
}

QByteArray encodeNote(const IndexNote& note)
{
    if (note.session.isEmpty())
        return {};
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << note.session << qint8(note.kind) << bool(note.start);
    if (note.start)
        out << note.start->id << note.start->set << note.start->host << note.start->date << note.start->time
            << note.start->name;
    // After what earlier versions kept, so that their entries still read.
    if (note.end)
        out << qint8(note.end->how) << note.end->date << note.end->time;
    return bytes;
}

IndexNote decodeNote(const QByteArray& bytes)
{
    IndexNote note;
    if (bytes.isEmpty())
        return note;
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    qint8 kind = 0;
    bool hasStart = false;
    in >> note.session >> kind >> hasStart;
    note.kind = kind == qint8(sessionindex::PlaceEntry::Kind::Header) ? sessionindex::PlaceEntry::Kind::Header
                                                                      : sessionindex::PlaceEntry::Kind::Record;
    if (hasStart) {
        sessionindex::SessionEntry start;
        in >> start.id >> start.set >> start.host >> start.date >> start.time >> start.name;
        note.start = start;
    }
    if (!in.atEnd()) {
        qint8 how = 0;
        sessionindex::EndEntry end;
        end.session = note.session;
        in >> how >> end.date >> end.time;
        if (how < 0 || how > qint8(sessionindex::EndEntry::How::Closed))
            return {};
        end.how = sessionindex::EndEntry::How(how);
        note.end = end;
    }
    // A note that cannot be read gives no entries: the records are finished all the same.
    if (in.status() != QDataStream::Ok || note.session.size() != sessionindex::kIdDigits)
        return {};
    return note;
}

// The same bytes at the same offset until they are there, a few times: a reply lost on the way
// (a client reconnecting) is not a record lost.
int writeWhole(recordio::File& file, qint64 at, const QByteArray& bytes, bool created, const QString& path)
{
    int error = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            recordio::pause(100 * attempt);
        qint64 done = 0;
        error = file.writeAt(at, bytes, done);
        if (error == 0)
            error = file.flush();
        if (error == 0 && created)
            error = recordio::flushFolder(folderOf(path));
        QByteArray back;
        if (error == 0)
            error = file.readAt(at, bytes.size(), back);
        if (error == 0 && back != bytes)
            error = EILSEQ;
        // Only a network client's failure may be a write that landed after all.
        if (error == 0 || !file.remote())
            return error;
    }
    return error;
}

// The jobs under the locks: each file's end as the file server has it, the whole intent into
// each folder's lock, then the writes, each flushed and read back. Stops at the first that
// does not succeed.
Steps writeUnder(Locks& locks, const QList<Job>& jobs)
{
    Steps steps;
    QHash<QString, qint64> ends;
    QList<qint64> at(jobs.size(), -1);
    QHash<QString, QList<recordintent::Part>> intents;
    auto stop = [&](qsizetype i, Step step, const QString& reason) {
        steps.done.resize(i);
        steps.done << step;
        steps.reason = reason;
        return steps;
    };
    // Before anything is written: the files before this one that already hold the record took
    // it, the others are only planned.
    auto stopBeforeWriting = [&](qsizetype i, int error, const QString& path) {
        qsizetype held = 0;
        while (held < i && steps.done[held] == Step::AlreadyHeld)
            ++held;
        steps.failedJob = i;
        return stop(held, Step::Failed, plainReason(error, path));
    };
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const FileAppend& f = jobs[i].file;
        if (indexOnly(jobs[i])) {
            const bool held = jobs[i].sizeBefore && indexHolds(jobs[i], *jobs[i].sizeBefore);
            at[i] = held ? -1 : 0;
            intents[folderOf(f.path)]; // its index is looked at, even with no record there
            steps.done << (held ? Step::AlreadyHeld : Step::Written);
            continue;
        }
        recordio::File* opened = nullptr;
        if (const int error = locks.open(f.path, opened))
            return stopBeforeWriting(i, error, f.path);
        recordio::File& file = *opened;
        if (!ends.contains(f.path)) {
            qint64 end = 0;
            if (const int error = file.size(end))
                return stopBeforeWriting(i, error, f.path);
            ends.insert(f.path, end);
            knownEnds().set(f.path, end);
        }
        qint64& end = ends[f.path];
        if (jobs[i].sizeBefore) {
            bool held = false;
            if (const int error = holdsRecord(file, *jobs[i].sizeBefore, end, f.bytes, held))
                return stopBeforeWriting(i, error, f.path);
            if (held) {
                steps.done << Step::AlreadyHeld;
                continue;
            }
        }
        at[i] = end;
        end += f.bytes.size();
        if (!steps.intended.contains(f.path))
            steps.intended.insert(f.path, at[i]);
        intents[folderOf(f.path)] << recordintent::Part{QFileInfo(f.path).fileName(), at[i], f.bytes};
        steps.done << Step::Written;
    }
    std::vector<IndexTarget> index = indexTargets(jobs, at, intents, steps);
    // A session's end whose lease runs out is looked for in the index before it is written again.
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        for (const IndexTarget& t : index) {
            if (at[i] == 0 && indexOnly(jobs[i]) && t.folder == folderOf(jobs[i].file.path) &&
                !steps.intended.contains(jobs[i].file.path))
                steps.intended.insert(jobs[i].file.path, t.at);
        }
    }
    for (auto it = intents.cbegin(); it != intents.cend(); ++it) {
        if (it.value().isEmpty())
            continue;
        QString why;
        const recordlock::Declared declared = locks.folders.value(it.key())->declare(it.value(), &why);
        if (declared == recordlock::Declared::Held)
            continue;
        steps.touched = declared == recordlock::Declared::Lost;
        // Nothing is written before every intent is in place.
        qsizetype first = 0;
        while (first + 1 < jobs.size() && at[first] < 0)
            ++first;
        return declared == recordlock::Declared::Lost ? stop(first, Step::LeaseLost, kTakenOver)
                                                      : stop(first, Step::Failed, why);
    }
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        if (at[i] < 0 || indexOnly(jobs[i]))
            continue;
        const FileAppend& f = jobs[i].file;
        recordio::File& file = locks.file(f.path);
        steps.touched = true;
        if (const int error = writeWhole(file, at[i], f.bytes, file.created(), f.path)) {
            writeIndex(index, jobs, at, i, locks, steps);
            // On this computer's own disk nobody can write while the operating-system lock is
            // held, and nothing arrives late: a part written is cut back, and the intent goes.
            if (!file.remote()) {
                qint64 now = -1;
                if (file.size(now) == 0 && now > at[i] && now <= at[i] + f.bytes.size())
                    file.truncateTo(at[i]);
                locks.folders.value(folderOf(f.path))->written();
                steps.touched = false;
            }
            return stop(i, Step::Failed,
                        error == EILSEQ ? QStringLiteral("the record did not reach the file intact")
                                        : writeReason(error, file, f.path));
        }
        knownEnds().set(f.path, at[i] + f.bytes.size());
    }
    // A network client may only say at the close that a write did not arrive.
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        if (at[i] < 0 || indexOnly(jobs[i]))
            continue;
        recordio::File& file = locks.file(jobs[i].file.path);
        if (!file.isOpen())
            continue;
        if (const int error = file.closeChecked()) {
            writeIndex(index, jobs, at, i, locks, steps);
            return stop(i, Step::Failed, writeReason(error, file, jobs[i].file.path));
        }
    }
    writeIndex(index, jobs, at, jobs.size(), locks, steps);
    // Whatever happened to the lease meanwhile, what was read back is this record, once, written
    // by this computer: a breaker writes nothing there but the same bytes.
    for (const auto& lock : std::as_const(locks.folders))
        lock->written();
    steps.touched = false;
    steps.intended.clear();
    return steps;
}

QList<journal::File> journalFiles(const QList<FileAppend>& files, bool askServer = true)
{
    QList<journal::File> entry;
    for (const FileAppend& f : files) {
        // A share of index entries only is looked for in the index.
        const QString path = f.bytes.isEmpty() ? indexPathOf(f.path) : f.path;
        qint64 size = 0;
        if (const auto known = knownEnds().of(path))
            size = *known;
        else if (askServer)
            recordio::sizeOfPath(path, size);
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

// Said once per index in a run, as the journal's failure is.
QString indexFailureMessage(const Steps& steps)
{
    if (steps.indexFailure.isEmpty() || !firstTimeFor(steps.indexPath))
        return {};
    return QStringLiteral("The session index beside the record files (%1) cannot be written: %2. Records are still "
                          "written to the record files, but the instructor's review may not tell whose they are.")
        .arg(QDir::toNativeSeparators(steps.indexPath), steps.indexFailure);
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

QString keepInJournal(const QList<FileAppend>& files, const AppendSettings& settings, QString* why)
{
    QString entry = journal::begin(settings.journalFolder, journalFiles(files, false), why, encodeNote(settings.index));
    if (entry.isEmpty())
        return {};
    if (const auto failed = journal::settle(entry)) {
        if (why)
            *why = *failed;
        return {};
    }
    return entry;
}

AppendOutcome appendRecord(const QList<FileAppend>& files, const AppendSettings& settings, const QString& journalEntry,
                           bool lookFirst)
{
    if (files.isEmpty())
        return {};
    recordio::ignoreFileSizeSignal();
    AppendOutcome outcome;
    QString entry = journalEntry;
    const bool newEntry = entry.isEmpty() && !settings.journalFolder.isEmpty();
    // A retry looks for the record first in every file it may have reached.
    QHash<QString, qint64> sizeBefore;
    auto journalFailed = [&](const QString& why) {
        if (firstTimeFor(settings.journalFolder))
            outcome.journalFailure =
                QStringLiteral("The tutor's journal (%1) cannot be written: %2. Records are still written to the "
                               "record files, but one that a crash interrupts cannot be finished at the next start.")
                    .arg(QDir::toNativeSeparators(settings.journalFolder), why);
    };
    if (newEntry) {
        QString why;
        entry = journal::begin(settings.journalFolder, journalFiles(files), &why, encodeNote(settings.index));
        if (entry.isEmpty())
            journalFailed(why);
    } else if (!entry.isEmpty() && lookFirst) {
        for (const journal::File& f : journal::filesOf(entry))
            sizeBefore.insert(f.path, f.sizeBefore);
    }
    const QByteArray id = recordlock::computerId(identityFileOf(settings));
    const recordlock::WaitBound wait(settings.lock, folderOf(files.value(0).path));
    recordlock::WaitNotice notice(settings.waiting);
    qsizetype next = 0;
    bool touched = false;
    bool leaseLost = false;
    bool takenFromUs = false;
    IndexNote index = settings.index;
    // A lease lost before the files were touched (this program stalled) is taken again while
    // time is left; the files that took the record are not written again.
    for (int round = 0; next < files.size(); ++round) {
        const qsizetype roundStart = next;
        Locks locks;
        const QList<FileAppend> rest = files.mid(next);
        if (const auto refused = takeLocks(rest, settings, id, wait, notice, locks)) {
            outcome = failedAt(outcome, files[next + refused->first], refused->second);
            break;
        }
        // The journal's flush went on while the locks were taken; it is on the disk before any
        // record file is touched.
        if (newEntry && !entry.isEmpty()) {
            if (const auto why = journal::settle(entry)) {
                journalFailed(*why);
                entry.clear();
            }
        }
        QList<Job> jobs;
        for (const FileAppend& f : rest) {
            const auto known = sizeBefore.constFind(f.path);
            jobs << Job{f, known != sizeBefore.constEnd() ? std::optional<qint64>(*known) : std::nullopt, index};
        }
        const Steps steps = writeUnder(locks, jobs);
        for (const auto& lock : std::as_const(locks.folders)) {
            lock->release();
            takenFromUs = takenFromUs || lock->takenFromUs();
        }
        if (outcome.indexFailure.isEmpty())
            outcome.indexFailure = indexFailureMessage(steps);
        touched = touched || steps.touched;
        for (auto it = steps.intended.cbegin(); it != steps.intended.cend(); ++it) {
            if (!sizeBefore.contains(it.key()) || sizeBefore[it.key()] > it.value())
                sizeBefore.insert(it.key(), it.value());
        }
        for (const Step step : steps.done) {
            if (step != Step::Written && step != Step::AlreadyHeld)
                break;
            // After a lease lost with its intent in the lock, and no record file written, a file
            // found holding the record was finished by whoever took the lock away.
            if (step == Step::AlreadyHeld && leaseLost && takenFromUs)
                outcome.tookOver = true;
            outcome.written << files[next++].name;
            index.start.reset(); // the session is in the index with the first file that took its header
        }
        if (next == files.size())
            break;
        if (steps.done.last() == Step::Failed) {
            outcome = failedAt(outcome, files[steps.failedJob < 0 ? next : roundStart + steps.failedJob], steps.reason);
            break;
        }
        leaseLost = true;
        if (wait.expired() || round >= 3) {
            outcome = failedAt(outcome, files[next], kTakenOver);
            break;
        }
    }
    notice.done();
    // A record that no file took, and no write began for, is in none of them: nothing to
    // finish later. One whose write may have landed stays until it is found.
    if (outcome.ok() || (newEntry && outcome.written.isEmpty() && !touched))
        journal::drop(entry);
    else
        outcome.journalEntry = entry;
    outcome.outcomeUnknown = touched;
    return outcome;
}

LeftOvers finishJournal(const AppendSettings& settings)
{
    LeftOvers told;
    QStringList problems;
    QList<journal::LeftOver> whole;
    for (const journal::LeftOver& entry : journal::takeLeftOvers(settings.journalFolder, &problems)) {
        if (entry.state == journal::ReadState::Whole) {
            whole << entry;
            continue;
        }
        told.unreadable << LeftOvers::Unreadable{journal::setAside(entry.id),
                                                 entry.state == journal::ReadState::OtherVersion};
    }
    if (!whole.isEmpty()) {
        // Every entry under one taking of the locks, within one wait, and one intent.
        QList<FileAppend> all;
        QList<Job> jobs;
        for (const journal::LeftOver& entry : whole) {
            for (const journal::File& f : entry.files) {
                all << FileAppend{f.name, f.path, f.bytes};
                jobs << Job{all.last(), f.sizeBefore, decodeNote(entry.note)};
            }
        }
        const QByteArray id = recordlock::computerId(identityFileOf(settings));
        recordlock::WaitNotice notice(settings.waiting);
        Locks locks;
        const recordlock::WaitBound wait(settings.lock, folderOf(all.value(0).path));
        const auto refused = takeLocks(all, settings, id, wait, notice, locks);
        const Steps steps = refused ? Steps{} : writeUnder(locks, jobs);
        told.indexFailure = indexFailureMessage(steps);
        qsizetype job = 0;
        for (const journal::LeftOver& entry : whole) {
            QStringList added;
            QStringList held;
            QString failedName;
            QString failedPath;
            QString reason;
            for (qsizetype i = 0; i < entry.files.size(); ++i, ++job) {
                if (!failedName.isEmpty())
                    continue;
                const journal::File& f = entry.files[i];
                const bool reached = !refused && job < steps.done.size();
                const Step step = reached ? steps.done[job] : Step::Failed;
                // A share without bytes (a session's end) is no record to tell of.
                if (step == Step::Written || step == Step::AlreadyHeld) {
                    if (!f.bytes.isEmpty())
                        (step == Step::Written ? added : held) << f.name;
                } else if (refused) {
                    failedName = all[refused->first].name;
                    failedPath = all[refused->first].path;
                    reason = refused->second;
                } else {
                    failedName = f.name;
                    failedPath = f.path;
                    reason = reached ? steps.reason : QStringLiteral("an earlier record could not be finished first");
                }
            }
            if (!failedName.isEmpty()) {
                journal::keep(entry.id);
                told.unfinished << LeftOvers::Unfinished{failedName, failedPath, reason, entry.id};
                continue;
            }
            journal::drop(entry.id);
            if (!added.isEmpty())
                told.finished << LeftOvers::Finished{added, held};
        }
    }
    // Said here at the start, it is not said again at the first record.
    if (!problems.isEmpty() && firstTimeFor(settings.journalFolder))
        told.problems = problems;
    return told;
}
