#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QString>

#include <optional>

#include "storage/session_index.h"

// Sessions and records read back from one record file, as bytes in the files' code page.
namespace review {

struct Session {
    int number = 0; // from 1 in its file
    QByteArray date;
    QByteArray set;
    QByteArray headerLine;
    qint64 line = 0;
    // From the session index, where it names this header.
    QByteArray id;
    QString computer;
    QString name;
    // How it ended, where the index says so (a tutor that was killed says nothing).
    std::optional<sessionindex::EndEntry> end;
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
    qint64 offset = 0; // of its first byte in the file, and how many it takes
    qint64 length = 0;
    // From the session index, where it names this record; otherwise empty, and the record
    // belongs to the session header before it.
    QByteArray sessionId;
    QString computer;
    QString name;
};

struct Skipped {
    qint64 line = 0;
    qint64 bytes = 0;
    QString reason;
};

// An index entry that does not point at a whole record or session header of the file.
struct IndexMismatch {
    qint64 indexLine = 0;
    QString reason;
};

class ReadSink {
public:
    virtual ~ReadSink() = default;
    virtual void session(const Session& s) = 0;
    virtual void record(const Record& r) = 0;
    virtual void skipped(const Skipped& s) = 0;
    virtual void indexMismatch(const IndexMismatch&) {}
};

// What the session index says of one record file: its entries for that file, and the
// sessions they name.
struct FileIndex {
    QList<sessionindex::PlaceEntry> places;
    QList<qint64> placeLines;
    QHash<QByteArray, sessionindex::SessionEntry> sessions;
    QHash<QByteArray, sessionindex::EndEntry> ends; // by session id

    bool isEmpty() const { return places.isEmpty(); }
};

struct ReadTotals {
    int sessions = 0;
    int records = 0;
    int skipped = 0;
    qint64 bytes = 0;
    bool readFailed = false;
    int placedByIndex = 0;
    // Records the index does not place, in a file with several sessions of one day: they go
    // to the session header before them, which is wrong where sessions were interleaved.
    int placedByOrderOnly = 0;
    int indexMismatches = 0;
};

// `chunk`: how much is read at a time. `index`: the session index's entries for this file,
// offsets counted in the bytes `in` gives.
ReadTotals readRecords(QIODevice& in, ReadSink& sink, qsizetype chunk = qsizetype(1) << 20,
                       const FileIndex* index = nullptr);

} // namespace review
