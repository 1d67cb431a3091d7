#include "record_steps.h"

using namespace recordsteps;

namespace {

// The whole entries finished under one taking of the locks, within one wait, and one intent;
// each dropped, or kept for the next start, and told.
void finishWhole(const QList<journal::LeftOver>& whole, const AppendSettings& settings, LeftOvers& told)
{
    QList<Job> jobs;
    for (const journal::LeftOver& entry : whole) {
        for (const journal::File& f : entry.files)
            jobs << Job{FileAppend{f.name, f.path, f.bytes}, f.sizeBefore, decodeNote(entry.note)};
    }
    const BatchSteps batch = writeBatch(jobs, settings);
    told.indexFailure = indexFailureMessage(batch.steps);
    qsizetype first = 0;
    for (const journal::LeftOver& entry : whole) {
        const RecordSteps steps = stepsOf(batch, first, entry.files.size());
        first += entry.files.size();
        if (!steps.failedName.isEmpty()) {
            journal::keep(entry.id);
            told.unfinished << LeftOvers::Unfinished{steps.failedName, steps.failedPath, steps.reason, entry.id};
            continue;
        }
        journal::drop(entry.id);
        if (!steps.added.isEmpty())
            told.finished << LeftOvers::Finished{steps.added, steps.held};
    }
}

} // namespace

namespace {

// The entries no running program holds that read whole, oldest first; the others set aside and
// told.
QList<journal::LeftOver> wholeLeftOvers(const AppendSettings& settings, LeftOvers& told)
{
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
    // Said here at the start, it is not said again at the first record.
    if (!problems.isEmpty() && firstTimeFor(settings.journalFolder))
        told.problems = problems;
    return whole;
}

} // namespace

LeftOvers finishJournal(const AppendSettings& settings)
{
    LeftOvers told;
    const QList<journal::LeftOver> whole = wholeLeftOvers(settings, told);
    if (!whole.isEmpty())
        finishWhole(whole, settings, told);
    return told;
}

QList<BatchRecord> takeLeftOverRecords(const AppendSettings& settings, LeftOvers& told)
{
    QList<BatchRecord> records;
    for (const journal::LeftOver& entry : wholeLeftOvers(settings, told)) {
        BatchRecord record{{}, entry.id, decodeNote(entry.note), true};
        for (const journal::File& f : entry.files)
            record.files << FileAppend{f.name, f.path, f.bytes};
        records << record;
    }
    return records;
}
