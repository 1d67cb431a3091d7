#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

#include "platform/failure.h"

class QFile;

// One file's share of a record: its name as the program gives it, where it lies on
// disk, and the bytes to append.
struct FileAppend {
    QString name;
    QString path;
    QByteArray bytes;
};

// What became of a record. Files are taken in order; those before the failing one
// hold the record, the failing one and those after it do not.
struct AppendOutcome {
    QStringList written;       // names of the files that took the record
    QString failedName;        // empty when every file took it
    QString failedPath;
    QString reason;            // in plain words

    bool ok() const { return failedName.isEmpty(); }
};

// Appends one record to several files: every file is opened and locked before any is
// written, then each gets the record in a single write, flushed to the disk. The lock
// is an operating-system lock that dies with the process and never blocks readers.
// A file whose write or flush fails is cut back to its size before the write.
AppendOutcome appendRecord(const QList<FileAppend>& files);

// Why a file operation failed, in words a student can act on.
QString plainReason(int error, const QString& path);

// Numbered channels for reading and writing whole files line by line.
class Channels {
public:
    enum class Mode { Input, Output, Append };
    static constexpr int kCount = 3;

    Channels();
    ~Channels();

    std::optional<Failure> open(int channel, const QString& path, Mode mode);
    // A line ends at CR LF or a lone CR; the end is not part of it.
    QByteArray readLine(int channel);
    bool atEnd(int channel) const;
    std::optional<Failure> write(int channel, const QByteArray& bytes);
    void close(int channel);
    void closeAll();

private:
    QFile* file(int channel) const;
    std::array<std::unique_ptr<QFile>, kCount> files_;
};
