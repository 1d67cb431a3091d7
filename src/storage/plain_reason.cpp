#include "plain_reason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

const QString kNoAnswer =
    QStringLiteral("the network folder does not answer (the connection to its file server is lost)");

// A network folder whose file server is out of reach: the link is down, the server
// restarted, or the connection was dropped and not made again.
bool outOfReach(int error)
{
    switch (error) {
    case ENOTCONN:
    case ECONNABORTED:
    case ECONNRESET:
    case ETIMEDOUT:
    case EHOSTUNREACH:
#ifdef EHOSTDOWN
    case EHOSTDOWN:
#endif
    case ENETUNREACH:
    case ENETDOWN:
#ifdef ESTALE
    case ESTALE:
#endif
        return true;
    default:
        return false;
    }
}

// Why `folder` cannot be looked at; 0 when it is there. A network drive whose connection is
// gone (a mount whose client ended) shows its files as missing to an open, but answers a look
// at the folder with why.
int folderError(const QString& folder)
{
#ifdef _WIN32
    return QFileInfo(folder).isDir() ? 0 : ENOENT;
#else
    struct stat there {};
    return ::stat(QFile::encodeName(folder).constData(), &there) == 0 ? 0 : errno;
#endif
}

} // namespace

QString plainReason(int error, const QString& path)
{
    switch (error) {
    case ENOENT: {
        const QFileInfo info(path);
        const int folder = folderError(info.absolutePath());
        if (outOfReach(folder))
            return kNoAnswer;
        if (folder != 0)
            return QStringLiteral("the folder %1 does not exist").arg(QDir::toNativeSeparators(info.absolutePath()));
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
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
        // Windows refuses to open a file that another program holds without sharing it;
        // its C library has no words for this number.
        return QStringLiteral("another program has the file open and lets nobody write to it (close it there)");
#endif
    default:
        if (outOfReach(error))
            return kNoAnswer;
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString writeReason(int error, bool remote, const QString& path)
{
    if (remote && (error == EIO || error == EPERM || error == EACCES))
        return QStringLiteral("the file server did not take the write: its disk may be full, or the connection "
                              "to it was lost on the way");
    return plainReason(error, path);
}
