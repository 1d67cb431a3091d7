#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A record composed in full, kept in the program's own local data folder from before the
// first record file is touched until every file holds it, so that a run killed between
// files can be finished at the next start. An entry stays locked by its process while that
// process lives, so that another tutor starting meanwhile leaves it alone.
namespace journal {

struct File {
    QString name;          // as the program names it
    QString path;          // on disk
    qint64 sizeBefore = 0; // the record, once written, lies at or after this offset
    QByteArray bytes;

    friend bool operator==(const File&, const File&) = default;
};

// The generic data location + /classnotes-tutor/journal.
QString defaultFolder();

enum class ReadState { Whole, Damaged, OtherVersion };
// `note`: what the caller keeps with the files (the record's session-index entries), opaque
// here; an entry of a version that had none reads with an empty one.
QByteArray encode(const QList<File>& files, const QByteArray& note = {});
ReadState decode(const QByteArray& bytes, QList<File>& files, QByteArray* note = nullptr);

// Writes and locks a new entry; its id, or empty when the journal could not be written, and
// then why in `why`. The entry reaches the disk in the background (its flush overlaps the wait
// for the record files); settle() waits for it.
QString begin(const QString& folder, const QList<File>& files, QString* why = nullptr, const QByteArray& note = {});
// Waits until the entry begin() gave is flushed and under its name; before that it stands for
// no record. Why not, in plain words, when it could not be: then the entry is gone.
std::optional<QString> settle(const QString& id);
// The files of an entry this process holds; none when it cannot be read.
QList<File> filesOf(const QString& id);
// Removes an entry of this process once every file holds its record.
void drop(const QString& id);

struct LeftOver {
    QString id;
    ReadState state = ReadState::Whole;
    QList<File> files;
    QByteArray note;
};
// Entries that no running program holds, oldest first, each locked for this process until
// dropped, kept or set aside. An entry cut short while it was written touched no record
// file and is removed.
// `problem` says why the folder or an entry in it cannot be used, if so.
QList<LeftOver> takeLeftOvers(const QString& folder, QStringList* problems = nullptr);
// Leaves the entry for the next start.
void keep(const QString& id);
// Moves an entry that cannot be read out of the way; its new path.
QString setAside(const QString& id);

} // namespace journal
