#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

#include "file_follower.h"
#include "platform/clock.h"
#include "question_summary.h"
#include "storage/session_index.h"

// The class as it happens: follows the master file and session index of a record folder and of
// each folder below it (walked as the reports walk them), and keeps a self-reloading page of the
// day's sessions current. It only reads the folder and never
// takes the record lock; each look reads only what was appended since the one before.
namespace review {

struct LiveOptions {
    QString folder;
    QString page;              // the HTML file kept current
    int quietSeconds = 5 * 60; // a session without a record for longer stands out
    int pollMilliseconds = 1000;
    int reloadSeconds = 3; // how often the browser reloads the page
};

class LiveView : public QObject {
    Q_OBJECT
public:
    LiveView(LiveOptions options, const Clock& clock);

    // One look at the folder; the page written. False when the page could not be written.
    bool poll();
    // Looks every pollMilliseconds until the program ends.
    void start();

    const QByteArray& page() const { return page_; }
    QString writeProblem() const { return writeProblem_; }
    // Bytes read from the folder so far, every look together.
    qint64 bytesRead() const;

signals:
    void pageWritten();

private:
    struct Session {
        QString name;
        QString computer;
        QByteArray set;
        QString date;  // mm-dd-yyyy of its start
        QString start; // hh:mm:ss
        int records = 0;
        int onlyReminder = 0;
        bool lastOnlyReminder = false;
        QString lastLine;
        int question = 0; // the master file's question number, where the set numbers its questions
        int place = 0;    // of the line last recorded against, among the set's lines
        int placeOf = 0;
        QDateTime lastRecord;
        QByteArray lastTime; // the last record's own hh:mm:ss, for the seconds each one took
        qint64 order = 0;    // of its start in the files, for a session the index does not name
        std::optional<sessionindex::EndEntry> end;
        StudentLines lines;
    };
    struct PendingRecord {
        QByteArray headerKey; // the session the file's order gives it
        QByteArray time;
        QString line; // its start
        QString fullLine;
        int question = 0;
        bool onlyReminder = false;
        bool note = false;
        TextFlag flag = TextFlag::None;
        QByteArray text; // its first bytes
        QDateTime seen;
    };

    // One folder's master file and index: session keys and offsets mean something only within it.
    struct Folder {
        Folder(LiveView& view, const QString& path);
        // False when the file was cut short or replaced.
        bool lookAtIndex();
        bool lookAtMaster();
        void readMaster(QByteArrayView bytes, qint64 offset, bool settled);
        void header(QByteArrayView bytes, qint64 offset);
        void record(const PendingRecord& r, qint64 offset);
        void apply(const QByteArray& key, const PendingRecord& r);
        void placePending(bool all);
        void reset();
        // The sessions of the day, kept apart so that a look costs no more with a long history.
        void dated(const QByteArray& key, const QString& date);
        void refreshToday();

        LiveView& view_;
        FileFollower master_;
        FileFollower index_;
        QByteArray masterPending_; // bytes of an item not yet whole, from pendingOffset_
        qint64 pendingOffset_ = 0;
        qint64 tailSeen_ = -1; // size of the last stretch at the look before, to see it settle
        QByteArray indexPending_;
        qint64 indexLine_ = 1;
        bool haveIndex_ = false;
        bool catchingUp_ = false;
        QHash<QByteArray, Session> sessions_;
        QHash<qint64, QByteArray> recordPlaces_; // offset in the master file -> session id
        QHash<qint64, QByteArray> headerPlaces_;
        QHash<QByteArray, QByteArray> claimedHeaders_; // header key -> session id
        QMap<qint64, PendingRecord> waiting_;          // records read before their index entry
        QByteArray currentHeader_;
        bool masterMissing_ = false;
        bool masterSeen_ = false;  // once: its going away later is a share unmounted, not a new class
        bool endsWritten_ = false; // the tutors here say how a session ended
        QStringList indexNotes_;   // index entries not used, and why
        QSet<QByteArray> todayKeys_;
        QString todayFor_; // the day todayKeys_ holds
    };

    void look(Folder& f);
    QString shownPath(const QString& path) const;
    QByteArray render() const;
    void fail(const QString& problem);

    LiveOptions options_;
    const Clock& clock_;
    QTimer timer_;
    std::vector<std::unique_ptr<Folder>> folders_;
    QStringList refused_; // folders left at the last walk: the same folder again, through a link
    bool failed_ = false;
    QString today_; // mm-dd-yyyy by the clock, at the look
    std::optional<QDateTime> awaySince_;
    QString restarted_; // the last file seen cut short or replaced, and when
    QString awayReason_;
    QByteArray page_;
    QString writeProblem_;
};

} // namespace review
