#include "record_lock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <mutex>

#include "record_io.h"

// How long the lock's times are over the link it is taken on, and the order in which the writers
// of one computer take the files.
namespace recordlock {
namespace {

// A ticket older than this belongs to a process number used again: no wait lasts that long.
constexpr qint64 kTicketLifeMs = 3600 * 1000;

std::mutex roundTripsMutex;
QHash<QString, qint64>& roundTrips()
{
    static QHash<QString, qint64> known;
    return known;
}

int grown(int floorMs, qint64 roundTripMs, int trips)
{
    return int(std::clamp<qint64>(roundTripMs * trips, floorMs, std::max<qint64>(floorMs, kLongestStaleMs)));
}

} // namespace

Timing sizedFor(const Timing& floors, qint64 roundTripMs)
{
    Timing t;
    t.renewEveryMs = grown(floors.renewEveryMs, roundTripMs, 3);
    t.staleAfterMs = grown(floors.staleAfterMs, roundTripMs, 32);
    t.waitMs = grown(floors.waitMs, roundTripMs, 80);
    t.yieldMs = grown(floors.yieldMs, roundTripMs, 12);
    return t;
}

qint64 roundTripMs(const QString& folder)
{
    std::lock_guard guard(roundTripsMutex);
    return roundTrips().value(folder);
}

void noteRoundTrip(const QString& folder, qint64 ms)
{
    std::lock_guard guard(roundTripsMutex);
    qint64& known = roundTrips()[folder];
    // A slow moment counts at once, and is forgotten by a quarter at each faster one: a lease
    // sized too long only makes a dead holder's lock wait longer, one too short is lost.
    known = std::max(std::clamp<qint64>(ms, 0, kLongestRoundTripMs), known * 3 / 4);
}

WaitBound::WaitBound(const Timing& floors, const QString& folder)
    : floors_(floors), folder_(folder), startMs_(clockMs())
{
}

Timing WaitBound::timing() const
{
    Timing t = sizedFor(floors_, roundTripMs(folder_));
    longestWaitMs_ = t.waitMs = std::max(t.waitMs, longestWaitMs_);
    return t;
}

bool letsGoFirst(const QList<Ticket>& waiting, const Ticket& mine, qint64 nowMs, qint64 yieldedMs, qint64 yieldMs,
                 const std::function<bool(qint64)>& alive)
{
    if (yieldedMs >= yieldMs)
        return false;
    return std::any_of(waiting.begin(), waiting.end(), [&](const Ticket& t) {
        const bool earlier = t.sinceMs < mine.sinceMs || (t.sinceMs == mine.sinceMs && t.process < mine.process);
        // One that has waited less than a turn may still take the files in a moment by itself:
        // the files are not held idle for it, which would cost every record a hand-over.
        const qint64 waited = nowMs - t.sinceMs;
        return earlier && t.process != mine.process && waited >= yieldMs && waited < kTicketLifeMs && alive(t.process);
    });
}

Turn::Turn(const QString& turns, const QString& recordFolder, qint64 sinceMs, qint64 process)
    : turns_(turns), mine_{sinceMs, process}
{
    if (turns_.isEmpty())
        return;
    // Waiters for other record folders are not in this one's line.
    prefix_ = QString::fromLatin1(
                  QCryptographicHash::hash(recordFolder.toUtf8(), QCryptographicHash::Sha1).toHex().left(12)) +
              u'.';
}

void Turn::waiting()
{
    if (turns_.isEmpty() || !file_.isEmpty())
        return;
    QDir().mkpath(turns_);
    const QString file =
        turns_ + u'/' + prefix_ + QString::number(mine_.sinceMs) + u'.' + QString::number(mine_.process);
    QFile made(file);
    // Without a ticket this waiter is only not let first; the wait goes on.
    if (made.open(QIODevice::WriteOnly))
        file_ = file;
}

bool Turn::othersFirst(qint64 yieldedMs, qint64 yieldMs)
{
    earlier_ = false;
    if (turns_.isEmpty())
        return false;
    QList<Ticket> waiting;
    // Picked by their start, not by a name filter, which would start a regular-expression engine.
    for (const QString& name : QDir(turns_).entryList(QDir::Files)) {
        if (!name.startsWith(prefix_))
            continue;
        const QStringList parts = name.mid(prefix_.size()).split(u'.');
        bool sinceOk = false;
        bool processOk = false;
        const Ticket t{parts.value(0).toLongLong(&sinceOk), parts.value(1).toLongLong(&processOk)};
        if (parts.size() != 2 || !sinceOk || !processOk)
            continue;
        // Left by a waiter that died: it waits for nothing any more.
        if (t.process != mine_.process && !recordio::processAlive(t.process)) {
            QFile::remove(turns_ + u'/' + name);
            continue;
        }
        waiting << t;
    }
    const qint64 now = clockMs();
    earlier_ = letsGoFirst(waiting, mine_, now, 0, yieldMs, recordio::processAlive);
    return earlier_ && letsGoFirst(waiting, mine_, now, yieldedMs, yieldMs, recordio::processAlive);
}

void Turn::done()
{
    if (file_.isEmpty())
        return;
    QFile::remove(file_);
    file_.clear();
}

} // namespace recordlock
