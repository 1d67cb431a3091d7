#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

#include "platform/failure.h"
#include "storage/record_lock.h"

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
    QStringList written; // names of the files that took the record
    QString failedName;  // empty when every file took it
    QString failedPath;
    QString reason; // in plain words
    // Kept while some files hold the record and others do not; give it back on the retry.
    QString journalEntry{};
    // The journal folder could not take the record, why, and that recording went on without
    // it; said once per journal folder in a run.
    QString journalFailure{};

    bool ok() const { return failedName.isEmpty(); }
};

struct AppendSettings {
    QString journalFolder; // none: no journal
    recordlock::Timing lock;
    // Told while a record waits for the files (who holds them), with an empty text at the end.
    recordlock::WaitingHook waiting{};
    // This computer's identity; none: `computer-id` beside the journal folder, in the tutor's
    // own local data.
    QString identityFile{};
};

// The identity file the settings name.
QString identityFileOf(const AppendSettings& settings);

// Appends one record to several files so that it holds across computers sharing one folder:
// every file is opened read-write and locked (an operating-system lock, and the folder's lock
// file created atomically), the record is written at each file's end as the file server has
// it, flushed to the disk, read back and compared, and the locks are released. With a
// journal folder the record is kept there from before the first file is touched until every
// file holds it. Only the record's own bytes are ever cut back after a failure.
// A retry of a record that some files already took passes the journal entry the first
// attempt gave back, so that the record keeps one entry until every file holds it.
AppendOutcome appendRecord(const QList<FileAppend>& files, const AppendSettings& settings = {},
                           const QString& journalEntry = {});

// Finishes the records that a run ended before every file held them: each into the files
// still missing it, found from their bytes, never twice, all under one taking of the locks
// within one wait. What was done, for the student, or nothing when there was nothing to tell.
std::optional<QString> finishJournal(const AppendSettings& settings);

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
