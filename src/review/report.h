#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <memory>

#include "record_reader.h"

// A report on the record files, written as it is read: one file after another, each
// record as it comes, so that nothing but the record in hand is held.
namespace review {

class Report : public ReadSink {
public:
    explicit Report(QIODevice& out) : out_(out) { buffer_.reserve(qsizetype(2) << 20); }
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

private:
    QIODevice& out_;
    QByteArray buffer_;
    bool failed_ = false;
};

std::unique_ptr<Report> makeCsvReport(QIODevice& out);
std::unique_ptr<Report> makeHtmlReport(QIODevice& out);

} // namespace review
