#include "record_files.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString plainReason(int error, const QString& path)
{
    switch (error) {
    case ENOENT: {
        const QFileInfo info(path);
        if (!info.absoluteDir().exists())
            return QStringLiteral("the folder %1 does not exist").arg(info.absolutePath());
        return QStringLiteral("the file does not exist");
    }
    case EACCES:
    case EPERM:
        return QStringLiteral("the file or its folder is read-only (no permission to write)");
    case EROFS:
        return QStringLiteral("the disk is read-only");
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QStringLiteral("the disk is full");
    case EFBIG:
        return QStringLiteral("the file has reached the largest size allowed");
    case EISDIR:
        return QStringLiteral("it is a folder, not a file");
    case ENOTDIR:
        return QStringLiteral("part of its path is a file, not a folder");
    case EIO:
        return QStringLiteral("the disk reported an input/output error");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

namespace {

AppendOutcome failedAt(AppendOutcome outcome, const FileAppend& file, int error)
{
    outcome.failedName = file.name;
    outcome.failedPath = file.path;
    outcome.reason = plainReason(error, file.path);
    return outcome;
}

}  // namespace

#ifndef Q_OS_WIN
namespace {

struct OpenFile {
    int fd = -1;
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);  // also releases the lock
    }
};

int lockWholeFile(int fd)
{
#ifdef F_OFD_SETLKW
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    while (::fcntl(fd, F_OFD_SETLKW, &lock) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
#else
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
#endif
}

// Writes the record and flushes it to the disk; on failure what did land is taken back.
int writeAndFlush(int fd, const QByteArray& bytes)
{
    struct stat before {};
    if (::fstat(fd, &before) != 0)
        return errno;
    // A write cut short (a full disk, a size limit) is carried on while the lock is held,
    // so the record stays in one piece; the next call then tells why it could not go on.
    qsizetype done = 0;
    int error = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (error != 0 && done > 0) {
        int rc = 0;
        do {
            rc = ::ftruncate(fd, before.st_size);
        } while (rc != 0 && errno == EINTR);
    }
    return error;
}

}  // namespace

AppendOutcome appendRecord(const QList<FileAppend>& files)
{
    // Past a size limit the write must fail with EFBIG instead of killing the process.
    static const bool sizeSignalIgnored = [] { return std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR; }();
    Q_UNUSED(sizeSignalIgnored);

    AppendOutcome outcome;
    std::vector<OpenFile> open(size_t(files.size()));
    auto fail = [&](qsizetype i, int error) { return failedAt(outcome, files[i], error); };
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QByteArray path = QFile::encodeName(files[i].path);
        int fd = -1;
        do {
            fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return fail(i, errno);
        open[size_t(i)].fd = fd;
        if (const int error = lockWholeFile(fd))
            return fail(i, error);
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (const int error = writeAndFlush(open[size_t(i)].fd, files[i].bytes))
            return fail(i, error);
        outcome.written << files[i].name;
    }
    return outcome;
}
#else
namespace {

int errnoFromWindows(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND: return ENOENT;
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    default: return EIO;
    }
}

struct OpenFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~OpenFile()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

}  // namespace

