#ifndef _WIN32

#include "record_io.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace recordio {
namespace {

int fdOf(std::intptr_t handle)
{
    return int(handle);
}

int openRetrying(const QByteArray& path, int flags)
{
    int fd = -1;
    // A user-space SMB client says EIO or EBUSY for a moment while it reconnects to the file
    // server after another computer removed a folder; a real fault stays and is reported.
    for (int attempt = 0; attempt < 20; ++attempt) {
        do {
            fd = ::open(path.constData(), flags | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 || (errno != EIO && errno != EBUSY) || attempt == 19)
            break;
        const int error = errno;
        pause(std::min(2 * (attempt + 1), 50));
        errno = error;
    }
    return fd;
}

struct Kind {
    bool remote = false;
    bool sizeFromOpen = false;
    bool createMayCut = false;
    bool locksStayHere = false;
};

constexpr unsigned long kFuse = 0x65735546UL;

// The user-space client a FUSE mount holding `fd` runs, as the mount table names it
// ("fuse.sshfs"), found by the mount's device; empty when not found.
QByteArray fuseType(int fd)
{
    struct stat there {};
    if (::fstat(fd, &there) != 0)
        return {};
    const QByteArray device = QByteArray::number(major(there.st_dev)) + ':' + QByteArray::number(minor(there.st_dev));
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    // id parent major:minor root mount-point options [optional fields] - type source options
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() > 2 && fields[2] == device && dash >= 0 && dash + 1 < fields.size())
            return fields[dash + 1];
    }
    return {};
}

Kind kindOf(int fd)
{
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0)
        return {true, true};
    switch (static_cast<unsigned long>(info.f_type)) {
    case kFuse: // sshfs, user-space SMB clients, ...
    {
        // smbnetfs asks the file server for the size of an open file, but its create is a look
        // followed by "make it or cut it to nothing"; sshfs answers the size from an attribute
        // cache filled at the open, and another client may do the same. sshfs has no locking of
        // its own: the kernel keeps a lock taken there to this computer.
        const QByteArray type = fuseType(fd);
        const bool smbnetfs = type == "fuse.smbnetfs";
        return {true, !smbnetfs, smbnetfs, type == "fuse.sshfs"};
    }
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x564C:       // NCP
    case 0x65735543UL: // FUSE control
        return {true, false, false};
    default:
        return {};
    }
}

// The kind of file system is learnt once per folder in a run, from an open file in it or the
// folder itself: over a network client each look is a request to the file server.
Kind kindOfFolder(const QByteArray& folder, int fd = -1)
{
    static std::mutex mutex;
    static QHash<QByteArray, Kind> known;
    {
        std::lock_guard guard(mutex);
        if (const auto it = known.constFind(folder); it != known.constEnd())
            return *it;
    }
    Kind kind;
    if (fd >= 0) {
        kind = kindOf(fd);
    } else {
        const int opened = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (opened < 0)
            return {true, true, false}; // not kept: the folder may come back
        kind = kindOf(opened);
        ::close(opened);
    }
    std::lock_guard guard(mutex);
    known.insert(folder, kind);
    return kind;
}

Kind folderKind(const QByteArray& path, int fd)
{
    const qsizetype slash = path.lastIndexOf('/');
    return kindOfFolder(slash >= 0 ? path.left(slash) : QByteArray("."), fd);
}

} // namespace

void File::opened(std::intptr_t handle, bool created, const QByteArray& path)
{
    handle_ = handle;
    created_ = created;
    const Kind kind = folderKind(path, int(handle));
    remote_ = kind.remote;
    sizeFromOpen_ = kind.sizeFromOpen;
    // Past this computer's page cache: a client that keeps pages writes whole pages back, and
    // a page it read before another computer appended carries old bytes over the new ones.
    // Where the file system refuses, the read-back still catches a record that did not arrive.
    if (remote_) {
        const int flags = ::fcntl(int(handle), F_GETFL);
        if (flags >= 0)
            ::fcntl(int(handle), F_SETFL, flags | O_DIRECT);
    }
}

void File::close()
{
    if (handle_ != -1)
        ::close(fdOf(handle_));
    handle_ = -1;
}

int File::closeChecked()
{
    if (handle_ == -1)
        return 0;
    const int rc = ::close(fdOf(handle_));
    handle_ = -1;
    return rc == 0 || errno == EINTR ? 0 : errno;
}

int File::openReadWrite(const QString& path)
{
    close();
    const QByteArray native = QFile::encodeName(path);
    // Knowing whether this call made the file tells whether its folder needs a flush.
    int error = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = openRetrying(native, O_RDWR);
        if (fd >= 0) {
            opened(fd, false, native);
            return 0;
        }
        if (errno != ENOENT)
            return errno;
        fd = openRetrying(native, O_RDWR | O_CREAT | O_EXCL);
        if (fd >= 0) {
            opened(fd, true, native);
            return 0;
        }
        // Made by someone else meanwhile; some network clients say so as a permission failure.
        error = errno;
        if (error != EEXIST && error != EACCES && error != EPERM)
            return error;
    }
    return error;
}

