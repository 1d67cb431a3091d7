#include <QDir>
#include <QFileInfo>

#include "record_steps.h"

namespace recordsteps {

QList<journal::File> journalFiles(const QList<FileAppend>& files, bool askServer)
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

} // namespace recordsteps

using namespace recordsteps;

namespace {

AppendOutcome failedAt(AppendOutcome outcome, const FileAppend& file, const QString& reason)
{
    outcome.failedName = file.name;
    outcome.failedPath = file.path;
    outcome.reason = reason;
    return outcome;
}

// One record's append across its rounds. A lease lost before the files were touched (this
// program stalled) is taken again while time is left; the files that took the record are not
// written again.
class Append {
public:
    Append(const QList<FileAppend>& files, const AppendSettings& settings, const QString& journalEntry)
        : files_(files), settings_(settings), entry_(journalEntry),
          newEntry_(journalEntry.isEmpty() && !settings.journalFolder.isEmpty()), index_(settings.index)
    {
    }

    // The record kept in the journal from before the first file is touched; or, for a retry,
    // where each file ended when it was kept, to look for it there first.
    void startJournal(bool lookFirst)
    {
        if (newEntry_) {
            QString why;
            entry_ = journal::begin(settings_.journalFolder, journalFiles(files_), &why, encodeNote(settings_.index));
            if (entry_.isEmpty())
                journalFailed(why);
        } else if (!entry_.isEmpty() && lookFirst) {
            for (const journal::File& f : journal::filesOf(entry_))
                sizeBefore_.insert(f.path, f.sizeBefore);
        }
    }
    // One taking of the locks and the writes under them; false once the append is over.
    bool round(int number, const QByteArray& id, const recordlock::WaitBound& wait, recordlock::WaitNotice& notice);
    AppendOutcome end();

private:
    void journalFailed(const QString& why)
    {
        if (firstTimeFor(settings_.journalFolder))
            outcome_.journalFailure =
                QStringLiteral("The tutor's journal (%1) cannot be written: %2. Records are still written to the "
                               "record files, but one that a crash interrupts cannot be finished at the next start.")
                    .arg(QDir::toNativeSeparators(settings_.journalFolder), why);
    }
    QList<Job> jobsFrom(qsizetype first) const;
    void took(const Steps& steps);

    const QList<FileAppend>& files_;
    const AppendSettings& settings_;
    AppendOutcome outcome_;
    QString entry_;
    const bool newEntry_;
    IndexNote index_;
    // A retry looks for the record first in every file it may have reached.
    QHash<QString, qint64> sizeBefore_;
    qsizetype next_ = 0; // the first file that has not taken the record
    bool touched_ = false;
    bool leaseLost_ = false;
    bool takenFromUs_ = false;
};

QList<Job> Append::jobsFrom(qsizetype first) const
{
    QList<Job> jobs;
    for (const FileAppend& f : files_.mid(first)) {
        const auto known = sizeBefore_.constFind(f.path);
        jobs << Job{f, known != sizeBefore_.constEnd() ? std::optional<qint64>(*known) : std::nullopt, index_, 0};
    }
    return jobs;
}

// The files that took the record in this round, and where to look for it in the next.
void Append::took(const Steps& steps)
{
    touched_ = touched_ || steps.touched;
    for (auto it = steps.intended.cbegin(); it != steps.intended.cend(); ++it) {
        if (!sizeBefore_.contains(it.key()) || sizeBefore_[it.key()] > it.value())
            sizeBefore_.insert(it.key(), it.value());
    }
    for (const Step step : steps.done) {
        if (step != Step::Written && step != Step::AlreadyHeld)
            break;
        // After a lease lost with its intent in the lock, and no record file written, a file
        // found holding the record was finished by whoever took the lock away.
        if (step == Step::AlreadyHeld && leaseLost_ && takenFromUs_)
            outcome_.tookOver = true;
        outcome_.written << files_[next_++].name;
        index_.start.reset(); // the session is in the index with the first file that took its header
    }
}

bool Append::round(int number, const QByteArray& id, const recordlock::WaitBound& wait, recordlock::WaitNotice& notice)
{
    const qsizetype roundStart = next_;
    Locks locks;
    if (const auto refused = takeLocks(files_.mid(next_), settings_, id, wait, notice, locks)) {
        outcome_ = failedAt(outcome_, files_[next_ + refused->file], refused->why);
        outcome_.waitRanOut = refused->waitRanOut;
        return false;
    }
    // The journal's flush went on while the locks were taken; it is on the disk before any
    // record file is touched.
    if (newEntry_ && !entry_.isEmpty()) {
        if (const auto why = journal::settle(entry_)) {
            journalFailed(*why);
            entry_.clear();
        }
    }
    const Steps steps = writeUnder(locks, jobsFrom(next_));
    for (const auto& lock : std::as_const(locks.folders)) {
        lock->release();
        takenFromUs_ = takenFromUs_ || lock->takenFromUs();
    }
    if (outcome_.indexFailure.isEmpty())
        outcome_.indexFailure = indexFailureMessage(steps);
    took(steps);
    if (next_ == files_.size())
        return false;
    if (steps.done.contains(Step::Failed)) {
        outcome_ = failedAt(outcome_, files_[steps.failedJob < 0 ? next_ : roundStart + steps.failedJob], steps.reason);
        return false;
    }
    leaseLost_ = true;
    if (wait.expired() || number >= 3) {
        outcome_ = failedAt(outcome_, files_[next_], kTakenOver);
        return false;
    }
    return true;
}

AppendOutcome Append::end()
{
    // A record that no file took, and no write began for, is in none of them: nothing to
    // finish later. One whose write may have landed stays until it is found.
    if (outcome_.ok() || (newEntry_ && outcome_.written.isEmpty() && !touched_))
        journal::drop(entry_);
    else
        outcome_.journalEntry = entry_;
    outcome_.outcomeUnknown = touched_;
    return outcome_;
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
    Append append(files, settings, journalEntry);
    append.startJournal(lookFirst);
    const QByteArray id = recordlock::computerId(identityFileOf(settings));
    const recordlock::WaitBound wait(settings.lock, folderOf(files.value(0).path));
    recordlock::WaitNotice notice(settings.waiting);
    for (int round = 0; append.round(round, id, wait, notice); ++round) {
    }
    notice.done();
    return append.end();
}