AppendOutcome appendRecord(const QList<FileAppend>& files)
{
    AppendOutcome outcome;
    std::vector<OpenFile> open(size_t(files.size()));
    auto fail = [&](qsizetype i, int error) { return failedAt(outcome, files[i], error); };
    for (qsizetype i = 0; i < files.size(); ++i) {
        const std::wstring path = files[i].path.toStdWString();
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return fail(i, errnoFromWindows(GetLastError()));
        open[size_t(i)].handle = h;
        OVERLAPPED whole{};
        // Lock far past any real end of file, so that readers of the records are never blocked.
        whole.Offset = 0xFFFFFFFF;
        whole.OffsetHigh = 0x7FFFFFFF;
        if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole))
            return fail(i, errnoFromWindows(GetLastError()));
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        HANDLE h = open[size_t(i)].handle;
        LARGE_INTEGER size{};
        GetFileSizeEx(h, &size);
        SetFilePointerEx(h, size, nullptr, FILE_BEGIN);
        DWORD done = 0;
        const bool wrote = WriteFile(h, files[i].bytes.constData(), DWORD(files[i].bytes.size()), &done, nullptr);
        int error = 0;
        if (!wrote)
            error = errnoFromWindows(GetLastError());
        else if (done != DWORD(files[i].bytes.size()))
            error = ENOSPC;
        else if (!FlushFileBuffers(h))
            error = errnoFromWindows(GetLastError());
        if (error != 0) {
            SetFilePointerEx(h, size, nullptr, FILE_BEGIN);
            SetEndOfFile(h);
            return fail(i, error);
        }
        outcome.written << files[i].name;
    }
    return outcome;
}
#endif

Channels::Channels() = default;
Channels::~Channels() = default;

QFile* Channels::file(int channel) const
{
    if (channel < 1 || channel > kCount)
        return nullptr;
    return files_[size_t(channel - 1)].get();
}

std::optional<Failure> Channels::open(int channel, const QString& path, Mode mode)
{
    if (channel < 1 || channel > kCount)
        return Failure{QStringLiteral("channel %1 does not exist").arg(channel)};
    close(channel);
    auto f = std::make_unique<QFile>(path);
    QIODevice::OpenMode flags = QIODevice::ReadOnly;
    if (mode == Mode::Output)
        flags = QIODevice::WriteOnly | QIODevice::Truncate;
    else if (mode == Mode::Append)
        flags = QIODevice::WriteOnly | QIODevice::Append;
    const QFileInfo info(path);
    if (info.isDir())
        return Failure{plainReason(EISDIR, path)};
    if (!f->open(flags)) {
        if (!info.absoluteDir().exists())
            return Failure{plainReason(ENOENT, path)};
        if (mode == Mode::Input && !info.exists())
            return Failure{plainReason(ENOENT, path)};
        return Failure{f->errorString()};
    }
    files_[size_t(channel - 1)] = std::move(f);
    return std::nullopt;
}

QByteArray Channels::readLine(int channel)
{
    QFile* f = file(channel);
    QByteArray line;
    if (!f)
        return line;
    // A run up to the next CR at a time, from the file's own buffer (a character at a time
    // made a notes file of megabytes slow to read): a short look ahead first, as most
    // record lines are short, and further along a long one.
    char chunk[16384];
    qint64 ahead = 256;
    for (;; ahead = std::min<qint64>(ahead * 4, sizeof chunk)) {
        const qint64 got = f->peek(chunk, ahead);
        if (got <= 0)
            return line;
        const auto* cr = static_cast<const char*>(std::memchr(chunk, '\r', size_t(got)));
        if (!cr) {
            line.append(chunk, got);
            f->skip(got);
            continue;
        }
        line.append(chunk, cr - chunk);
        f->skip(cr - chunk + 1);
        char next = 0;
        if (f->peek(&next, 1) == 1 && next == '\n')
            f->skip(1);
        return line;
    }
}

bool Channels::atEnd(int channel) const
{
    QFile* f = file(channel);
    return !f || f->atEnd();
}

std::optional<Failure> Channels::write(int channel, const QByteArray& bytes)
{
    QFile* f = file(channel);
    if (!f)
        return Failure{QStringLiteral("channel %1 holds no file").arg(channel)};
    if (f->write(bytes) != bytes.size() || !f->flush())
        return Failure{f->errorString()};
    return std::nullopt;
}

void Channels::close(int channel)
{
    if (channel < 1 || channel > kCount)
        return;
    files_[size_t(channel - 1)].reset();
}

void Channels::closeAll()
{
    for (int c = 1; c <= kCount; ++c)
        close(c);
}
