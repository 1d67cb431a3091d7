#include "stretch_splitter.h"

#include "record_parser.h"

#include <algorithm>
#include <cstring>

namespace review {
namespace {

// A start found this close to the end of what has been read may still turn out to be
// none (its time not read yet), so starts are only taken before it until the file ends.
constexpr qsizetype kLookahead = 256;

// The record start is looked for by its first line (the rule and its line end), each needle
// by a byte that texts seldom hold: the rule's '!' and the anchor's '#'. Scanning for one
// byte runs at memory speed; only where it occurs is the whole needle compared.
QByteArrayView recordStartNeedle()
{
    const QByteArrayView pattern = recordStartPattern();
    return pattern.first(pattern.indexOf('\n') + 1);
}

// The first '!', so that a rule is met at its own start and not seven times out of step.
qsizetype rareByteAt(QByteArrayView needle)
{
    const qsizetype bang = needle.indexOf('!');
    return bang >= 0 ? bang : std::max<qsizetype>(0, needle.lastIndexOf('#'));
}

qsizetype findNeedle(QByteArrayView haystack, QByteArrayView needle, qsizetype rareAt, qsizetype from)
{
    const char rare = needle[rareAt];
    for (qsizetype at = from + rareAt; at < haystack.size();) {
        const void* hit = std::memchr(haystack.data() + at, rare, size_t(haystack.size() - at));
        if (!hit)
            return -1;
        const qsizetype candidate = static_cast<const char*>(hit) - haystack.data() - rareAt;
        if (haystack.sliced(candidate).startsWith(needle))
            return candidate;
        at = candidate + rareAt + 1;
    }
    return -1;
}

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

qsizetype StretchSplitter::find(Search& search, bool records, qsizetype from)
{
    if (search.found >= from)
        return search.found;
    static const qsizetype recordRareAt = rareByteAt(recordStartNeedle());
    static const qsizetype anchorRareAt = rareByteAt(headerAnchor());
    const QByteArrayView pattern = records ? recordStartNeedle() : headerAnchor();
    const qsizetype begin = std::max(from, search.searched);
    const qsizetype at =
        findNeedle(buffer_, pattern, records ? recordRareAt : anchorRareAt, std::min(begin, buffer_.size()));
    search.found = at;
    search.searched = at >= 0 ? at : std::max(begin, buffer_.size() - pattern.size() + 1);
    return at;
}

qsizetype StretchSplitter::nextRecordStart(qsizetype from, qsizetype limit)
{
    const QByteArrayView pattern = recordStartPattern();
    for (;;) {
        const qsizetype at = find(records_, true, from);
        if (at < 0 || at >= limit)
            return -1;
        const qsizetype time = at + pattern.size();
        if (QByteArrayView(buffer_).sliced(at).startsWith(pattern) && hasTimeShapeAt(buffer_, time) &&
            QByteArrayView(buffer_).sliced(time + 8).startsWith("\r\n"))
            return at;
        // The needle cannot overlap itself (it starts with a '.' and ends with a line end).
        from = at + recordStartNeedle().size();
    }
}

qsizetype StretchSplitter::nextHeaderStart(qsizetype from, qsizetype limit)
{
    for (qsizetype searchFrom = from;;) {
        const qsizetype anchor = find(anchors_, false, searchFrom);
        if (anchor < 0)
            return -1;
        const qsizetype start = codeLineStart(buffer_, anchor);
        if (start >= from)
            return start < limit ? start : -1;
        searchFrom = anchor + 1;
    }
}

} // namespace review
