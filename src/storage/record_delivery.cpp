#include "record_delivery.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <iterator>

#include "storage/record_journal.h"

RecordDelivery::RecordDelivery(AppendSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), thread_(QThread::create([this] { run(); }))
{
    // Whoever waits for the files is told through the signals, not from this thread.
    settings_.waiting = {};
    thread_->start();
}

RecordDelivery::~RecordDelivery()
{
    {
        QMutexLocker lock(&mutex_);
        stop_ = true;
        wake_.wakeAll();
    }
    thread_->wait();
    // Let go by this run: the next start finishes them.
    for (const Record& record : queue_)
        journal::keep(record.entry);
}

void RecordDelivery::send(Record record)
{
    QMutexLocker lock(&mutex_);
    queue_.push_back(std::move(record));
    retry_ = true;
    wake_.wakeAll();
}

void RecordDelivery::retryNow()
{
    QMutexLocker lock(&mutex_);
    retry_ = true;
    wake_.wakeAll();
}

QList<AppendOutcome> RecordDelivery::deliver(const std::vector<Record>& records) const
{
    if (records.size() == 1) {
        AppendSettings settings = settings_;
        settings.index = records.front().index;
        const Record& r = records.front();
        return {appendRecord(r.files, settings, r.entry, r.lookFirst)};
    }
    QList<BatchRecord> batch;
    for (const Record& r : records)
        batch << BatchRecord{r.files, r.entry, r.index, r.lookFirst};
    return appendBatch(batch, settings_);
}

void RecordDelivery::settle(const QList<AppendOutcome>& outcomes)
{
    // Each file's shares of a batch go in one write: after a failure, a later record may be in
    // every file, or in its first ones.
    std::deque<Record> kept;
    bool lookFirst = false;
    const AppendOutcome* firstFailure = nullptr;
    for (const AppendOutcome& outcome : outcomes) {
        Record record = std::move(queue_.front());
        queue_.pop_front();
        if (outcome.ok()) {
            pauseMs_ = 0;
            emit delivered(record.tag);
            continue;
        }
        // Files that took it are done; the journal entry stays until the rest hold it too.
        record.files.erase(record.files.begin(), record.files.begin() + outcome.written.size());
        if (!outcome.journalEntry.isEmpty())
            record.entry = outcome.journalEntry;
        if (!outcome.written.isEmpty())
            record.index.start.reset();
        // An intent that covered those not written may be finished by whoever breaks the lock:
        // each is looked for before it is written.
        lookFirst = lookFirst || outcome.outcomeUnknown || outcome.tookOver;
        kept.push_back(std::move(record));
        if (!firstFailure)
            firstFailure = &outcome;
    }
    if (!firstFailure)
        return;
    for (Record& record : kept)
        record.lookFirst = record.lookFirst || lookFirst;
    queue_.insert(queue_.begin(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
    pauseMs_ = std::clamp(pauseMs_ * 2, kFirstPauseMs, kLongestPauseMs);
    emit failed(queue_.front().tag, firstFailure->failedName, firstFailure->failedPath, firstFailure->reason,
                firstFailure->waitRanOut);
}

void RecordDelivery::run()
{
    QMutexLocker lock(&mutex_);
    for (;;) {
        const QDeadlineTimer pause(pauseMs_);
        while (!stop_ && (queue_.empty() || (!retry_ && !pause.hasExpired())))
            wake_.wait(&mutex_, queue_.empty() ? QDeadlineTimer(QDeadlineTimer::Forever) : pause);
        if (stop_)
            return;
        retry_ = false;
        // All that wait go under one hold of the locks.
        const std::vector<Record> records(queue_.begin(),
                                          queue_.begin() + std::ptrdiff_t(std::min(queue_.size(), kMostInBatch)));
        lock.unlock();
        const QList<AppendOutcome> outcomes = deliver(records);
        lock.relock();
        settle(outcomes);
    }
}
