#include "input_text.h"

#include <QString>

#include <algorithm>
#include <cstring>

#include "platform/code_page.h"
#include "review/review_text.h"

namespace review {
namespace {

const QByteArrayView kByteOrderMark("\xEF\xBB\xBF");

struct Lead {
    int length = 0; // 0: no lead byte
    uchar low = 0x80;
    uchar high = 0xBF; // bounds of the byte after it: no overlong forms, no surrogates, nothing past U+10FFFF
};

Lead leadOf(uchar c)
{
    if (c >= 0xC2 && c <= 0xDF)
        return {2};
    if (c == 0xE0)
        return {3, 0xA0};
    if (c == 0xED)
        return {3, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF)
        return {3};
    if (c == 0xF0)
        return {4, 0x90};
    if (c >= 0xF1 && c <= 0xF3)
        return {4};
    if (c == 0xF4)
        return {4, 0x80, 0x8F};
    return {};
}

} // namespace

qsizetype validUtf8Prefix(QByteArrayView bytes, bool& invalid, bool& nonAscii, bool* beyondCodePage)
{
    const char* p = bytes.data();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        i += asciiRun(p + i, n - i);
        if (i == n)
            break;
        nonAscii = true;
        const Lead lead = leadOf(uchar(p[i]));
        if (!lead.length) {
            invalid = true;
            return i;
        }
        char32_t point = uchar(p[i]) & (0xFF >> (lead.length + 1));
        for (int k = 1; k < lead.length; ++k) {
            if (i + k == n)
                return i;
            const uchar c = uchar(p[i + k]);
            if (c < (k == 1 ? lead.low : 0x80) || c > (k == 1 ? lead.high : 0xBF)) {
                invalid = true;
                return i;
            }
            point = (point << 6) | (c & 0x3F);
        }
        if (beyondCodePage && (point > 0xFFFF || codepage::byteOf(QChar(char16_t(point))) < 0))
            *beyondCodePage = true;
        i += lead.length;
    }
    return n;
}

InputEncoding detectEncoding(QIODevice& in, qsizetype chunk)
{
    const qint64 start = in.pos();
    QByteArray buffer = in.read(kByteOrderMark.size());
    InputEncoding found = buffer == kByteOrderMark ? InputEncoding::Utf8WithBom : InputEncoding::CodePage;
    bool nonAscii = false;
    bool invalid = false;
    bool beyond = false;
    // A file the tutor wrote shows it is no UTF-8 in its first line, so the first reads are small.
    qsizetype step = std::min<qsizetype>(chunk, 4096);
    while (found == InputEncoding::CodePage && !invalid) {
        const qsizetype valid = validUtf8Prefix(buffer, invalid, nonAscii, &beyond);
        buffer.remove(0, valid);
        const QByteArray more = in.read(step);
        step = std::min(chunk, step * 2);
        // A sequence cut off by the end of the file is no UTF-8 either.
        if (more.isEmpty() && !invalid) {
            if (buffer.isEmpty() && nonAscii)
                found = beyond ? InputEncoding::Utf8BeyondCodePage : InputEncoding::Utf8;
            break;
        }
        buffer += more;
    }
    in.seek(start);
    return found;
}

qint64 TurningReader::readData(char* data, qint64 maxSize)
{
    while (pending_.size() - head_ < maxSize && !sourceDone_) {
        if (head_ > 0) {
            pending_.remove(0, head_);
            head_ = 0;
        }
        const QByteArray bytes = source_.read(chunk_);
        sourceDone_ = bytes.isEmpty();
        sourceFailed_ = sourceDone_ && !source_.atEnd();
        turn(bytes, sourceDone_);
    }
    const qint64 n = std::min<qint64>(maxSize, pending_.size() - head_);
    if (n == 0 && sourceFailed_) {
        setErrorString(source_.errorString());
        return -1;
    }
    std::memcpy(data, pending_.constData() + head_, size_t(n));
    head_ += qsizetype(n);
    return n;
}

void Utf8ToCodePage::replaceOne()
{
    pending_ += '?';
    ++replaced_;
}

void Utf8ToCodePage::append(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int byte = codepage::byteOf(text[i]);
        if (byte >= 0) {
            pending_ += char(byte);
            continue;
        }
        replaceOne();
        // One '?' for a character beyond the first plane, not one for each half of it.
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
}

// At the end, a sequence cut off is replaced too.
void Utf8ToCodePage::turn(const QByteArray& bytes, bool atEnd)
{
    incoming_ += bytes;
    if (!started_ && (incoming_.size() >= kByteOrderMark.size() || atEnd)) {
        started_ = true;
        if (incoming_.startsWith(kByteOrderMark))
            incoming_.remove(0, kByteOrderMark.size());
    }
    if (!started_)
        return;
    qsizetype from = 0;
    while (from < incoming_.size()) {
        const QByteArrayView rest = QByteArrayView(incoming_).sliced(from);
        bool invalid = false;
        bool nonAscii = false;
        const qsizetype valid = validUtf8Prefix(rest, invalid, nonAscii);
        append(QString::fromUtf8(rest.first(valid)));
        from += valid;
        if (invalid) {
            replaceOne();
            ++from;
        } else if (from < incoming_.size()) {
            if (!atEnd)
                break;
            replaceOne();
            from = incoming_.size();
        }
    }
    incoming_.remove(0, from);
}

LineEnds detectLineEnds(QIODevice& in, qsizetype sample)
{
    const qint64 start = in.pos();
    const QByteArray bytes = in.read(sample);
    in.seek(start);
    qint64 crLf = 0;
    qint64 lf = 0;
    qint64 crCrLf = 0;
    for (qsizetype at = bytes.indexOf('\n'); at >= 0; at = bytes.indexOf('\n', at + 1)) {
        if (at == 0 || bytes[at - 1] != '\r')
            ++lf;
        else if (at >= 2 && bytes[at - 2] == '\r')
            ++crCrLf;
        else
            ++crLf;
    }
    if (crLf || (!lf && !crCrLf))
        return LineEnds::CrLf;
    if (lf && crCrLf)
        return LineEnds::LfAndCrCrLf;
    return lf ? LineEnds::Lf : LineEnds::CrCrLf;
}

void LineEndsToCrLf::turn(const QByteArray& bytes, bool atEnd)
{
    for (const char c : bytes) {
        if (c == '\r') {
            ++carriageReturns_;
            continue;
        }
        if (c == '\n') {
            // CR CR LF is one line end, as is LF alone; a third CR is the text's own.
            pending_.append(std::max(carriageReturns_ - 2, 0), '\r');
            pending_ += "\r\n";
        } else {
            pending_.append(carriageReturns_, '\r');
            pending_ += c;
        }
        carriageReturns_ = 0;
    }
    if (atEnd) {
        pending_.append(carriageReturns_, '\r');
        carriageReturns_ = 0;
    }
}

} // namespace review
