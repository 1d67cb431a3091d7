#include "record_journal.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <future>
#include <map>
#include <memory>
#include <mutex>

#include "record_io.h"
#include "storage/plain_reason.h"

namespace journal {
namespace {

const QByteArray kMagic = "CNTJ";
constexpr quint32 kVersion = 1;
constexpr qsizetype kHashSize = 20;
constexpr int kMostFiles = 16;
const QString kEntrySuffix = QStringLiteral(".entry");
const QString kPartSuffix = QStringLiteral(".part");

// Entries this process holds, each open and locked while it lives; and those still on their way
// to the disk, with what their flush and rename said.
struct Held {
    std::mutex mutex;
    std::map<QString, std::unique_ptr<recordio::File>> files;
    std::map<QString, std::future<int>> arriving;
};

Held& held()
{
    static Held h;
    return h;
}

void hold(const QString& id, std::unique_ptr<recordio::File> file)
{
    std::lock_guard guard(held().mutex);
    held().files[id] = std::move(file);
}

void release(const QString& id)
{
    settle(id);
    std::lock_guard guard(held().mutex);
    held().files.erase(id);
}

QString newName()
{
    static int counter = 0;
    return QStringLiteral("%1-%2-%3")
        .arg(QDateTime::currentMSecsSinceEpoch(), 14, 10, QLatin1Char('0'))
        .arg(recordio::processId())
        .arg(++counter, 6, 10, QLatin1Char('0'));
}

} // namespace

QString defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/classnotes-tutor/journal");
}

QByteArray encode(const QList<File>& files, const QByteArray& note)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out.writeRawData(kMagic.constData(), int(kMagic.size()));
    out << kVersion << qint32(files.size());
    for (const File& f : files)
        out << f.name << f.path << f.sizeBefore << f.bytes;
    if (!note.isEmpty())
        out << note;
    return bytes + QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

ReadState decode(const QByteArray& bytes, QList<File>& files, QByteArray* note)
{
    files.clear();
    QByteArray kept;
    if (bytes.size() < kMagic.size() + 4 + kHashSize || !bytes.startsWith(kMagic))
        return ReadState::Damaged;
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    in.skipRawData(int(kMagic.size()));
    quint32 version = 0;
    in >> version;
    if (version != kVersion)
        return ReadState::OtherVersion;
    const QByteArray body = bytes.left(bytes.size() - kHashSize);
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha1) != bytes.right(kHashSize))
        return ReadState::Damaged;
    qint32 count = 0;
    in >> count;
    if (count < 1 || count > kMostFiles)
        return ReadState::Damaged;
    for (qint32 i = 0; i < count; ++i) {
        File f;
        in >> f.name >> f.path >> f.sizeBefore >> f.bytes;
        if (in.status() != QDataStream::Ok || f.path.isEmpty() || f.sizeBefore < 0) {
            files.clear();
            return ReadState::Damaged;
        }
        files << f;
    }
    if (in.device()->pos() < body.size())
        in >> kept;
    if (in.status() != QDataStream::Ok || in.device()->pos() != body.size()) {
        files.clear();
        return ReadState::Damaged;
    }
    if (note)
        *note = kept;
    return ReadState::Whole;
}

QString begin(const QString& folder, const QList<File>& files, QString* why, const QByteArray& note)
{
    auto failed = [&](const QString& reason) {
        if (why)
            *why = reason;
        return QString();
    };
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        return failed(QStringLiteral("it is a file, not a folder"));
    if (!QDir().mkpath(folder))
        return failed(QStringLiteral("the folder cannot be made"));
    const QString base = folder + u'/' + newName();
    const QString part = base + kPartSuffix;
    const QString id = base + kEntrySuffix;
    auto file = std::make_unique<recordio::File>();
    if (const int error = file->createNew(part))
        return failed(plainReason(error, part));
    const QByteArray bytes = encode(files, note);
    qint64 done = 0;
    int error = file->tryLock();
    if (error == 0)
        error = file->writeAt(0, bytes, done);
    if (error != 0) {
        file.reset();
        recordio::removeFile(part);
        return failed(plainReason(error, part));
    }
    // Renamed once on the disk, so that an entry that is there is whole.
    recordio::File* flushed = file.get();
    std::future<int> arriving = std::async(std::launch::async, [flushed, part, id] {
        int error = flushed->flush();
        if (error == 0 && !QFile::rename(part, id))
            error = EACCES;
        return error;
    });
    std::lock_guard guard(held().mutex);
    held().files[id] = std::move(file);
    held().arriving[id] = std::move(arriving);
    return id;
}

std::optional<QString> settle(const QString& id)
{
    std::future<int> arriving;
    {
        std::lock_guard guard(held().mutex);
        const auto it = held().arriving.find(id);
        if (it == held().arriving.end())
            return std::nullopt;
        arriving = std::move(it->second);
        held().arriving.erase(it);
    }
    const int error = arriving.get();
    if (error == 0)
        return std::nullopt;
    QString part = id;
    part.replace(part.size() - kEntrySuffix.size(), kEntrySuffix.size(), kPartSuffix);
    release(id);
    recordio::removeFile(part);
    return plainReason(error, part);
}

QList<File> filesOf(const QString& id)
{
    settle(id);
    QFile file(id);
    QList<File> files;
    if (!file.open(QIODevice::ReadOnly) || decode(file.readAll(), files) != ReadState::Whole)
        files.clear();
    return files;
}

void drop(const QString& id)
{
    if (id.isEmpty())
        return;
    if (!settle(id))
        recordio::removeFile(id);
    release(id);
}

QList<LeftOver> takeLeftOvers(const QString& folder, QStringList* problems)
{
    QList<LeftOver> found;
    const QDir dir(folder);
    const QFileInfo info(folder);
    if (!folder.isEmpty() && info.exists() && !info.isDir() && problems)
        *problems << QStringLiteral("%1: it is a file, not a folder").arg(QDir::toNativeSeparators(folder));
    if (folder.isEmpty() || !dir.exists())
        return found;
    // Told apart by their endings here rather than by name filters, which would start a
    // regular-expression engine at every start-up.
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        if (!name.endsWith(kPartSuffix) && !name.endsWith(kEntrySuffix))
            continue;
        const QString path = dir.filePath(name);
        {
            std::lock_guard guard(held().mutex);
            if (held().files.count(path))
                continue;
        }
        auto file = std::make_unique<recordio::File>();
        if (const int error = file->openReadWrite(path)) {
            if (problems)
                *problems << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), plainReason(error, path));
            continue;
        }
        if (file->created()) {
            // Dropped by its owner since the listing.
            file.reset();
            recordio::removeFile(path);
            continue;
        }
        if (file->tryLock() != 0)
            continue;
        if (name.endsWith(kPartSuffix)) {
            recordio::removeFile(path);
            continue;
        }
        qint64 size = 0;
        QByteArray bytes;
        LeftOver entry;
        entry.id = path;
        if (file->size(size) != 0 || file->readAt(0, size, bytes) != 0)
            entry.state = ReadState::Damaged;
        else
            entry.state = decode(bytes, entry.files, &entry.note);
        hold(path, std::move(file));
        found << entry;
    }
    return found;
}

void keep(const QString& id)
{
    release(id);
}

QString setAside(const QString& id)
{
    const QString aside = id + QStringLiteral(".unreadable");
    QFile::remove(aside);
    const QString where = QFile::rename(id, aside) ? aside : id;
    release(id);
    return where;
}

} // namespace journal
