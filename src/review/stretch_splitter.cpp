#include "stretch_splitter.h"

#include "record_parser.h"

#include <algorithm>

namespace review {
namespace {

// A start found this close to the end of what has been read may still turn out to be
// none (its time not read yet), so starts are only taken before it until the file ends.
constexpr qsizetype kLookahead = 256;

} // namespace

bool StretchSplitter::next(Stretch& out)
{
    for (;;) {
        const qsizetype start = nextStart(inPieces_ ? head_ : head_ + 1);
        if (start == head_) {
            inPieces_ = false;
            continue;
        }
        if (start > head_) {
            out = take(start);
            return true;
        }
        if (atEnd_) {
            if (head_ >= buffer_.size())
                return false;
            out = take(buffer_.size());
            return true;
        }
        if (buffer_.size() - head_ > kMaxHeld) {
            out = take(buffer_.size() - kLookahead);
            out.whole = false;
            inPieces_ = true;
            return true;
        }
        fill();
    }
}

Stretch StretchSplitter::take(qsizetype end)
{
    Stretch s{QByteArrayView(buffer_).sliced(head_, end - head_), offset_ + head_, !inPieces_};
    head_ = end;
    inPieces_ = false;
    return s;
}

void StretchSplitter::fill()
{
    if (head_ > 0) {
        buffer_.remove(0, head_);
        offset_ += head_;
        for (Search* s : {&records_, &anchors_}) {
            s->found = s->found >= head_ ? s->found - head_ : -1;
            s->searched = std::max<qsizetype>(0, s->searched - head_);
        }
        head_ = 0;
    }
    const qsizetype old = buffer_.size();
    buffer_.resize(old + chunk_);
    qint64 n = in_.read(buffer_.data() + old, chunk_);
    if (n <= 0) {
        atEnd_ = true;
        readFailed_ = n < 0;
        n = 0;
    }
    buffer_.resize(old + qsizetype(n));
}

qsizetype StretchSplitter::nextStart(qsizetype from)
{
    const qsizetype limit = atEnd_ ? buffer_.size() : buffer_.size() - kLookahead;
    const qsizetype record = nextRecordStart(from, limit);
    const qsizetype header = nextHeaderStart(from, limit);
    if (record < 0 || header < 0)
        return std::max(record, header);
    return std::min(record, header);
}

qsizetype StretchSplitter::find(Search& search, QByteArrayView pattern, qsizetype from)
{
    if (search.found >= from)
        return search.found;
    const qsizetype begin = std::max(from, search.searched);
    const qsizetype at = buffer_.indexOf(pattern, begin);
    search.found = at;
    search.searched = at >= 0 ? at : std::max(begin, buffer_.size() - pattern.size() + 1);
    return at;
}

qsizetype StretchSplitter::nextRecordStart(qsizetype from, qsizetype limit)
{
    const QByteArrayView pattern = recordStartPattern();
    for (;;) {
        const qsizetype at = find(records_, pattern, from);
        if (at < 0 || at >= limit)
            return -1;
        const qsizetype time = at + pattern.size();
        if (isTimeAt(buffer_, time) && QByteArrayView(buffer_).sliced(time + 8).startsWith("\r\n"))
            return at;
        from = at + 1;
    }
}

qsizetype StretchSplitter::nextHeaderStart(qsizetype from, qsizetype limit)
{
    for (qsizetype searchFrom = from;;) {
        const qsizetype anchor = find(anchors_, headerAnchor(), searchFrom);
        if (anchor < 0)
            return -1;
        const qsizetype start = codeLineStart(buffer_, anchor);
        if (start >= from)
            return start < limit ? start : -1;
        searchFrom = anchor + 1;
    }
}

} // namespace review
