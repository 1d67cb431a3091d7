#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <functional>

#include "record_io.h"

// The steps on the lock folder's files that taking, renewing, breaking and letting go of a
// lock share (record_lock.cpp holds the decisions, when each is taken).
namespace recordlock::lockfiles {

// What rewriteIfOurs says of a lock that shows somebody else's lease, or none.
constexpr int kNotOurs = -1;

QString folderOf(const QString& lock);
QString native(const QString& path);

struct Content {
    QByteArray bytes;
    bool readable = false;
    bool exists = true;

    bool same(const QByteArray& b, bool r) const { return readable == r && bytes == b; }
};

// Opened only for the moment of the read: some SMB clients refuse to move or remove a file
// that another computer has open.
Content readLock(const QString& lock);
bool isPermission(int error);
bool isBusy(int error);

// A file that another computer is reading may refuse to move or go for a moment.
template <typename Step> int retryingWhileBusy(Step step)
{
    int error = 0;
    for (int attempt = 0; attempt < 40; ++attempt) {
        error = step();
        if (!isBusy(error))
            return error;
        recordio::pause(std::min(2 + attempt, 25));
    }
    return error;
}

// Beside the lock, under a name nobody else makes: where a lock is made, let go or broken.
QString nameOfOurOwn(const QString& lock, const char* what);
// The lease a holder file's text names; empty when it names none.
QByteArray leaseOf(const QByteArray& text);
// The holder file, the lock's intents and its folder (or a lock file of the older layout).
int removeLock(const QString& lock, const QByteArray& lease = {});
// 0 when this call made the lock; `madeAtMs`: when the move that made it was asked for. With
// EEXIST, `there` is what the look after the refused move found at the lock's place.
int makeLock(const QString& lock, const QByteArray& text, qint64* madeAtMs = nullptr, Content* there = nullptr);
Content readFile(const QString& path);

enum class Taken { It, Gone, NotIt, Failed };

// Takes the lock or token at `lock` away only when its holder file passes `isIt`, removing the
// intent of `lease` with it; one that does not is left where it is. Past half of `staleAfterMs`
// after its first step it is removed in place.
Taken takeAwayIf(const QString& lock, const std::function<bool(const Content&)>& isIt, qint64 staleAfterMs,
                 const QByteArray& lease = {});
Taken takeFileAwayIf(const QString& lock, const std::function<bool(const Content&)>& isIt);
void removeLockInPlace(const QString& lock);

// Rewrites a lock or token that still shows the lease of `ours` with `next`, through the handle
// it was read by: 0, kNotOurs, or an errno value.
int rewriteIfOurs(const QString& lock, const QByteArray& ours, const QByteArray& next);

} // namespace recordlock::lockfiles
