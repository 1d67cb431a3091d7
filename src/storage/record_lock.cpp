#include "record_lock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>

#include "record_io.h"
#include "storage/plain_reason.h"

namespace recordlock {
namespace {

const QByteArray kFirstLine = "classnotes-tutor record lock";

QString shownTime(const QDateTime& utc)
{
    return utc.toLocalTime().toString(QStringLiteral("hh:mm:ss 'on' MM-dd-yyyy"));
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

struct Content {
    QByteArray bytes;
    bool readable = false;
    bool exists = true;
};

Content readLockFile(const QString& path)
{
    QFile file(path);
    Content c;
    if (file.open(QIODevice::ReadOnly)) {
        c.bytes = file.read(4096);
        c.readable = true;
    } else {
        c.exists = QFileInfo::exists(path);
    }
    return c;
}

bool isPermission(int error)
{
    return error == EACCES || error == EPERM;
}

} // namespace

QByteArray text(const Holder& holder)
{
    return kFirstLine + "\r\ncomputer: " + holder.computer.toUtf8() +
           "\r\nprocess: " + QByteArray::number(holder.process) +
           "\r\nsince: " + holder.since.toString(Qt::ISODateWithMs).toUtf8() + "\r\n";
}

std::optional<Holder> parse(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 5 || lines[0].trimmed() != kFirstLine || !lines[4].isEmpty())
        return std::nullopt;
    auto field = [&](int i, const char* key) -> std::optional<QByteArray> {
        const QByteArray line = lines[i].trimmed();
        const QByteArray prefix = QByteArray(key) + ": ";
        if (!line.startsWith(prefix))
            return std::nullopt;
        return line.mid(prefix.size());
    };
    const auto computer = field(1, "computer");
    const auto process = field(2, "process");
    const auto since = field(3, "since");
    if (!computer || !process || !since || computer->isEmpty())
        return std::nullopt;
    Holder h;
    bool ok = false;
    h.computer = QString::fromUtf8(*computer);
    h.process = process->toLongLong(&ok);
    h.since = QDateTime::fromString(QString::fromLatin1(*since), Qt::ISODateWithMs);
    if (!ok || h.process <= 0 || !h.since.isValid())
        return std::nullopt;
    h.since = h.since.toUTC();
    return h;
}

QString thisComputer()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("unnamed computer") : name;
}

Holder thisProgram(const QDateTime& now)
{
    return {thisComputer(), recordio::processId(), now.toUTC()};
}

Judgement judge(const Facts& f)
{
    const auto holder = f.readable ? parse(f.content) : std::nullopt;
    Judgement j;
    QDateTime since = f.fileTime.toUTC();
    if (holder) {
        const bool here = holder->computer == f.thisComputer;
        j.holder = here ? QStringLiteral("another tutor on this computer (process %1)").arg(holder->process)
                        : QStringLiteral("the computer %1 (process %2)").arg(holder->computer).arg(holder->process);
        // A time far ahead of this computer's clock cannot be trusted to ever run out.
        if (holder->since.secsTo(f.now) > -f.staleAfterSecs)
            since = holder->since;
        if (here && (holder->process == f.thisProcess || !f.processAlive || !f.processAlive(holder->process))) {
            j.verdict = Verdict::StaleProcessGone;
            j.holder += QStringLiteral(" since %1").arg(shownTime(since));
            return j;
        }
    } else {
        j.holder = f.readable ? QStringLiteral("an unknown holder (the lock file names nobody)")
                              : QStringLiteral("an unknown holder (the lock file cannot be read)");
        if (f.unchangedForMs > f.namelessGraceMs) {
            j.verdict = Verdict::StaleNameless;
            return j;
        }
    }
    if (since.isValid())
        j.holder += QStringLiteral(" since %1").arg(shownTime(since));
    // Without any time the lock may have been made this very moment.
    if (since.isValid() && since.secsTo(f.now) > f.staleAfterSecs)
        j.verdict = Verdict::StaleByAge;
    return j;
}

