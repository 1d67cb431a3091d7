#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#include "record_intent.h"
#include "record_steps.h"
#include "storage/plain_reason.h"

namespace recordsteps {

const QString kTakenOver = QStringLiteral(
    "this computer's hold on the record files ran out before the record was written (it did not answer for a "
    "while, or another computer has taken the record files over meanwhile); nothing more was written there, please "
    "try again");

namespace {

// Where the session index gives a copy of these bytes in this file to another session: two
// students' records can be alike to the byte (the same answer to the same question in the same
// second), and the other's is not this one. Read back from the index's end to where the file's
// entries lie before `from`. An index that cannot be read gives nobody's.
QSet<qint64> othersCopies(const Job& job, qint64 from)
{
    QSet<qint64> others;
    recordio::File index;
    qint64 end = 0;
    if (job.index.session.isEmpty() || index.openExisting(indexPathOf(job.file.path)) != 0 || index.size(end) != 0)
        return others;
    const QString name = QFileInfo(job.file.path).fileName();
    constexpr qint64 kChunk = 65536;
    QByteArray carried; // the start of the earliest line read so far, not yet whole
    for (qint64 start = end; start > 0;) {
        const qint64 chunk = std::min(kChunk, start);
        start -= chunk;
        QByteArray bytes;
        if (index.readAt(start, chunk, bytes) != 0 || bytes.size() != chunk)
            return {};
        bytes += carried;
        const qsizetype lineEnd = bytes.indexOf('\n');
        if (start > 0 && lineEnd < 0) {
            carried = bytes;
            continue;
        }
        const qsizetype cut = start == 0 ? 0 : lineEnd + 1;
        carried = bytes.left(cut);
        bool before = false;
        for (const sessionindex::PlaceEntry& p : sessionindex::parse(QByteArrayView(bytes).sliced(cut)).places) {
            if (p.file != name)
                continue;
            before = before || p.offset < from;
            if (p.session != job.index.session && p.length == job.file.bytes.size())
                others.insert(p.offset);
        }
        if (before)
            break;
    }
    return others;
}

// Whether the file already holds the record, at or after where the file ended when the
// record was composed, in a copy nobody else claims; 0 or the errno value of a look that
// failed. A look that failed is no answer: taken for "not there", the record would be written a
// second time after a write whose answer was lost (a client reconnecting).
int holdsRecord(recordio::File& file, const Job& job, qint64 end, QSet<qint64>& claimed, bool& held)
{
    held = false;
    const QByteArray& bytes = job.file.bytes;
    qint64 from = *job.sizeBefore;
    if (from > end)
        from = 0;
    if (end - from < bytes.size())
        return 0;
    QByteArray tail;
    if (const int error = file.readAt(from, end - from, tail))
        return error;
    std::optional<QSet<qint64>> others;
    for (qsizetype at = tail.indexOf(bytes); at >= 0; at = tail.indexOf(bytes, at + 1)) {
        if (claimed.contains(from + at))
            continue;
        if (!others)
            others = othersCopies(job, from);
        if (others->contains(from + at))
            continue;
        claimed.insert(from + at);
        held = true;
        return 0;
    }
    return 0;
}

QString writeReason(int error, const recordio::File& file, const QString& path)
{
    return ::writeReason(error, file.remote(), path);
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

// One step's jobs under the locks: each file's end as the file server has it, the whole intent
// into each folder's lock, then each file's shares, back to back, in one write, flushed and read
// back, and the index. Nothing more is written after a write that does not succeed.
class UnderLocks {
public:
    UnderLocks(Locks& locks, const QList<Job>& jobs)
        : locks_(locks), jobs_(jobs), at_(jobs.size(), -1), written_(jobs.size(), false)
    {
    }

    Steps run()
    {
        if (!plan())
            return steps_;
        index_ = indexTargets(jobs_, at_, intents_, steps_);
        noteIndexOnly();
        if (declare() && write() && close())
            finish();
        return steps_;
    }

private:
    bool plan();
    bool planJob(qsizetype i);
    void noteIndexOnly();
    bool declare();
    bool write();
    QList<qsizetype> runOf(const QString& path) const;
    bool writeRun(const QString& path, const QList<qsizetype>& run);
    bool close();
    void settle(const QList<qsizetype>& failed);
    QList<qint64> writtenAt() const;
    void finish();

    bool toWrite(qsizetype i) const { return at_[i] >= 0 && !indexOnly(jobs_[i]); }
    bool sameRecord(qsizetype i, qsizetype k) const
    {
        return k >= 0 && k < jobs_.size() && jobs_[k].record == jobs_[i].record;
    }
    // A record of index entries only: a session's end.
    bool endOnly(qsizetype i) const
    {
        for (qsizetype k = i; sameRecord(i, k); --k) {
            if (!indexOnly(jobs_[k]))
                return false;
        }
        for (qsizetype k = i; sameRecord(i, k); ++k) {
            if (!indexOnly(jobs_[k]))
                return false;
        }
        return true;
    }
    bool stop(qsizetype i, Step step, const QString& reason)
    {
        steps_.done.resize(i);
        steps_.done << step;
        while (steps_.done.size() < jobs_.size())
            steps_.done << Step::NotReached;
        steps_.reason = reason;
        return false;
    }
    // Before anything is written: the files before this one that already hold the record took
    // it, the others are only planned.
    bool stopBeforeWriting(qsizetype i, int error, const QString& path)
    {
        qsizetype held = 0;
        while (held < i && steps_.done[held] == Step::AlreadyHeld)
            ++held;
        steps_.failedJob = i;
        return stop(held, Step::Failed, plainReason(error, path));
    }

    Locks& locks_;
    const QList<Job>& jobs_;
    Steps steps_;
    QHash<QString, qint64> ends_;
    QHash<QString, QSet<qint64>> claimed_; // copies already found to be this step's records
    QList<qint64> at_;                     // where each job's bytes go; -1: nowhere (held already, or not reached)
    QList<bool> written_;
    QStringList files_; // the files to write, in the order the records name them
    QHash<QString, QList<recordintent::Part>> intents_;
    std::vector<IndexTarget> index_;
};

bool UnderLocks::plan()
{
    for (qsizetype i = 0; i < jobs_.size(); ++i) {
        if (!planJob(i))
            return false;
        if (toWrite(i) && !files_.contains(jobs_[i].file.path))
            files_ << jobs_[i].file.path;
    }
    return true;
}

bool UnderLocks::planJob(qsizetype i)
{
    const FileAppend& f = jobs_[i].file;
    if (indexOnly(jobs_[i])) {
        const bool held = jobs_[i].sizeBefore && indexHolds(jobs_[i], *jobs_[i].sizeBefore);
        at_[i] = held ? -1 : 0;
        intents_[folderOf(f.path)]; // its index is looked at, even with no record there
        steps_.done << (held ? Step::AlreadyHeld : Step::Written);
        return true;
    }
    recordio::File* opened = nullptr;
    if (const int error = locks_.open(f.path, opened))
        return stopBeforeWriting(i, error, f.path);
    recordio::File& file = *opened;
    if (!ends_.contains(f.path)) {
        qint64 end = 0;
        if (const int error = file.size(end))
            return stopBeforeWriting(i, error, f.path);
        ends_.insert(f.path, end);
        knownEnds().set(f.path, end);
    }
    qint64& end = ends_[f.path];
    if (jobs_[i].sizeBefore) {
        bool held = false;
        if (const int error = holdsRecord(file, jobs_[i], end, claimed_[f.path], held))
            return stopBeforeWriting(i, error, f.path);
        if (held) {
            steps_.done << Step::AlreadyHeld;
            return true;
        }
    }
    at_[i] = end;
    end += f.bytes.size();
    if (!steps_.intended.contains(f.path))
        steps_.intended.insert(f.path, at_[i]);
    intents_[folderOf(f.path)] << recordintent::Part{QFileInfo(f.path).fileName(), at_[i], f.bytes};
    steps_.done << Step::Written;
    return true;
}

// A session's end whose lease runs out is looked for in the index before it is written again.
void UnderLocks::noteIndexOnly()
{
    for (qsizetype i = 0; i < jobs_.size(); ++i) {
        for (const IndexTarget& t : index_) {
            if (at_[i] == 0 && indexOnly(jobs_[i]) && t.folder == folderOf(jobs_[i].file.path) &&
                !steps_.intended.contains(jobs_[i].file.path))
                steps_.intended.insert(jobs_[i].file.path, t.at);
        }
    }
}

// Nothing is written before every intent is in place.
bool UnderLocks::declare()
{
    for (auto it = intents_.cbegin(); it != intents_.cend(); ++it) {
        if (it.value().isEmpty())
            continue;
        QString why;
        const recordlock::Declared declared = locks_.folders.value(it.key())->declare(it.value(), &why);
        if (declared == recordlock::Declared::Held)
            continue;
        steps_.touched = declared == recordlock::Declared::Lost;
        qsizetype first = 0;
        while (first + 1 < jobs_.size() && at_[first] < 0)
            ++first;
        return declared == recordlock::Declared::Lost ? stop(first, Step::LeaseLost, kTakenOver)
                                                      : stop(first, Step::Failed, why);
    }
    return true;
}

// A record's files take it in its own order: a share is written once its record's earlier files
// hold it. Records agree on the order of the files, so one pass writes them all.
bool UnderLocks::write()
{
    for (bool more = true; more;) {
        more = false;
        for (const QString& path : std::as_const(files_)) {
            const QList<qsizetype> run = runOf(path);
            if (run.isEmpty())
                continue;
            if (!writeRun(path, run))
                return false;
            more = true;
        }
    }
    return true;
}

// The file's shares not written yet that can go now: they lie back to back from the first.
QList<qsizetype> UnderLocks::runOf(const QString& path) const
{
    QList<qsizetype> run;
    for (qsizetype i = 0; i < jobs_.size(); ++i) {
        if (!toWrite(i) || written_[i] || jobs_[i].file.path != path)
            continue;
        for (qsizetype k = i - 1; sameRecord(i, k); --k) {
            if (toWrite(k) && !written_[k])
                return run;
        }
        run << i;
    }
    return run;
}

bool UnderLocks::writeRun(const QString& path, const QList<qsizetype>& run)
{
    QByteArray bytes;
    for (const qsizetype i : run)
        bytes += jobs_[i].file.bytes;
    const qint64 at = at_[run.front()];
    recordio::File& file = locks_.file(path);
    steps_.touched = true;
    const int error = writeWhole(file, at, bytes, file.created(), path);
    if (error == 0) {
        knownEnds().set(path, at + bytes.size());
        for (const qsizetype i : run)
            written_[i] = true;
        return true;
    }
    settle(run);
    writeIndex(index_, jobs_, writtenAt(), jobs_.size(), locks_, steps_);
    // On this computer's own disk nobody can write while the operating-system lock is held,
    // and nothing arrives late: what was written is cut back, and the intent goes.
    if (!file.remote()) {
        qint64 now = -1;
        if (file.size(now) == 0 && now > at && now <= at + bytes.size())
            file.truncateTo(at);
        locks_.folders.value(folderOf(path))->written();
        steps_.touched = false;
    }
    steps_.reason =
        error == EILSEQ ? QStringLiteral("the record did not reach the file intact") : writeReason(error, file, path);
    return false;
}

// A network client may only say at the close that a write did not arrive.
bool UnderLocks::close()
{
    for (const QString& path : std::as_const(files_)) {
        recordio::File& file = locks_.file(path);
        if (!file.isOpen())
            continue;
        if (const int error = file.closeChecked()) {
            QList<qsizetype> failed;
            for (qsizetype i = 0; i < jobs_.size(); ++i) {
                if (written_[i] && jobs_[i].file.path == path) {
                    written_[i] = false;
                    failed << i;
                }
            }
            settle(failed);
            writeIndex(index_, jobs_, writtenAt(), jobs_.size(), locks_, steps_);
            steps_.reason = writeReason(error, file, path);
            return false;
        }
    }
    return true;
}

// What each job came to, once a write failed: a record's files that took it are its first ones,
// and a session's end counts once every job before it took its record, as the index keeps the
// order the records were made in.
void UnderLocks::settle(const QList<qsizetype>& failed)
{
    bool allBefore = true;
    for (qsizetype i = 0; i < jobs_.size(); ++i) {
        Step& step = steps_.done[i];
        if (toWrite(i))
            step = written_[i] ? Step::Written : failed.contains(i) ? Step::Failed : Step::NotReached;
        const bool earlierTook =
            !sameRecord(i, i - 1) || steps_.done[i - 1] == Step::Written || steps_.done[i - 1] == Step::AlreadyHeld;
        if (!earlierTook || (endOnly(i) && at_[i] >= 0 && !allBefore))
            step = Step::NotReached;
        allBefore = allBefore && (step == Step::Written || step == Step::AlreadyHeld);
    }
}

// Where the jobs written went; -1 for the others.
QList<qint64> UnderLocks::writtenAt() const
{
    QList<qint64> at = at_;
    for (qsizetype i = 0; i < at.size(); ++i) {
        if (steps_.done[i] != Step::Written)
            at[i] = -1;
    }
    return at;
}

void UnderLocks::finish()
{
    writeIndex(index_, jobs_, at_, jobs_.size(), locks_, steps_);
    // Whatever happened to the lease meanwhile, what was read back is this record, once, written
    // by this computer: a breaker writes nothing there but the same bytes.
    for (const auto& lock : std::as_const(locks_.folders))
        lock->written();
    steps_.touched = false;
    steps_.intended.clear();
}

} // namespace

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

KnownEnds& knownEnds()
{
    static KnownEnds ends;
    return ends;
}

bool indexOnly(const Job& job)
{
    return job.file.bytes.isEmpty();
}

QString indexPathOf(const QString& recordFile)
{
    return folderOf(recordFile) + u'/' + QLatin1String(sessionindex::kFileName);
}

Steps writeUnder(Locks& locks, const QList<Job>& jobs)
{
    return UnderLocks(locks, jobs).run();
}

} // namespace recordsteps
