#include "record_steps.h"

namespace recordsteps {

BatchSteps writeBatch(const QList<Job>& jobs, const AppendSettings& settings)
{
    BatchSteps batch;
    for (const Job& job : jobs)
        batch.all << job.file;
    const QByteArray id = recordlock::computerId(identityFileOf(settings));
    recordlock::WaitNotice notice(settings.waiting);
    Locks locks;
    const recordlock::WaitBound wait(settings.lock, folderOf(batch.all.value(0).path));
    batch.refused = takeLocks(batch.all, settings, id, wait, notice, locks);
    if (!batch.refused)
        batch.steps = writeUnder(locks, jobs);
    return batch;
}

RecordSteps stepsOf(const BatchSteps& batch, qsizetype first, qsizetype count)
{
    RecordSteps record;
    for (qsizetype job = first; job < first + count; ++job) {
        const FileAppend& f = batch.all[job];
        const bool reached =
            !batch.refused && job < batch.steps.done.size() && batch.steps.done[job] != Step::NotReached;
        const Step step = reached ? batch.steps.done[job] : Step::Failed;
        if (step == Step::Written || step == Step::AlreadyHeld) {
            ++record.took;
            // A share without bytes (a session's end) is no record to tell of.
            if (!f.bytes.isEmpty())
                (step == Step::Written ? record.added : record.held) << f.name;
            continue;
        }
        const FileAppend& failed = batch.refused ? batch.all[batch.refused->file] : f;
        record.failedName = failed.name;
        record.failedPath = failed.path;
        record.waitRanOut = batch.refused && batch.refused->waitRanOut;
        record.reason = batch.refused ? batch.refused->why
                        : reached     ? batch.steps.reason
                                      : QStringLiteral("a record sent with it could not be written first");
        break;
    }
    return record;
}

} // namespace recordsteps

using namespace recordsteps;

QList<AppendOutcome> appendBatch(const QList<BatchRecord>& records, const AppendSettings& settings)
{
    if (records.isEmpty())
        return {};
    recordio::ignoreFileSizeSignal();
    QList<Job> jobs;
    for (qsizetype n = 0; n < records.size(); ++n) {
        const BatchRecord& record = records[n];
        // Some file may hold the record already: looked for from where it ended when it was kept.
        QHash<QString, qint64> before;
        for (const journal::File& f : record.lookFirst ? journal::filesOf(record.entry) : QList<journal::File>())
            before.insert(f.path, f.sizeBefore);
        for (const FileAppend& f : record.files) {
            const auto known = before.constFind(f.path);
            jobs << Job{f, known != before.constEnd() ? std::optional<qint64>(*known) : std::nullopt, record.index, n};
        }
    }
    const BatchSteps batch = writeBatch(jobs, settings);
    QList<AppendOutcome> outcomes;
    qsizetype first = 0;
    for (const BatchRecord& record : records) {
        const RecordSteps steps = stepsOf(batch, first, record.files.size());
        first += record.files.size();
        AppendOutcome outcome;
        for (qsizetype i = 0; i < steps.took; ++i)
            outcome.written << record.files[i].name;
        if (steps.took == record.files.size()) {
            journal::drop(record.entry);
        } else {
            outcome.failedName = steps.failedName;
            outcome.failedPath = steps.failedPath;
            outcome.reason = steps.reason;
            outcome.waitRanOut = steps.waitRanOut;
            outcome.journalEntry = record.entry;
            outcome.outcomeUnknown = batch.steps.touched;
        }
        outcomes << outcome;
    }
    outcomes.front().indexFailure = indexFailureMessage(batch.steps);
    return outcomes;
}
