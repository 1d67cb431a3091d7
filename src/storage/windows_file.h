#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The Windows file primitives of the record path, in plain C++ so that they build and are
// checked without Qt (windows_file.cpp, Windows only). Paths are wide strings as Windows
// takes them; every call returns 0 or an errno value mapped from the Windows error.
namespace winfile {

using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// The errno value for a Windows error code (GetLastError).
int errnoFromWindows(unsigned long code);

// Read-write, shared with other writers and readers, created when missing; `created` says
// whether this call made it. A folder gives EISDIR.
int openReadWrite(const std::wstring& path, Handle& out, bool& created);
// Read-write like openReadWrite, never created: ENOENT when missing.
int openExisting(const std::wstring& path, Handle& out);
// Create-new, atomic on the file server: EEXIST when the file is there already.
int createNew(const std::wstring& path, Handle& out);
void close(Handle handle);

// An exclusive lock far past any real end of file, so readers are never blocked; EWOULDBLOCK
// while another holder has it. Closing the handle releases it.
int tryLock(Handle handle);
int size(Handle handle, std::int64_t& out);
// The whole buffer, carried on when a write is cut short; `done` counts what reached the file.
int writeAt(Handle handle, std::int64_t offset, const char* data, std::size_t length, std::int64_t& done);
int flush(Handle handle);
// Up to `length` bytes; fewer at the end of the file.
int readAt(Handle handle, std::int64_t offset, std::int64_t length, std::string& out);
int truncateTo(Handle handle, std::int64_t size);

// In one step on the file server: EEXIST when anything is there already.
int makeFolder(const std::wstring& path);
// An empty folder only (ENOTEMPTY); one held open by another program is tried again for a moment.
int removeFolder(const std::wstring& path);
// A file held open by a reader that does not share deletion is tried again for a moment.
int removeFile(const std::wstring& path);
// Never over an existing file (EEXIST); a file held by a reader that does not share deletion is
// tried again for a moment.
int renameNoReplace(const std::wstring& from, const std::wstring& to);
// Best effort: a file system that cannot flush a folder counts as done.
int flushFolder(const std::wstring& folder);
// 0 bytes when the file does not exist.
int sizeOfPath(const std::wstring& path, std::int64_t& out);

std::int64_t processId();
bool processAlive(std::int64_t pid);
void pause(int milliseconds);

// Closes on every path; for callers without a class of their own.
class File {
public:
    File() = default;
    ~File() { close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    int openReadWrite(const std::wstring& path)
    {
        close();
        return winfile::openReadWrite(path, handle_, created_);
    }
    int createNew(const std::wstring& path)
    {
        close();
        const int error = winfile::createNew(path, handle_);
        created_ = error == 0;
        return error;
    }
    void close()
    {
        winfile::close(handle_);
        handle_ = kNoHandle;
    }
    bool isOpen() const { return handle_ != kNoHandle; }
    bool created() const { return created_; }
    Handle handle() const { return handle_; }

private:
    Handle handle_ = kNoHandle;
    bool created_ = false;
};

} // namespace winfile
