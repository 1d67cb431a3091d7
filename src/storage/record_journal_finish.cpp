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
    if (told.indexFailure.isEmpty())
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
    // Many left over (a long time without the class folder) go in several holds of the locks;
    // after one that could not finish them all, the rest stay for later in their order.
    for (qsizetype first = 0; first < whole.size(); first += kMostRecordsInOneHold) {
        const QList<journal::LeftOver> some = whole.mid(first, kMostRecordsInOneHold);
        if (told.unfinished.isEmpty()) {
            finishWhole(some, settings, told);
            continue;
        }
        for (const journal::LeftOver& entry : some) {
            journal::keep(entry.id);
            const journal::File& f = entry.files.constFirst();
            told.unfinished << LeftOvers::Unfinished{f.name, f.path, kEarlierFirst, entry.id};
        }
    }
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
