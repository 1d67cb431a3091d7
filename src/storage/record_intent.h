#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// What a lock's holder is about to write, put into its lock before it touches any record file:
// for each file of the folder, the offset and the record's bytes. Whoever breaks the lock first
// finishes that intent (the same bytes at the same offsets), and only then is the lock gone. A
// write of the old holder that arrives late (it slept, its link came back, the network held it)
// then lays identical bytes over identical bytes, and nobody's record is touched.
namespace recordintent {

struct Part {
    QString name; // the file's name in the record folder
    qint64 at = 0;
    QByteArray bytes;

    friend bool operator==(const Part&, const Part&) = default;
};

// In the lock's folder, named after the lease, so that a late write of a holder whose lock
// was broken meanwhile never stands for the lease of the next holder.
QString fileOf(const QString& lock, const QByteArray& lease);

QByteArray encode(const QList<Part>& parts);
// Nothing when cut short or damaged: then the holder never got as far as the record files.
std::optional<QList<Part>> decode(const QByteArray& bytes);

// Written whole; 0 or an errno value.
// `remote`: whether the file is on a network file system, as its client says.
int write(const QString& file, const QList<Part>& parts, bool* remote = nullptr);
// The intent in `file`; none when there is none or it was cut short.
std::optional<QList<Part>> read(const QString& file);

// The session index's entries of the record, put last: finished like the record's parts where
// they can be, but never a reason to keep a lock. The records come first; an index that cannot
// take its entries costs only the knowledge of whose the record is.
bool isIndex(const Part& part);

// Brings one part to its bytes at its offset in `folder`, writing only where the file ends
// inside the part (a write cut short, or never made). A file already past the part, or holding
// other bytes there, is left as it is. Why not, in plain words, when it could not be finished;
// an empty reason when `goOn`, asked before the write, said to stop.
std::optional<QString> finishPart(const QString& folder, const Part& part, const std::function<bool()>& goOn = {});

// Every part, as finishPart does; an index part that cannot be finished is passed over.
std::optional<QString> finish(const QString& folder, const QList<Part>& parts, const std::function<bool()>& goOn = {});

} // namespace recordintent
