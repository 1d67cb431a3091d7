#include "record_steps.h"

using namespace recordsteps;

namespace {

// The whole entries finished under one taking of the locks, within one wait, and one intent;
// each dropped, or kept for the next start, and told.
void finishWhole(const QList<journal::LeftOver>& whole, const AppendSettings& settings, LeftOvers& told)
{
    QList<Job> jobs;
    for (qsizetype n = 0; n < whole.size(); ++n) {
        for (const journal::File& f : whole[n].files)
            jobs << Job{FileAppend{f.name, f.path, f.bytes}, f.sizeBefore, decodeNote(whole[n].note), n};
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
    if (!whole.isEmpty())
        finishWhole(whole, settings, told);
    // Said here at the start, it is not said again at the first record.
    if (!problems.isEmpty() && firstTimeFor(settings.journalFolder))
        told.problems = problems;
    return told;
}
