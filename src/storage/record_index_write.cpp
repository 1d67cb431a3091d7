#include <QDataStream>
#include <QFileInfo>

#include <cerrno>

#include "record_intent.h"
#include "record_steps.h"
#include "storage/plain_reason.h"

namespace recordsteps {
namespace {

// The session index's entries of the jobs before `upTo` that are written into `folder` (at
// their offsets), in the jobs' order: those of fewer jobs are the start of those of more.
QList<sessionindex::Entry> indexEntries(const QList<Job>& jobs, const QList<qint64>& at, qsizetype upTo,
                                        const QString& folder)
{
    QList<sessionindex::Entry> list;
    QSet<QByteArray> started;
    for (qsizetype i = 0; i < upTo; ++i) {
        const IndexNote& note = jobs[i].index;
        if (at[i] < 0 || note.session.isEmpty() || folderOf(jobs[i].file.path) != folder)
            continue;
        if (indexOnly(jobs[i])) {
            if (note.end)
                list << *note.end;
            continue;
        }
        if (note.start && !started.contains(note.session)) {
            started.insert(note.session);
            list << *note.start;
        }
        list << sessionindex::PlaceEntry{note.session, note.kind, QFileInfo(jobs[i].file.path).fileName(), at[i],
                                         jobs[i].file.bytes.size()};
    }
    return list;
}

} // namespace

// Whether the index holds the job's end entry at or after `from` (where it ended when the entry
// was kept). An index that cannot be read is taken to hold it: a session's end said twice would
// be worse than one not said.
bool indexHolds(const Job& job, qint64 from)
{
    if (!job.index.end)
        return true;
    recordio::File index;
    qint64 end = 0;
    QByteArray tail;
    if (const int error = index.openExisting(indexPathOf(job.file.path)))
        return error != ENOENT;
    if (index.size(end) != 0)
        return true;
    if (from > end)
        from = 0;
    if (index.readAt(from, end - from, tail) != 0)
        return true;
    return tail.contains(sessionindex::encode(*job.index.end));
}

// Each folder's index with entries to take, its end found; an index that cannot be looked at
// is only said, and the records go on without it.
std::vector<IndexTarget> indexTargets(const QList<Job>& jobs, const QList<qint64>& at,
                                      QHash<QString, QList<recordintent::Part>>& intents, Steps& steps)
{
    std::vector<IndexTarget> targets;
    for (auto it = intents.begin(); it != intents.end(); ++it) {
        const QList<sessionindex::Entry> entries = indexEntries(jobs, at, jobs.size(), it.key());
        if (entries.isEmpty())
            continue;
        IndexTarget t;
        t.folder = it.key();
        t.path = t.folder + u'/' + QLatin1String(sessionindex::kFileName);
        QByteArray last;
        int error = t.file.openReadWrite(t.path);
        if (error == 0)
            error = t.file.size(t.at);
        // Still where this program's own last entry ended it: with a line end.
        if (error == 0 && t.at > 0 && knownEnds().of(t.path) == t.at)
            last = "\n";
        else if (error == 0 && t.at > 0)
            error = t.file.readAt(t.at - 1, 1, last);
        if (error != 0) {
            steps.indexPath = t.path;
            steps.indexFailure = plainReason(error, t.path);
            continue;
        }
        t.lastByte = last.isEmpty() ? std::nullopt : std::optional<char>(last.front());
        it.value() << recordintent::Part{QLatin1String(sessionindex::kFileName), t.at, t.bytes(entries)};
        targets.push_back(std::move(t));
    }
    return targets;
}

// The entries of the jobs before `upTo` that were written, at the offset the intent gave them,
// still under the locks. A holder whose lease ran out writes them only where the index ends
// inside them, as a breaker does: a breaker may have written them already, and others may have
// appended after them. A failure here is only said: the records are in their files whatever
// becomes of the index.
void writeIndex(std::vector<IndexTarget>& targets, const QList<Job>& jobs, const QList<qint64>& at, qsizetype upTo,
                Locks& locks, Steps& steps)
{
    for (IndexTarget& t : targets) {
        const QList<sessionindex::Entry> entries = indexEntries(jobs, at, upTo, t.folder);
        if (entries.isEmpty() || !t.file.isOpen())
            continue;
        const QByteArray bytes = t.bytes(entries);
        QString why;
        if (locks.folders.value(t.folder)->confirm()) {
            qint64 done = 0;
            int error = t.file.writeAt(t.at, bytes, done);
            if (error == 0)
                error = t.file.flush();
            if (error == 0)
                error = t.file.closeChecked();
            if (error == 0)
                knownEnds().set(t.path, t.at + bytes.size());
            else
                why = plainReason(error, t.path);
        } else {
            t.file.closeChecked();
            why = recordintent::finishPart(t.folder, {QLatin1String(sessionindex::kFileName), t.at, bytes})
                      .value_or(QString());
        }
        if (!why.isEmpty()) {
            steps.indexPath = t.path;
            steps.indexFailure = why;
        }
    }
}

QByteArray encodeNote(const IndexNote& note)
{
    if (note.session.isEmpty())
        return {};
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << note.session << qint8(note.kind) << bool(note.start);
    if (note.start)
        out << note.start->id << note.start->set << note.start->host << note.start->date << note.start->time
            << note.start->name;
    // After what earlier versions kept, so that their entries still read.
    if (note.end)
        out << qint8(note.end->how) << note.end->date << note.end->time;
    return bytes;
}

IndexNote decodeNote(const QByteArray& bytes)
{
    IndexNote note;
    if (bytes.isEmpty())
        return note;
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    qint8 kind = 0;
    bool hasStart = false;
    in >> note.session >> kind >> hasStart;
    note.kind = kind == qint8(sessionindex::PlaceEntry::Kind::Header) ? sessionindex::PlaceEntry::Kind::Header
                                                                      : sessionindex::PlaceEntry::Kind::Record;
    if (hasStart) {
        sessionindex::SessionEntry start;
        in >> start.id >> start.set >> start.host >> start.date >> start.time >> start.name;
        note.start = start;
    }
    if (!in.atEnd()) {
        qint8 how = 0;
        sessionindex::EndEntry end;
        end.session = note.session;
        in >> how >> end.date >> end.time;
        if (how < 0 || how > qint8(sessionindex::EndEntry::How::Closed))
            return {};
        end.how = sessionindex::EndEntry::How(how);
        note.end = end;
    }
    // A note that cannot be read gives no entries: the records are finished all the same.
    if (in.status() != QDataStream::Ok || note.session.size() != sessionindex::kIdDigits)
        return {};
    return note;
}

} // namespace recordsteps
