#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <optional>
#include <variant>

// The session index: what the record files' bytes cannot say, kept beside them in the record
// folder. The record files say nothing of whose a record is; in a lab folder many students
// append to the same master and send files, so each session header and record written is
// named here with its session, and each session with its set, computer and student.
//
// The file `records.index` (its name does not end in .txt, so the reader never takes it for a
// record file) is UTF-8 text, only ever appended to, one entry a line, each line ending in LF.
// Fields are separated by a tab; a text field has its backslash, tab, CR and LF written as \\,
// \t, \r and \n. The last field of every entry is a lone `.`, so that a line a writer left
// cut short (killed mid-write) is seen for what it is and never read as a shorter entry.
//
//   session <TAB> id <TAB> set <TAB> host <TAB> mm-dd-yyyy <TAB> hh:mm:ss <TAB> name <TAB> . LF
//   header  <TAB> id <TAB> file <TAB> offset <TAB> length <TAB> . LF
//   record  <TAB> id <TAB> file <TAB> offset <TAB> length <TAB> . LF
//   end     <TAB> id <TAB> how <TAB> mm-dd-yyyy <TAB> hh:mm:ss <TAB> . LF
//
// id: the session's, 16 lower-case hex digits, random; set: the class-notes number as the
// session header writes it (005); host: the computer's host name; date and time: the
// session's start, as the tutor's clock gives them; name: the full name typed at start-up
// (kept only here). file: the record file's name relative to the record folder, '/' between
// folders, never absolute and never with a `..`; offset and length: decimal, the bytes of
// that file the header or record takes (length above 0). how: the way the session ended,
// `finished` (the set's end), `quit` ("quit program") or `closed` (the window closed); its
// date and time by the tutor's clock. A tutor that was killed writes no end.
//
// A writer appends its entries with one write under the record lock, the bytes from
// bytesToAppend(): when the file's last byte is not LF (a line torn by a writer killed), they
// start with an LF of their own, so that the torn line stays apart and spoils no entry.
namespace sessionindex {

inline constexpr char kFileName[] = "records.index";
inline constexpr int kIdDigits = 16;

struct SessionEntry {
    QByteArray id;
    QString set;
    QString host;
    QString date; // mm-dd-yyyy
    QString time; // hh:mm:ss
    QString name;

    friend bool operator==(const SessionEntry&, const SessionEntry&) = default;
};

struct PlaceEntry {
    enum class Kind { Header, Record };
    QByteArray session;
    Kind kind = Kind::Record;
    QString file;
    qint64 offset = 0;
    qint64 length = 0;

    friend bool operator==(const PlaceEntry&, const PlaceEntry&) = default;
};

struct EndEntry {
    enum class How { Finished, Quit, Closed };
    QByteArray session;
    How how = How::Finished;
    QString date; // mm-dd-yyyy
    QString time; // hh:mm:ss

    friend bool operator==(const EndEntry&, const EndEntry&) = default;
};

// The word an end entry keeps for how (`finished`, `quit`, `closed`).
QByteArray howWord(EndEntry::How how);

using Entry = std::variant<SessionEntry, PlaceEntry, EndEntry>;

// A new session's id, from the generator given (the system's by default).
QByteArray newSessionId(QRandomGenerator& random = *QRandomGenerator::system());

// One entry's line, with its LF.
QByteArray encode(const Entry& entry);

// What a writer appends in one write: the entries' lines, after an LF when the file's last
// byte (none for an empty or missing file) is not one.
QByteArray bytesToAppend(const QList<Entry>& entries, std::optional<char> lastByte);

struct Problem {
    qint64 line = 0;   // from 1
    qint64 offset = 0; // of the line's first byte in what was parsed
    QString reason;
};

struct Parsed {
    QList<SessionEntry> sessions;
    QList<qint64> sessionLines; // the line of each session entry
    QList<PlaceEntry> places;
    QList<qint64> placeLines; // the line of each place entry
    QList<EndEntry> ends;
    QList<qint64> endLines; // the line of each end entry
    QList<Problem> problems;
    qint64 consumed = 0; // bytes taken: up to the last LF, or all of them at the end
};

// Entries of the index, every line that is none named in `problems`. `atEnd`: the bytes are
// the whole file, so a last line without its LF is a torn one; otherwise it is left for
// later (not consumed), as a follower reading a file still being written needs.
// `firstLine`: the number of the first line in `bytes`, for a follower reading on.
Parsed parse(QByteArrayView bytes, bool atEnd = true, qint64 firstLine = 1);

} // namespace sessionindex
