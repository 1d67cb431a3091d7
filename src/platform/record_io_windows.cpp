#ifdef _WIN32

#include "record_io.h"

#include <cerrno>
#include <string>

#include <windows.h>

namespace recordio {
namespace {

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

int errnoFromWindows(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
        return EWOULDBLOCK;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

int lastError()
{
    return errnoFromWindows(GetLastError());
}

HANDLE openWith(const QString& path, DWORD disposition)
{
    const std::wstring native = path.toStdWString();
    return CreateFileW(native.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

void File::opened(std::intptr_t handle, bool created)
{
    handle_ = handle;
    created_ = created;
    remote_ = true;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = other.handle_;
        created_ = other.created_;
        remote_ = other.remote_;
        other.handle_ = -1;
    }
    return *this;
}

void File::close()
{
    if (handle_ != -1)
        CloseHandle(handleOf(handle_));
    handle_ = -1;
}

int File::openReadWrite(const QString& path)
{
    close();
    HANDLE h = openWith(path, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE)
        return lastError();
    opened(reinterpret_cast<std::intptr_t>(h), GetLastError() != ERROR_ALREADY_EXISTS);
    return 0;
}

int File::createNew(const QString& path)
{
    close();
    HANDLE h = openWith(path, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE)
        return lastError();
    opened(reinterpret_cast<std::intptr_t>(h), true);
    return 0;
}

int File::tryLock()
{
    // Far past any real end of file, so that readers of the records are never blocked.
    OVERLAPPED far{};
    far.Offset = 0xFFFFFFFF;
    far.OffsetHigh = 0x7FFFFFFF;
    if (LockFileEx(handleOf(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &far))
        return 0;
    return lastError();
}

int File::size(qint64& out)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handleOf(handle_), &size))
        return lastError();
    out = size.QuadPart;
    return 0;
}

int File::writeAt(qint64 offset, const QByteArray& bytes, qint64& done)
{
    done = 0;
    while (done < bytes.size()) {
        OVERLAPPED at{};
        at.Offset = DWORD((offset + done) & 0xFFFFFFFF);
        at.OffsetHigh = DWORD((offset + done) >> 32);
        DWORD n = 0;
        if (!WriteFile(handleOf(handle_), bytes.constData() + done, DWORD(bytes.size() - done), &n, &at))
            return lastError();
        if (n == 0)
            return ENOSPC;
        done += n;
    }
    return 0;
}

int File::flush()
{
    return FlushFileBuffers(handleOf(handle_)) ? 0 : lastError();
}

int File::readAt(qint64 offset, qint64 length, QByteArray& out)
{
    out.resize(length);
    qint64 got = 0;
    while (got < length) {
        OVERLAPPED at{};
        at.Offset = DWORD((offset + got) & 0xFFFFFFFF);
        at.OffsetHigh = DWORD((offset + got) >> 32);
        DWORD n = 0;
        if (!ReadFile(handleOf(handle_), out.data() + got, DWORD(length - got), &n, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            return lastError();
        }
        if (n == 0)
            break;
        got += n;
    }
    out.truncate(got);
    return 0;
}

int File::truncateTo(qint64 size)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(handleOf(handle_), FileEndOfFileInfo, &end, sizeof end) ? 0 : lastError();
}

int flushFolder(const QString&)
{
    // The file server keeps a new file's entry with the file's own flush.
    return 0;
}

int removeFile(const QString& path)
{
    const std::wstring native = path.toStdWString();
    return DeleteFileW(native.c_str()) ? 0 : lastError();
}

int sizeOfPath(const QString& path, qint64& out)
{
    out = 0;
    const std::wstring native = path.toStdWString();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data)) {
        const int error = lastError();
        return error == ENOENT ? 0 : error;
    }
    out = (qint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return 0;
}

qint64 processId()
{
    return qint64(GetCurrentProcessId());
}

bool processAlive(qint64 pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

void ignoreFileSizeSignal() {}

void pause(int milliseconds)
{
    Sleep(DWORD(milliseconds));
}

} // namespace recordio

#endif
