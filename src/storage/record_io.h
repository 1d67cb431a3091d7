#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The few native file operations the record path needs, one implementation per system
// (record_io_posix.cpp, record_io_windows.cpp). Each returns 0 or an errno value.
namespace recordio {

// An open file; closing it releases its operating-system lock.
class File {
public:
    File() = default;
    ~File() { close(); }
    File(File&& other) noexcept
        : handle_(other.handle_), created_(other.created_), remote_(other.remote_), sizeFromOpen_(other.sizeFromOpen_)
    {
        other.handle_ = -1;
    }
    File& operator=(File&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            created_ = other.created_;
            remote_ = other.remote_;
            sizeFromOpen_ = other.sizeFromOpen_;
            other.handle_ = -1;
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool isOpen() const { return handle_ != -1; }
    bool created() const { return created_; }
    // Made by another open of this process a moment ago.
    void markCreated() { created_ = true; }
    // On a network or user-space file system: a failed call there may still have arrived.
    bool remote() const { return remote_; }
    // Its client answers a file's size from what it learnt when the file was opened (sshfs, and
    // user-space clients not known to ask the file server): a size taken under the locks needs
    // an open made under them.
    bool sizeFromOpen() const { return sizeFromOpen_; }
    void close();
    // Closed, with what the close said: a network client may report there a write it could
    // not deliver.
    int closeChecked();

    // Read-write, created when missing; clients that only emulate append need read access.
    int openReadWrite(const QString& path);
    // Read-write, never created: ENOENT when missing. Through some clients a create asks the
    // file server to make the file or cut it to nothing, so a file that may exist is opened so.
    int openExisting(const QString& path);
    // Create-new, atomic on the file server: EEXIST when the file is there already.
    int createNew(const QString& path);
    // EWOULDBLOCK while another holder has it.
    int tryLock();
    // The size as the file server has it now, not as a client cache remembers it.
    int size(qint64& out);
    int writeAt(qint64 offset, const QByteArray& bytes, qint64& done);
    int flush();
    // From the file server where the client allows it, not from a cached copy.
    int readAt(qint64 offset, qint64 length, QByteArray& out);
    int truncateTo(qint64 size);

private:
    void opened(std::intptr_t handle, bool created, const QByteArray& path);

    std::intptr_t handle_ = -1;
    bool created_ = false;
    bool remote_ = false; // on a network or user-space file system, whose client may cache
    bool sizeFromOpen_ = false;
};

int flushFolder(const QString& folder);
// Whether a create through the client of `folder` may cut to nothing a file that another computer
// made a moment before (smbnetfs: a look, then "make it or cut it"); learnt once per folder.
bool createMayCut(const QString& folder);
// Whether an operating-system lock taken on a file in `folder` binds only this computer's
// programs (sshfs: the kernel keeps it, the file server never hears of it); learnt once per folder.
bool locksStayHere(const QString& folder);
// Whether `folder` lies on a network or user-space file system; learnt once per folder.
bool onNetwork(const QString& folder);
// Made in one step on the file server, also by clients whose create-new is a look followed by a
// create: EEXIST when anything is there already.
int makeFolder(const QString& path);
// An empty folder only: ENOTEMPTY otherwise, ENOTDIR for a file.
int removeFolder(const QString& path);
int removeFile(const QString& path);
// Moves whatever lies at `from` at this moment, in one step on the file server.
int renameFile(const QString& from, const QString& to);
// Never replaces a file at `to` (EEXIST). Where the file system has no such rename and no hard
// links, it looks first, so a file made in that very moment could be replaced.
int renameNoReplace(const QString& from, const QString& to);
// Fresh from the file server; 0 when the file does not exist.
int sizeOfPath(const QString& path, qint64& out);
qint64 processId();
bool processAlive(qint64 pid);
// Past a size limit a write must fail with EFBIG instead of ending the process.
void ignoreFileSizeSignal();
void pause(int milliseconds);

} // namespace recordio
