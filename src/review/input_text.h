#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>

// The bytes of a record file as the tutor wrote them. An editor may have saved the file
// again as UTF-8; such a file is turned back into the tutor's code page as it is read, so
// that the layouts match and the texts come out as they were typed.
namespace review {

// Utf8BeyondCodePage: valid UTF-8 with characters that Windows-1252 lacks, and no mark; read
// in the code page all the same (see detectEncoding).
enum class InputEncoding { CodePage, Utf8, Utf8WithBom, Utf8BeyondCodePage };

// From the device's position to its end, then back: UTF-8 when it starts with a byte-order
// mark, or when every byte is valid UTF-8, some are not ASCII, and every character is one
// the code page has (as in a file of the tutor's saved again by an editor). A file the tutor
// wrote is almost never valid UTF-8 at all, as each session header's code line holds
// random bytes above 0x75; that those bytes also spell only characters of the code page is
// past any chance, so such a file is never taken for UTF-8.
// The device must be able to seek.
InputEncoding detectEncoding(QIODevice& in, qsizetype chunk = qsizetype(1) << 20);

// Where the valid UTF-8 at the start of `bytes` ends: bytes.size() when all of it is valid,
// less when a sequence is cut off at the end (its lead byte's place) or is invalid
// (`invalid` set). `nonAscii` is set when a byte above 0x7F is met, `beyondCodePage` when a
// character is met that Windows-1252 does not have.
qsizetype validUtf8Prefix(QByteArrayView bytes, bool& invalid, bool& nonAscii, bool* beyondCodePage = nullptr);

// A read-only device that gives `source`'s bytes turned chunk by chunk; what is turned waits
// in `pending_` until it is read.
class TurningReader : public QIODevice {
public:
    bool isSequential() const override { return true; }

protected:
    TurningReader(QIODevice& source, qsizetype chunk) : source_(source), chunk_(chunk) {}
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }
    // Turns the next chunk read (empty at the end), appending to `pending_`.
    virtual void turn(const QByteArray& bytes, bool atEnd) = 0;

    QByteArray pending_;

private:
    QIODevice& source_;
    qsizetype chunk_ = 0;
    qsizetype head_ = 0;
    bool sourceDone_ = false;
    bool sourceFailed_ = false;
};

// Reads UTF-8 from `source`, gives the code page's bytes; a byte-order mark at the start is
// dropped, and a character the code page has no byte for becomes '?'.
class Utf8ToCodePage final : public TurningReader {
public:
    explicit Utf8ToCodePage(QIODevice& source, qsizetype chunk = qsizetype(1) << 20) : TurningReader(source, chunk) {}

    // Characters that had no byte, or bytes that were no UTF-8.
    qint64 replaced() const { return replaced_; }

protected:
    void turn(const QByteArray& bytes, bool atEnd) override;

private:
    void append(const QString& text);
    void replaceOne();

    QByteArray incoming_;
    bool started_ = false;
    qint64 replaced_ = 0;
};

// Line ends as the first `sample` bytes from the device's position show them (then back):
// CR LF as the tutor writes them, or changed on the way (an editor or a mail program): LF
// alone, or CR CR LF. Any CR LF in the sample keeps the file as it is.
enum class LineEnds { CrLf, Lf, CrCrLf, LfAndCrCrLf };
LineEnds detectLineEnds(QIODevice& in, qsizetype sample = qsizetype(1) << 20);

// Reads `source` with its line ends made CR LF again: an LF with no CR before it, and CR CR LF,
// become CR LF; every other byte passes as it is.
class LineEndsToCrLf final : public TurningReader {
public:
    explicit LineEndsToCrLf(QIODevice& source, qsizetype chunk = qsizetype(1) << 20) : TurningReader(source, chunk) {}

protected:
    void turn(const QByteArray& bytes, bool atEnd) override;

private:
    int carriageReturns_ = 0; // held back until the byte after them is known
};

} // namespace review
