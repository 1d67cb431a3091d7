#include "record_delivery.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>

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
    for (qsizetype n = 0; n < outcomes.size(); ++n) {
        const AppendOutcome& outcome = outcomes[n];
        const int tag = queue_.front().tag;
        if (outcome.ok()) {
            queue_.pop_front();
            pauseMs_ = 0;
            emit delivered(tag);
            continue;
        }
        // Files that took it are done; the journal entry stays until the rest hold it too.
        Record& kept = queue_.front();
        kept.files.erase(kept.files.begin(), kept.files.begin() + outcome.written.size());
        if (!outcome.journalEntry.isEmpty())
            kept.entry = outcome.journalEntry;
        if (!outcome.written.isEmpty())
            kept.index.start.reset();
        // Those after it were not written, but an intent that covered them may be finished by
        // whoever breaks the lock: each is looked for before it is written.
        for (size_t i = 0; i < size_t(outcomes.size() - n) && i < queue_.size(); ++i)
            queue_[i].lookFirst = queue_[i].lookFirst || outcome.outcomeUnknown || outcome.tookOver;
        pauseMs_ = std::clamp(pauseMs_ * 2, kFirstPauseMs, kLongestPauseMs);
        emit failed(tag, outcome.failedName, outcome.failedPath, outcome.reason, outcome.waitRanOut);
        return;
    }
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
