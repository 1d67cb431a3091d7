#pragma once

#include <QByteArray>
#include <QString>

// Follows one file that others append to, reading only what was added since the last look.
// It only reads: no lock is taken, and a read-only mount serves. A file cut short or replaced
// by hand (its first bytes differ) is read again from its start.
namespace review {

class FileFollower {
public:
    static constexpr qsizetype kHeadSize = 64;

    explicit FileFollower(QString path) : path_(std::move(path)) {}

    struct Look {
        enum class State { Same, Grew, Restarted, Missing, Unreadable };
        State state = State::Same;
        QByteArray bytes;  // appended since the last look (from the start after a restart)
        qint64 offset = 0; // of the first of them in the file
        QString problem;   // why it cannot be read
    };

    // At most `limit` bytes a look; more are left for the next one.
    Look look(qint64 limit = qint64(4) << 20);

    const QString& path() const { return path_; }
    qint64 position() const { return position_; }
    qint64 bytesRead() const { return bytesRead_; }

private:
    QString path_;
    qint64 position_ = 0;
    QByteArray head_; // the file's first bytes, to tell it from one put in its place
    qint64 bytesRead_ = 0;
};

} // namespace review
