#pragma once

#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <deque>
#include <memory>
#include <vector>

#include "storage/record_files.h"

class QThread;

// Delivers records already kept in the journal to their files, in the order they were sent (all
// those waiting under one hold of the locks), on a thread of its own, so that no click waits on
// the file server. A record that fails stays
// first in line, kept in the journal, and is tried again after a pause that grows from one
// second to a minute, or at once when retryNow() is called. The signals come on the thread that
// made the object.
class RecordDelivery : public QObject {
    Q_OBJECT
public:
    struct Record {
        QList<FileAppend> files;
        QString entry; // the journal's, from keepInJournal()
        IndexNote index;
        int tag = 0; // the caller's, given back with the signals
        // Some file may hold the record already: a write began there and got no answer.
        bool lookFirst = false;
    };

    explicit RecordDelivery(AppendSettings settings, QObject* parent = nullptr);
    // Stops after the record in hand; those not delivered are left in the journal for the next
    // start.
    ~RecordDelivery() override;

    void send(Record record);
    void retryNow();

    static constexpr int kFirstPauseMs = 1000;
    static constexpr int kLongestPauseMs = 60000;
    // Records waiting together are delivered under one hold of the locks, this many at most.
    static constexpr size_t kMostInBatch = kMostRecordsInOneHold;

signals:
    // Every file holds the record.
    void delivered(int tag);
    // The record stays in the journal and in line; the first file that did not take it, and
    // whether it only waits for files somebody else holds.
    void failed(int tag, const QString& name, const QString& path, const QString& reason, bool waiting);

private:
    void run();
    QList<AppendOutcome> deliver(const std::vector<Record>& records) const;
    // What became of the records first in line; called with the mutex held.
    void settle(const QList<AppendOutcome>& outcomes);

    AppendSettings settings_;
    QMutex mutex_;
    QWaitCondition wake_;
    std::deque<Record> queue_;
    bool stop_ = false;
    bool retry_ = false;
    int pauseMs_ = 0;
    std::unique_ptr<QThread> thread_;
};
