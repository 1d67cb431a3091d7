#include "file_follower.h"

#include <QFile>

namespace review {

FileFollower::Look FileFollower::look(qint64 limit)
{
    Look look;
    QFile file(path_);
    if (!file.exists()) {
        look.state = Look::State::Missing;
        return look;
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        look.state = Look::State::Unreadable;
        look.problem = file.errorString();
        return look;
    }
    const qint64 size = file.size();
    bool restarted = size < position_;
    if (!restarted && size > position_ && !head_.isEmpty()) {
        // Only when it grew: a file that stays as it was costs no read.
        const QByteArray head = file.read(head_.size());
        bytesRead_ += head.size();
        restarted = head != head_;
    }
    if (restarted) {
        position_ = 0;
        head_.clear();
    }
    look.state = restarted ? Look::State::Restarted : Look::State::Same;
    look.offset = position_;
    if (size > position_) {
        if (!file.seek(position_)) {
            look.state = Look::State::Unreadable;
            look.problem = file.errorString();
            return look;
        }
        look.bytes = file.read(std::min(limit, size - position_));
        if (look.bytes.isEmpty() && file.error() != QFileDevice::NoError) {
            look.state = Look::State::Unreadable;
            look.problem = file.errorString();
            return look;
        }
        bytesRead_ += look.bytes.size();
        if (head_.size() < kHeadSize && position_ < kHeadSize)
            head_ = (head_ + look.bytes).left(kHeadSize);
        position_ += look.bytes.size();
        if (!restarted && !look.bytes.isEmpty())
            look.state = Look::State::Grew;
    }
    return look;
}

} // namespace review
