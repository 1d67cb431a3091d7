#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>

#include "record_reader.h"

// A report on the record files, written as it is read: one file after another, each
// record as it comes, so that nothing but the record in hand is held.
namespace review {

class Report : public ReadSink {
public:
    explicit Report(QIODevice& out) : out_(&out) { buffer_.reserve(qsizetype(2) << 20); }
    ~Report() override = default;

    // `grouped`: the session index places the file's records, which may be interleaved;
    // a report that shows sessions gathers each one's records.
    virtual void beginFile(const QString& path, bool grouped) = 0;
    virtual void endFile(const ReadTotals& totals) = 0;
    // False when the output could not be written.
    virtual bool finish() = 0;

protected:
    QByteArray& buffer() { return buffer_; }
    // Hands the buffer on once it is large; `force` at the end.
    bool flush(bool force = false);
    // From now on into `out`; what is buffered goes to the device before.
    bool divert(QIODevice& out);
    // What went to the device now written, and is on its way to it.
    qint64 bytesOut() const { return handed_ + buffer_.size(); }

private:
    QIODevice* out_;
    QByteArray buffer_;
    qint64 handed_ = 0;
    bool failed_ = false;
};

// Further pages of an HTML report, so that a large class's report still opens in a browser:
// the first page holds the sessions up to `pageBytes`, then a list of the pages that hold the
// rest, each a page of about that size, sessions whole.
struct MorePages {
    qint64 pageBytes = qint64(8) << 20;
    // Page n (from 2), opened for writing; null when it cannot be (the report then fails).
    std::function<QIODevice*(int page)> open;
    QString hrefOf(int page) const { return folder + QStringLiteral("/page-%1.html").arg(page); }
    QString folder;    // as the first page links to it
    QString firstPage; // as the further pages link back to it
};

// `bom`: a UTF-8 byte-order mark first, so that a spreadsheet opening the file by itself
// takes it for UTF-8.
std::unique_ptr<Report> makeCsvReport(QIODevice& out, bool bom = false);
// One row per student (name and computer) and set, written at the end; `note` is told of a
// name on several computers and a computer with several names.
std::unique_ptr<Report> makeGradebook(QIODevice& out, bool bom, std::function<void(const QString&)> note);
// `more`: where pages after the first go; none, and the report is one page.
std::unique_ptr<Report> makeHtmlReport(QIODevice& out, const MorePages* more = nullptr);

} // namespace review
