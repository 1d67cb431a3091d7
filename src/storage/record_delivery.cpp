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
        const Record record = queue_.front();
        lock.unlock();
        AppendSettings settings = settings_;
        settings.index = record.index;
        const AppendOutcome outcome = appendRecord(record.files, settings, record.entry, record.lookFirst);
        lock.relock();
        if (outcome.ok()) {
            queue_.pop_front();
            pauseMs_ = 0;
            emit delivered(record.tag);
            continue;
        }
        // Files that took it are done; the journal entry stays until the rest hold it too.
        Record& kept = queue_.front();
        kept.files.erase(kept.files.begin(), kept.files.begin() + outcome.written.size());
        if (!outcome.journalEntry.isEmpty())
            kept.entry = outcome.journalEntry;
        kept.lookFirst = kept.lookFirst || outcome.outcomeUnknown || outcome.tookOver;
        if (!outcome.written.isEmpty())
            kept.index.start.reset();
        pauseMs_ = std::clamp(pauseMs_ * 2, kFirstPauseMs, kLongestPauseMs);
        emit failed(record.tag, outcome.failedName, outcome.failedPath, outcome.reason);
    }
}
