#include "record_intent.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>

#include <cerrno>

#include "record_io.h"
#include "storage/plain_reason.h"
#include "storage/session_index.h"

namespace recordintent {
namespace {

const QByteArray kMagic = "CNTI";
constexpr quint32 kVersion = 1;
constexpr qsizetype kHashSize = 20;
// Three files and the index for each record, and a start-up finishes every record left in
// its journal under one intent: the bound is only against damage, far above any of those.
constexpr int kMostParts = 1 << 16;

// Whether the bytes a file holds from a part's offset on can only be that part cut short:
// each is the part's own, or not yet written (a later piece of a write that landed first
// leaves a run of zeros before it).
bool partOfIt(const QByteArray& there, const QByteArray& ours)
{
    for (qsizetype i = 0; i < there.size(); ++i) {
        if (there[i] != ours[i] && there[i] != '\0')
            return false;
    }
    return true;
}

} // namespace

std::optional<QString> finishPart(const QString& folder, const Part& part, const std::function<bool()>& goOn)
{
    const QString path = folder + u'/' + part.name;
    recordio::File file;
    qint64 size = 0;
    int error = file.openReadWrite(path);
    if (error == 0)
        error = file.size(size);
    if (error != 0)
        return plainReason(error, path);
    const qint64 end = part.at + part.bytes.size();
    // Shorter than where the part starts, or somebody else's bytes there: not this record's
    // to mend.
    if (size < part.at)
        return std::nullopt;
    QByteArray there;
    if (const int e = file.readAt(part.at, std::min(size, end) - part.at, there))
        return plainReason(e, path);
    if (size >= end && there == part.bytes)
        return std::nullopt;
    if (size > end || !partOfIt(there, part.bytes))
        return std::nullopt;
    if (goOn && !goOn())
        return QString();
    qint64 done = 0;
    error = file.writeAt(part.at, part.bytes, done);
    if (error == 0)
        error = file.flush();
    QByteArray back;
    if (error == 0)
        error = file.readAt(part.at, part.bytes.size(), back);
    if (error != 0)
        return plainReason(error, path);
    if (back != part.bytes)
        return QStringLiteral("the record did not reach the file intact");
    return std::nullopt;
}

bool isIndex(const Part& part)
{
    return part.name == QLatin1String(sessionindex::kFileName);
}

QString fileOf(const QString& lock, const QByteArray& lease)
{
    return lock + QStringLiteral("/intent.") + QString::fromLatin1(lease);
}

QByteArray encode(const QList<Part>& parts)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out.writeRawData(kMagic.constData(), int(kMagic.size()));
    out << kVersion << qint32(parts.size());
    for (const Part& p : parts)
        out << p.name << p.at << p.bytes;
    return bytes + QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

std::optional<QList<Part>> decode(const QByteArray& bytes)
{
    if (bytes.size() < kMagic.size() + 4 + kHashSize || !bytes.startsWith(kMagic))
        return std::nullopt;
    const QByteArray body = bytes.left(bytes.size() - kHashSize);
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha1) != bytes.right(kHashSize))
        return std::nullopt;
    QDataStream in(body);
    in.setVersion(QDataStream::Qt_6_4);
    in.skipRawData(int(kMagic.size()));
    quint32 version = 0;
    qint32 count = 0;
    in >> version >> count;
    if (version != kVersion || count < 0 || count > kMostParts)
        return std::nullopt;
    QList<Part> parts;
    for (qint32 i = 0; i < count; ++i) {
        Part p;
        in >> p.name >> p.at >> p.bytes;
        if (in.status() != QDataStream::Ok || p.name.isEmpty() || p.name.contains(u'/') || p.at < 0)
            return std::nullopt;
        parts << p;
    }
    if (!in.atEnd())
        return std::nullopt;
    return parts;
}

int write(const QString& file, const QList<Part>& parts, bool* remote)
{
    recordio::File out;
    if (const int error = out.createNew(file))
        return error;
    if (remote)
        *remote = out.remote();
    // Not flushed to the disk: once written, every computer sees it through the file server, and
    // a file server that crashes loses the lock around it too (the lock is not flushed either).
    // But a client that writes behind (sshfs) says at the close whether the server took it: an
    // intent that never arrived hides from a breaker the record it was to finish.
    qint64 done = 0;
    if (const int error = out.writeAt(0, encode(parts), done))
        return error;
    return out.closeChecked();
}

std::optional<QList<Part>> read(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    return decode(in.readAll());
}

std::optional<QString> finish(const QString& folder, const QList<Part>& parts, const std::function<bool()>& goOn)
{
    for (const Part& part : parts) {
        if (goOn && !goOn())
            return QString();
        auto why = finishPart(folder, part, goOn);
        if (why && !why->isEmpty() && isIndex(part))
            continue;
        if (why)
            return why->isEmpty() ? *why : QStringLiteral("%1: %2").arg(part.name, *why);
    }
    return std::nullopt;
}

} // namespace recordintent
