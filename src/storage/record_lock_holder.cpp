#include "record_lock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSysInfo>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "record_io.h"

// The lock's holder file: its text, who it names, and how a waiter judges it.
namespace recordlock {
namespace {

const QByteArray kFirstLine = "classnotes-tutor record lock";

} // namespace

QString describe(const std::optional<Holder>& holder, bool readable, const QByteArray& thisId, qint64 thisProcess)
{
    if (!holder)
        return readable ? QStringLiteral("an unknown holder (the lock names nobody)")
                        : QStringLiteral("an unknown holder (the lock cannot be read)");
    // Its own lock, left by a record of its own that did not finish: never "another" tutor.
    if (!thisId.isEmpty() && holder->id == thisId && holder->process == thisProcess)
        return QStringLiteral("this tutor itself (a record of its own that did not finish, process %1)")
            .arg(holder->process);
    if (!thisId.isEmpty() && holder->id == thisId)
        return QStringLiteral("another tutor on this computer (process %1)").arg(holder->process);
    return QStringLiteral("the computer %1 (process %2)").arg(holder->computer).arg(holder->process);
}

QByteArray randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return raw.toHex();
}

QByteArray text(const Holder& holder)
{
    return kFirstLine + "\r\ncomputer: " + holder.computer.toUtf8() + "\r\nid: " + holder.id +
           "\r\nprocess: " + QByteArray::number(holder.process) + "\r\nlease: " + holder.lease +
           "\r\nrenewed: " + QByteArray::number(holder.renewed).rightJustified(10, '0') + "\r\n" +
           (holder.staleAfterMs > 0
                ? "stale after ms: " + QByteArray::number(holder.staleAfterMs).rightJustified(10, '0') + "\r\n"
                : QByteArray());
}

std::optional<Holder> parse(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    // The stale time is said by tutors that size it for their link; older ones do not say it.
    if ((lines.size() != 7 && lines.size() != 8) || lines[0].trimmed() != kFirstLine || !lines.last().isEmpty())
        return std::nullopt;
    auto field = [&](int i, const char* key) -> std::optional<QByteArray> {
        const QByteArray line = lines[i].trimmed();
        const QByteArray prefix = QByteArray(key) + ": ";
        if (!line.startsWith(prefix))
            return std::nullopt;
        return line.mid(prefix.size());
    };
    const auto computer = field(1, "computer");
    const auto id = field(2, "id");
    const auto process = field(3, "process");
    const auto lease = field(4, "lease");
    const auto renewed = field(5, "renewed");
    if (!computer || !id || !process || !lease || !renewed || computer->isEmpty() || id->isEmpty() || lease->isEmpty())
        return std::nullopt;
    Holder h;
    bool processOk = false;
    bool renewedOk = false;
    h.computer = QString::fromUtf8(*computer);
    h.id = *id;
    h.process = process->toLongLong(&processOk);
    h.lease = *lease;
    h.renewed = renewed->toUInt(&renewedOk);
    if (!processOk || !renewedOk || h.process <= 0)
        return std::nullopt;
    if (lines.size() == 8) {
        const auto stale = field(6, "stale after ms");
        bool staleOk = false;
        h.staleAfterMs = stale ? stale->toLongLong(&staleOk) : 0;
        if (!staleOk || h.staleAfterMs <= 0)
            return std::nullopt;
    }
    return h;
}

QString hostName()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("unnamed computer") : name;
}

QByteArray computerId(const QString& file)
{
    static std::mutex mutex;
    static QHash<QString, QByteArray> known;
    std::lock_guard guard(mutex);
    if (const auto it = known.constFind(file); it != known.constEnd())
        return *it;
    auto valid = [](const QByteArray& id) {
        return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) { return std::isxdigit(uchar(c)); });
    };
    QByteArray id;
    QDir().mkpath(QFileInfo(file).absolutePath());
    // Made once, create-new, so that two tutors starting together agree on it.
    for (int attempt = 0; attempt < 50 && id.isEmpty(); ++attempt) {
        recordio::File made;
        const int error = made.createNew(file);
        if (error == 0) {
            const QByteArray fresh = randomHex(16);
            qint64 done = 0;
            if (made.writeAt(0, fresh + '\n', done) == 0 && made.flush() == 0)
                id = fresh;
            break;
        }
        if (error != EEXIST)
            break;
        QFile existing(file);
        if (existing.open(QIODevice::ReadOnly)) {
            const QByteArray kept = existing.read(64).trimmed();
            if (valid(kept))
                id = kept;
        }
        if (id.isEmpty())
            recordio::pause(2);
    }
    if (id.isEmpty())
        id = randomHex(16);
    known.insert(file, id);
    return id;
}

Judgement judge(const Facts& f)
{
    const auto holder = f.readable ? parse(f.content) : std::nullopt;
    Judgement j;
    j.holder = describe(holder, f.readable, f.thisId, f.thisProcess);
    // Only the computer that made a process can tell whether it still runs.
    if (holder && !f.thisId.isEmpty() && holder->id == f.thisId &&
        (holder->process == f.thisProcess || !f.processAlive || !f.processAlive(holder->process))) {
        j.verdict = Verdict::StaleProcessGone;
        return j;
    }
    // A holder on a slower link than this waiter's renews less often: its own stale time counts.
    const qint64 staleAfter = std::max(f.staleAfterMs, holder ? std::min(holder->staleAfterMs, kLongestStaleMs) : 0);
    if (f.unchangedForMs >= staleAfter)
        j.verdict = Verdict::StaleUnrenewed;
    return j;
}

qint64 Watch::see(const QByteArray& bytes, bool readable, qint64 nowMs)
{
    if (!seen_ || bytes != bytes_ || readable != readable_) {
        seen_ = true;
        bytes_ = bytes;
        readable_ = readable;
        sinceMs_ = nowMs;
    }
    return nowMs - sinceMs_;
}

void WaitNotice::waiting(const QString& holder, qint64 waitedMs, int waitMs)
{
    if (!hook_ || waitedMs < 500)
        return;
    const QString message = QStringLiteral("The record files are in use by %1. The tutor is waiting for them "
                                           "(at most %2 seconds).")
                                .arg(holder)
                                .arg(secondsTold(waitMs));
    if (message == told_)
        return;
    told_ = message;
    hook_(message);
}

void WaitNotice::done()
{
    if (told_.isEmpty())
        return;
    told_.clear();
    if (hook_)
        hook_(QString());
}

} // namespace recordlock
