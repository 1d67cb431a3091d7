#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "storage/plain_reason.h"
#include "storage/record_files.h"

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
    errno = 0;
    if (f->write(bytes) != bytes.size() || !f->flush()) {
        // The system's own reason in plain words where there is one; Qt's text otherwise.
        const int error = errno;
        return Failure{error != 0 ? plainReason(error, f->fileName()) : f->errorString()};
    }
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
