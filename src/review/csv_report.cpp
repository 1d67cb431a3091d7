#include "report.h"
#include "review_text.h"

namespace review {
namespace {

class CsvReport final : public Report {
public:
    CsvReport(QIODevice& out, bool bom) : Report(out)
    {
        if (bom)
            buffer() += "\xEF\xBB\xBF";
        buffer() += "file,session,date,set,time,kind,question,line,text,seconds,computer,name\r\n";
    }

    void beginFile(const QString& path, bool) override { file_ = path.toUtf8(); }
    void endFile(const ReadTotals&) override {}
    void session(const Session&) override {}
    void skipped(const Skipped&) override {}

    void record(const Record& r) override
    {
        QByteArray& out = buffer();
        appendCsvField(out, file_);
        out += ',';
        if (r.session)
            out += QByteArray::number(r.session);
        for (const QByteArrayView field : {r.date, r.set, r.time}) {
            out += ',';
            appendCsvRecordField(out, field);
        }
        out += r.kind == Record::Kind::Note ? ",note," : ",response,";
        appendCsvRecordField(out, r.question);
        out += ',';
        appendCsvRecordField(out, r.line);
        out += ',';
        appendCsvRecordField(out, r.text);
        out += ',';
        if (r.seconds)
            out += QByteArray::number(*r.seconds);
        out += ',';
        appendCsvField(out, r.computer.toUtf8());
        out += ',';
        appendCsvField(out, r.name.toUtf8());
        out += "\r\n";
        flush();
    }

    bool finish() override { return flush(true); }

private:
    QByteArray file_;
};

} // namespace

std::unique_ptr<Report> makeCsvReport(QIODevice& out, bool bom)
{
    return std::make_unique<CsvReport>(out, bom);
}

} // namespace review
