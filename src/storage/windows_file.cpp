#ifdef _WIN32

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#include "windows_file.h"

#include <algorithm>
#include <cerrno>

#include <windows.h>

namespace winfile {
namespace {

// One WriteFile or ReadFile moves at most a DWORD; records are far smaller, but a bound
// keeps the arithmetic honest.
constexpr std::int64_t kMaxPiece = 1 << 30;

HANDLE native(Handle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

int lastError()
{
    return errnoFromWindows(GetLastError());
}

OVERLAPPED at(std::int64_t offset)
{
    OVERLAPPED where{};
    where.Offset = DWORD(std::uint64_t(offset) & 0xFFFFFFFFu);
    where.OffsetHigh = DWORD(std::uint64_t(offset) >> 32);
    return where;
}

bool isFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Windows refuses a folder opened as a file as a permission failure; the message must say
// what is really there.
int openError(const std::wstring& path)
{
    const DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED && isFolder(path))
        return EISDIR;
    return errnoFromWindows(code);
}

HANDLE openWith(const std::wstring& path, DWORD disposition)
{
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Tries the operation again for up to half a second while another program holds the file:
// a reader that opened it without sharing deletion holds it only for a moment.
template <typename Operation> int whileShared(Operation operation)
{
    const ULONGLONG deadline = GetTickCount64() + 500;
    for (int attempt = 0; attempt < 250; ++attempt) {
        if (operation())
            return 0;
        if (GetLastError() != ERROR_SHARING_VIOLATION)
            return lastError();
        if (GetTickCount64() >= deadline)
            break;
        Sleep(2);
    }
    return EWOULDBLOCK;
}

} // namespace

int errnoFromWindows(unsigned long code)
{
    switch (code) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
        return EWOULDBLOCK;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

int openReadWrite(const std::wstring& path, Handle& out, bool& created)
{
    out = kNoHandle;
    created = false;
    const HANDLE h = openWith(path, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE)
        return openError(path);
    created = GetLastError() != ERROR_ALREADY_EXISTS;
    out = reinterpret_cast<Handle>(h);
    return 0;
}

int openExisting(const std::wstring& path, Handle& out)
{
    out = kNoHandle;
    const HANDLE h = openWith(path, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE)
        return openError(path);
    out = reinterpret_cast<Handle>(h);
    return 0;
}

int createNew(const std::wstring& path, Handle& out)
{
    out = kNoHandle;
    const HANDLE h = openWith(path, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE)
        return lastError();
    out = reinterpret_cast<Handle>(h);
    return 0;
}

void close(Handle handle)
{
    if (handle != kNoHandle)
        CloseHandle(native(handle));
}

int tryLock(Handle handle)
{
    // One byte at the top of the range: a record never reaches it, so reads are not blocked.
    OVERLAPPED range = at(0x7FFFFFFFFFFFFFFELL);
    if (LockFileEx(native(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range))
        return 0;
    return lastError();
}

int size(Handle handle, std::int64_t& out)
{
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(native(handle), &value))
        return lastError();
    out = value.QuadPart;
    return 0;
}

int writeAt(Handle handle, std::int64_t offset, const char* data, std::size_t length, std::int64_t& done)
{
    done = 0;
    const auto total = std::int64_t(length);
    while (done < total) {
        OVERLAPPED where = at(offset + done);
        const DWORD piece = DWORD(std::min(total - done, kMaxPiece));
        DWORD n = 0;
        if (!WriteFile(native(handle), data + done, piece, &n, &where))
            return lastError();
        if (n == 0)
            return ENOSPC;
        done += n;
    }
    return 0;
}

int flush(Handle handle)
{
    return FlushFileBuffers(native(handle)) ? 0 : lastError();
}

int readAt(Handle handle, std::int64_t offset, std::int64_t length, std::string& out)
{
    out.assign(std::size_t(std::max<std::int64_t>(length, 0)), '\0');
    std::int64_t got = 0;
    while (got < length) {
        OVERLAPPED where = at(offset + got);
        const DWORD piece = DWORD(std::min(length - got, kMaxPiece));
        DWORD n = 0;
        if (!ReadFile(native(handle), out.data() + got, piece, &n, &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            return lastError();
        }
        if (n == 0)
            break;
        got += n;
    }
    out.resize(std::size_t(got));
    return 0;
}

int truncateTo(Handle handle, std::int64_t size)
{
    LARGE_INTEGER to{};
    to.QuadPart = size;
    if (!SetFilePointerEx(native(handle), to, nullptr, FILE_BEGIN) || !SetEndOfFile(native(handle)))
        return lastError();
    return 0;
}

int makeFolder(const std::wstring& path)
{
    return CreateDirectoryW(path.c_str(), nullptr) ? 0 : lastError();
}

int removeFolder(const std::wstring& path)
{
    return whileShared([&] { return RemoveDirectoryW(path.c_str()) != 0; });
}

int removeFile(const std::wstring& path)
{
    // Giving up at once would leave a lock file behind for everyone.
    return whileShared([&] { return DeleteFileW(path.c_str()) != 0; });
}

int renameNoReplace(const std::wstring& from, const std::wstring& to)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
    return whileShared([&] { return MoveFileExW(from.c_str(), to.c_str(), 0) != 0; });
}

int flushFolder(const std::wstring& folder)
{
    const HANDLE h = CreateFileW(folder.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const int error = lastError();
        // Opening a folder for writing needs rights a student may not have; the file itself
        // is flushed already.
        return error == ENOENT ? error : 0;
    }
    FlushFileBuffers(h);
    CloseHandle(h);
    return 0;
}

int sizeOfPath(const std::wstring& path, std::int64_t& out)
{
    out = 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        const int error = lastError();
        return error == ENOENT ? 0 : error;
    }
    out = std::int64_t((std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    return 0;
}

std::int64_t processId()
{
    return std::int64_t(GetCurrentProcessId());
}

bool processAlive(std::int64_t pid)
{
    if (pid <= 0 || pid > std::int64_t(MAXDWORD))
        return false;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED; // there, but another user's
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

void pause(int milliseconds)
{
    Sleep(DWORD(std::max(milliseconds, 0)));
}

} // namespace winfile

#endif
