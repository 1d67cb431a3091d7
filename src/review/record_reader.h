#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <optional>

// Sessions and records read back from one record file, as bytes in the files' code page.
namespace review {

struct Session {
    int number = 0; // from 1 in its file
    QByteArray date;
    QByteArray set;
    QByteArray headerLine;
    qint64 line = 0;
};

// Its texts are views into what is being read: valid while the sink handles the record.
struct Record {
    enum class Kind { Response, Note };
    Kind kind = Kind::Response;
    int session = 0;     // 0: before any session header (a notes file has none)
    QByteArrayView date; // the session's date, or a note's own outside a session
    QByteArrayView set;
    QByteArrayView time;
    QByteArrayView question;    // as the master file writes it; empty elsewhere
    QByteArrayView line;        // the line that was shown
    QByteArrayView text;        // the student's text; a note's without its marker
    std::optional<int> seconds; // since the record before it in the same session
    qint64 lineNumber = 0;
};

struct Skipped {
    qint64 line = 0;
    qint64 bytes = 0;
    QString reason;
};

class ReadSink {
public:
    virtual ~ReadSink() = default;
    virtual void session(const Session& s) = 0;
    virtual void record(const Record& r) = 0;
    virtual void skipped(const Skipped& s) = 0;
};

struct ReadTotals {
    int sessions = 0;
    int records = 0;
    int skipped = 0;
    qint64 bytes = 0;
    bool readFailed = false;
};

// `chunk`: how much is read at a time.
ReadTotals readRecords(QIODevice& in, ReadSink& sink, qsizetype chunk = qsizetype(1) << 20);

} // namespace review
