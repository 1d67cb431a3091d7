#ifdef _WIN32

#include "record_io.h"

#include <string>

#include "windows_file.h"

// The Qt types of the record path handed to the plain Windows layer, which is built and
// checked on its own under Wine (make check-windows).
namespace recordio {
namespace {

std::wstring wide(const QString& path)
{
    return path.toStdWString();
}

} // namespace

void File::opened(std::intptr_t handle, bool created, const QByteArray&)
{
    handle_ = handle;
    created_ = created;
    remote_ = true;
}

void File::close()
{
    winfile::close(handle_);
    handle_ = -1;
}

int File::closeChecked()
{
    // Windows reports an undelivered write at the flush, which is checked.
    close();
    return 0;
}

int File::openReadWrite(const QString& path)
{
    close();
    winfile::Handle h = winfile::kNoHandle;
    bool created = false;
    if (const int error = winfile::openReadWrite(wide(path), h, created))
        return error;
    opened(h, created, {});
    return 0;
}

int File::openExisting(const QString& path)
{
    close();
    winfile::Handle h = winfile::kNoHandle;
    if (const int error = winfile::openExisting(wide(path), h))
        return error;
    opened(h, false, {});
    return 0;
}

int File::createNew(const QString& path)
{
    close();
    winfile::Handle h = winfile::kNoHandle;
    if (const int error = winfile::createNew(wide(path), h))
        return error;
    opened(h, true, {});
    return 0;
}

int File::tryLock()
{
    return winfile::tryLock(handle_);
}

int File::size(qint64& out)
{
    std::int64_t value = 0;
    const int error = winfile::size(handle_, value);
    out = value;
    return error;
}

int File::writeAt(qint64 offset, const QByteArray& bytes, qint64& done)
{
    std::int64_t written = 0;
    const int error = winfile::writeAt(handle_, offset, bytes.constData(), std::size_t(bytes.size()), written);
    done = written;
    return error;
}

int File::flush()
{
    return winfile::flush(handle_);
}

int File::readAt(qint64 offset, qint64 length, QByteArray& out)
{
    std::string bytes;
    const int error = winfile::readAt(handle_, offset, length, bytes);
    out = error == 0 ? QByteArray(bytes.data(), qsizetype(bytes.size())) : QByteArray();
    return error;
}

int File::truncateTo(qint64 size)
{
    return winfile::truncateTo(handle_, size);
}

bool createMayCut(const QString&)
{
    return false; // Windows' own open-or-create is one step on the file server
}

bool locksStayHere(const QString&)
{
    return false; // an SMB redirector takes its locks on the file server
}

bool onNetwork(const QString&)
{
    return true; // as every file opened here is taken for one on a file server
}

int flushFolder(const QString& folder)
{
    return winfile::flushFolder(wide(folder));
}

int makeFolder(const QString& path)
{
    return winfile::makeFolder(wide(path));
}

int removeFolder(const QString& path)
{
    return winfile::removeFolder(wide(path));
}

int removeFile(const QString& path)
{
    return winfile::removeFile(wide(path));
}

int renameFile(const QString& from, const QString& to)
{
    return winfile::renameNoReplace(wide(from), wide(to));
}

int renameNoReplace(const QString& from, const QString& to)
{
    return winfile::renameNoReplace(wide(from), wide(to));
}

int sizeOfPath(const QString& path, qint64& out)
{
    std::int64_t value = 0;
    const int error = winfile::sizeOfPath(wide(path), value);
    out = value;
    return error;
}

qint64 processId()
{
    return winfile::processId();
}

bool processAlive(qint64 pid)
{
    return winfile::processAlive(pid);
}

// Windows has no signal for a file past its size limit: the write itself fails.
void ignoreFileSizeSignal() {}

void pause(int milliseconds)
{
    winfile::pause(milliseconds);
}

} // namespace recordio

#endif
