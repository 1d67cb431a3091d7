#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>

// The bytes of a record file as the tutor wrote them. An editor may have saved the file
// again as UTF-8; such a file is turned back into the tutor's code page as it is read, so
// that the layouts match and the texts come out as they were typed.
namespace review {

enum class InputEncoding { CodePage, Utf8, Utf8WithBom };

// From the device's position to its end, then back: UTF-8 when it starts with a byte-order
// mark, or when every byte is valid UTF-8 and some are not ASCII. A file the tutor wrote is
// not: each session header's code line holds bytes that UTF-8 does not allow there.
// The device must be able to seek.
InputEncoding detectEncoding(QIODevice& in, qsizetype chunk = qsizetype(1) << 20);

// Where the valid UTF-8 at the start of `bytes` ends: bytes.size() when all of it is valid,
// less when a sequence is cut off at the end (its lead byte's place) or is invalid
// (`invalid` set). `nonAscii` is set when a byte above 0x7F is met.
qsizetype validUtf8Prefix(QByteArrayView bytes, bool& invalid, bool& nonAscii);

// Reads UTF-8 from `source`, gives the code page's bytes; a byte-order mark at the start is
// dropped, and a character the code page has no byte for becomes '?'.
class Utf8ToCodePage final : public QIODevice {
public:
    explicit Utf8ToCodePage(QIODevice& source, qsizetype chunk = qsizetype(1) << 20);

    bool isSequential() const override { return true; }
    // Characters that had no byte, or bytes that were no UTF-8.
    qint64 replaced() const { return replaced_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    void append(const QString& text);
    void replaceOne();
    // Turns what has come in so far; at the end, a sequence cut off is replaced too.
    void convert(bool atEnd);

    QIODevice& source_;
    qsizetype chunk_ = 0;
    QByteArray incoming_;
    QByteArray pending_;
    qsizetype head_ = 0;
    bool started_ = false;
    bool sourceDone_ = false;
    bool sourceFailed_ = false;
    qint64 replaced_ = 0;
};

} // namespace review