int File::openExisting(const QString& path)
{
    close();
    const QByteArray native = QFile::encodeName(path);
    const int fd = openRetrying(native, O_RDWR);
    if (fd < 0)
        return errno;
    opened(fd, false, native);
    return 0;
}

int File::createNew(const QString& path)
{
    close();
    const QByteArray native = QFile::encodeName(path);
    const int fd = openRetrying(native, O_RDWR | O_CREAT | O_EXCL);
    if (fd < 0)
        return errno;
    opened(fd, true, native);
    return 0;
}

int File::tryLock()
{
#ifdef F_OFD_SETLK
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    while (::fcntl(fdOf(handle_), F_OFD_SETLK, &lock) != 0) {
        if (errno == EAGAIN || errno == EACCES)
            return EWOULDBLOCK;
        if (errno != EINTR)
            return errno;
    }
    return 0;
#else
    while (::flock(fdOf(handle_), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
#endif
}

int File::size(qint64& out)
{
    // Forced past the attribute caches of network clients, which hold a size seen earlier.
    struct statx info {};
    if (::statx(fdOf(handle_), "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_SIZE, &info) != 0)
        return errno;
    out = qint64(info.stx_size);
    return 0;
}

int File::writeAt(qint64 offset, const QByteArray& bytes, qint64& done)
{
    done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fdOf(handle_), bytes.constData() + done, size_t(bytes.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        done += n;
    }
    return 0;
}

int File::flush()
{
    return ::fsync(fdOf(handle_)) == 0 ? 0 : errno;
}

int File::readAt(qint64 offset, qint64 length, QByteArray& out)
{
    // The pages just written are clean after the flush; dropping them makes the read ask
    // the file server instead of answering from this computer's copy.
    if (remote_)
        ::posix_fadvise(fdOf(handle_), offset, length, POSIX_FADV_DONTNEED);
    out.resize(length);
    qint64 got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fdOf(handle_), out.data() + got, size_t(length - got), offset + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        got += n;
    }
    out.truncate(got);
    return 0;
}

int File::truncateTo(qint64 size)
{
    int rc = 0;
    do {
        rc = ::ftruncate(fdOf(handle_), size);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

bool createMayCut(const QString& folder)
{
    QByteArray native = QFile::encodeName(folder);
    while (native.size() > 1 && native.endsWith('/'))
        native.chop(1);
    return kindOfFolder(native).createMayCut;
}

bool locksStayHere(const QString& folder)
{
    QByteArray native = QFile::encodeName(folder);
    while (native.size() > 1 && native.endsWith('/'))
        native.chop(1);
    return kindOfFolder(native).locksStayHere;
}

bool onNetwork(const QString& folder)
{
    QByteArray native = QFile::encodeName(folder);
    while (native.size() > 1 && native.endsWith('/'))
        native.chop(1);
    return kindOfFolder(native).remote;
}

int flushFolder(const QString& folder)
{
    const int fd = openRetrying(QFile::encodeName(folder), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return errno;
    // Some network clients cannot flush a folder; the file itself is flushed already.
    const int rc = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOSYS || errno == EBADF ? 0 : errno;
    ::close(fd);
    return rc;
}

int makeFolder(const QString& path)
{
    return ::mkdir(QFile::encodeName(path).constData(), 0777) == 0 ? 0 : errno;
}

int removeFolder(const QString& path)
{
    return ::rmdir(QFile::encodeName(path).constData()) == 0 ? 0 : errno;
}

int removeFile(const QString& path)
{
    return ::unlink(QFile::encodeName(path).constData()) == 0 ? 0 : errno;
}

int renameFile(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 ? 0 : errno;
}

int renameNoReplace(const QString& from, const QString& to)
{
    const QByteArray f = QFile::encodeName(from);
    const QByteArray t = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    // User-space and network file systems often lack the flag.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    if (::link(f.constData(), t.constData()) == 0) {
        ::unlink(f.constData());
        return 0;
    }
    if (errno == EEXIST || errno == ENOENT)
        return errno;
    struct stat there {};
    if (::lstat(t.constData(), &there) == 0)
        return EEXIST;
    return ::rename(f.constData(), t.constData()) == 0 ? 0 : errno;
}

int sizeOfPath(const QString& path, qint64& out)
{
    struct statx info {};
    out = 0;
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), AT_STATX_FORCE_SYNC, STATX_SIZE, &info) == 0) {
        out = qint64(info.stx_size);
        return 0;
    }
    return errno == ENOENT ? 0 : errno;
}

qint64 processId()
{
    return qint64(::getpid());
}

bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

void ignoreFileSizeSignal()
{
    static const bool ignored = [] { return std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR; }();
    Q_UNUSED(ignored);
}

void pause(int milliseconds)
{
    timespec wait{milliseconds / 1000, long(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

} // namespace recordio

#endif