std::optional<QString> FolderLock::acquire(const QString& folder, const Timing& timing, qint64 deadline)
{
    release();
    const QString path = folder + u'/' + kFileName;
    int pauseMs = 1;
    int permissionFailures = 0;
    QString holder = QStringLiteral("another program");
    // The lock as last seen, and since when it has not changed.
    QElapsedTimer watched;
    QByteArray watchedBytes;
    bool watchedReadable = false;
    QDateTime watchedTime;
    auto heldTooLong = [&] {
        return QStringLiteral("the record files are in use by %1, for longer than %2 seconds; please try again "
                              "in a moment")
            .arg(holder)
            .arg(std::max(1, timing.waitMs / 1000));
    };
    // Bounded however the lock file behaves: by the deadline, and by a count of breaks.
    for (int breaks = 0, tries = 0; breaks < 50; ++tries) {
        if (tries > 0 && QDateTime::currentMSecsSinceEpoch() >= deadline)
            return heldTooLong();
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QByteArray ours = text(thisProgram(now));
        recordio::File file;
        const int error = file.createNew(path);
        if (error == 0) {
            // The atomic create is the lock; the text only says who holds it, so it is not
            // flushed, and a full disk leaves the lock empty rather than refusing the record.
            path_ = path;
            ours_ = ours;
            qint64 done = 0;
            if (file.writeAt(0, ours, done) != 0) {
                file.truncateTo(0);
                ours_.clear();
            }
            return std::nullopt;
        }
        const QFileInfo info(path);
        // Some network clients report a file that exists as a permission failure, and its
        // holder may have removed it again before the look; a real one stays.
        if (isPermission(error) && !info.exists() && ++permissionFailures < 20)
            continue;
        if (error != EEXIST && !(isPermission(error) && info.exists()))
            return plainReason(error, path);
        if (info.isDir())
            return QStringLiteral("the lock file %1 is a folder; it must be removed before anyone can record there")
                .arg(native(path));
        const Content seen = readLockFile(path);
        // The time of the very file read: it may have been replaced since the look above.
        const QFileInfo read(path);
        if (!seen.exists || !read.exists())
            continue;
        Facts facts;
        facts.content = seen.bytes;
        facts.readable = seen.readable;
        facts.fileTime = read.lastModified().toUTC();
        facts.now = now;
        facts.thisComputer = thisComputer();
        facts.thisProcess = recordio::processId();
        facts.staleAfterSecs = timing.staleAfterSecs;
        facts.processAlive = recordio::processAlive;
        if (!watched.isValid() || seen.bytes != watchedBytes || seen.readable != watchedReadable ||
            facts.fileTime != watchedTime) {
            watched.start();
            watchedBytes = seen.bytes;
            watchedReadable = seen.readable;
            watchedTime = facts.fileTime;
        }
        facts.unchangedForMs = watched.elapsed();
        facts.namelessGraceMs = timing.namelessGraceMs;
        const Judgement judgement = judge(facts);
        if (judgement.verdict != Verdict::Held) {
            ++breaks;
            // Removed only if it is still the very lock judged stale.
            const Content again = readLockFile(path);
            if (!again.exists)
                continue;
            if (again.readable == seen.readable && again.bytes == seen.bytes) {
                const int removed = recordio::removeFile(path);
                if (removed != 0 && removed != ENOENT)
                    return QStringLiteral("a lock file left behind by %1 cannot be removed (%2): %3")
                        .arg(judgement.holder, native(path), plainReason(removed, path));
                continue;
            }
        }
        holder = judgement.holder;
        if (QDateTime::currentMSecsSinceEpoch() >= deadline)
            return heldTooLong();
        recordio::pause(pauseMs);
        pauseMs = std::min(pauseMs * 2, 20);
    }
    return QStringLiteral("the lock file %1 keeps coming back stale; please tell the instructor").arg(native(path));
}

void FolderLock::release()
{
    if (path_.isEmpty())
        return;
    // Only our own: after a break by age somebody else may hold it now.
    if (readLockFile(path_).bytes == ours_)
        recordio::removeFile(path_);
    path_.clear();
    ours_.clear();
}

} // namespace recordlock
