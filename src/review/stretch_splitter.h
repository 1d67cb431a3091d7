#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>

// Cuts a record file, as it streams in, at every place where a record or a session header
// begins. A torn or edited record then stays in its own stretch and never spoils the next.
// Only one stretch is held at a time (past kMaxHeld, even that is handed on in pieces).
namespace review {

struct Stretch {
    QByteArrayView bytes; // valid until the next call of next()
    qint64 offset = 0;    // of its first byte in the file
    bool whole = true;    // false: a piece of a stretch too long to hold; more may follow
};

class StretchSplitter {
public:
    static constexpr qsizetype kMaxHeld = qsizetype(64) << 20;

    explicit StretchSplitter(QIODevice& in, qsizetype chunk = qsizetype(1) << 20) : in_(in), chunk_(chunk) {}

    bool next(Stretch& out);
    bool readFailed() const { return readFailed_; }

private:
    struct Search {
        qsizetype found = -1;   // the next occurrence at or after `searched`, if any
        qsizetype searched = 0; // no occurrence before this that is still of interest
    };

    void fill();
    qsizetype nextStart(qsizetype from);
    qsizetype nextRecordStart(qsizetype from, qsizetype limit);
    qsizetype nextHeaderStart(qsizetype from, qsizetype limit);
    qsizetype find(Search& search, bool records, qsizetype from);
    Stretch take(qsizetype end);

    QIODevice& in_;
    qsizetype chunk_ = 0;
    QByteArray buffer_;
    qsizetype head_ = 0;
    qint64 offset_ = 0; // of buffer_[0] in the file
    bool atEnd_ = false;
    bool readFailed_ = false;
    bool inPieces_ = false;
    Search records_;
    Search anchors_;
};

} // namespace review
