#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <random>

// Answers that carry their own identity, and a checker that finds them again in the
// record files. The stress and crash tools type such answers into the real window; the
// checker then shows that each record arrived once, whole, contiguous and in order.
namespace recordcheck {

enum class FileKind { Master, Send, Notes };
enum class RecordKind { Response, Note };

struct Identity {
    int writer = -1;
    int run = -1;
    int seq = -1;

    friend bool operator==(const Identity&, const Identity&) = default;
    friend auto operator<=>(const Identity&, const Identity&) = default;
};

inline size_t qHash(const Identity& id, size_t seed = 0)
{
    return qHashMulti(seed, id.writer, id.run, id.seq);
}

// The first line of every stress answer: who wrote it and what the rest must be.
struct Stamp {
    Identity id;
    RecordKind kind = RecordKind::Response;
    int classNotes = 0;     // the master file's question number is classNotes x 10000
    qsizetype bodySize = 0; // bytes after the stamp line and its line end
    quint32 bodyCrc = 0;
    quint32 lineCrc = 0; // the line shown when the record was made, as the files hold it

    friend bool operator==(const Stamp&, const Stamp&) = default;
};

quint32 crc32(const QByteArray& bytes);

QString stampLine(const Stamp& stamp);
std::optional<Stamp> parseStampLine(const QByteArray& line);

// A body of exactly `size` characters of varied lines (CR LF between them), all of them
// in the record files' code page; never a rule, never an '@', '#', '.' or '!'.
QString makeBody(std::mt19937_64& random, qsizetype size);
// From a few characters to 64 KB of answer, mostly small.
qsizetype pickBodySize(std::mt19937_64& random);
// The stamp line, then the body on the lines after it (the stamp alone for an empty body).
QString answerText(const Stamp& stamp, const QString& body);

// What a writer logs once the program has said that a record or a session header is written.
QByteArray reportLine(const Stamp& stamp);
QByteArray headerReportLine(int writer, int run);

struct WriterLog {
    QList<Stamp> records;
    QSet<QPair<int, int>> headers; // (writer, run)
};
// Only whole lines count: a line cut short by a kill was never reported.
void parseLog(const QByteArray& log, WriterLog& into);

// One stretch of a record file between two places where a record or a header begins.
struct Item {
    enum class Type { Header, Record, Damaged };
    Type type = Type::Damaged;
    qsizetype offset = 0;
    qsizetype size = 0;
    RecordKind kind = RecordKind::Response;
    std::optional<Stamp> stamp; // a record's stamp; for damage, the one stamp found inside
    int stampsInside = 0;       // more than one: records interleaved
    QString problem;
};

// Splits a file at every record start (the opening rule, then the time line) and every
// session header, and parses each stretch as one whole item. A torn record stays in its
// own stretch, so the record after it is read as if the tear were not there.
QList<Item> parseFile(const QByteArray& bytes, FileKind kind);

// What the writers reported, and which records may be missing or torn because their
// writer was killed while it wrote them.
struct Expectation {
    QList<Stamp> reported;
    QSet<Identity> inFlight;
    int headersReported = 0;
    int runsStarted = 0;
    int kills = 0;
};
Expectation expectationFromLogs(const WriterLog& logs, const QSet<QPair<int, int>>& killedRuns, int runsStarted);

struct FileFigures {
    int records = 0;        // whole records found
    int headers = 0;        // whole session headers found
    int lost = 0;           // reported records missing
    int duplicated = 0;     // extra copies of a record
    int torn = 0;           // stretches that are no whole record or header
    int tornInFlight = 0;   // of those, the ones a kill may explain
    int outOfOrder = 0;     // records before an earlier record of the same writer
    int unexpected = 0;     // whole records nobody wrote or reported, or in the wrong file
    int headerProblems = 0; // fewer whole headers than reported, or more than runs
    QStringList problems;
    QHash<Identity, RecordKind> whole; // the records found whole, once each

    int faults() const { return lost + duplicated + (torn - tornInFlight) + outOfOrder + unexpected + headerProblems; }
};

// The session index beside the files, and the names it gives them.
struct IndexInput {
    QByteArray bytes;
    QString master;
    QString send;
    QString notes;
};

// Whether the index names every whole record and header once, at exactly its bytes, records
// with their writer's session (one session a run), and nothing else.
struct IndexFigures {
    bool checked = false;
    int entries = 0;         // place entries read
    int missing = 0;         // whole records and headers with no entry
    int wrong = 0;           // an entry at one with another length or kind, or a session not its writer's run's
    int duplicated = 0;      // a second entry for one place, a session named twice
    int dangling = 0;        // entries at no whole record or header
    int atTornInFlight = 0;  // entries at a record a kill cut short (not dangling)
    int damaged = 0;         // lines that are no entry
    int damagedInFlight = 0; // of those, as many as the kills explain
    QStringList problems;

    int faults() const { return missing + wrong + duplicated + dangling + damaged - damagedInFlight; }
};

struct Figures {
    FileFigures master;
    FileFigures send;
    FileFigures notes;
    int partial = 0; // records whole in some of their files and missing from others
    QStringList partialProblems;
    IndexFigures index;

    int faults() const { return master.faults() + send.faults() + notes.faults() + partial + index.faults(); }
    QString table() const;
};

// With `index`, the session index is checked against the files too.
Figures check(const QByteArray& master, const QByteArray& send, const QByteArray& notes, const Expectation& expected,
              const std::optional<IndexInput>& index = std::nullopt);

} // namespace recordcheck
