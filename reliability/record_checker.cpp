#include "record_checker.h"

#include <QHash>
#include <QMap>

#include "storage/session_index.h"

#include <algorithm>
#include <array>

namespace recordcheck {
namespace {

bool belongsIn(RecordKind kind, FileKind file)
{
    return kind == RecordKind::Note || file != FileKind::Notes;
}

QString name(FileKind file)
{
    switch (file) {
    case FileKind::Master:
        return QStringLiteral("master");
    case FileKind::Send:
        return QStringLiteral("send");
    case FileKind::Notes:
        return QStringLiteral("notes");
    }
    return {};
}

QString idText(const Identity& id)
{
    return QStringLiteral("w%1 r%2 s%3").arg(id.writer).arg(id.run).arg(id.seq);
}

FileFigures checkFile(const QList<Item>& items, FileKind file, const Expectation& expected,
                      const QHash<Identity, Stamp>& reported)
{
    FileFigures f;
    auto problem = [&](const QString& text) {
        if (f.problems.size() < 20)
            f.problems << name(file) + QStringLiteral(": ") + text;
    };
    QHash<Identity, int> seen;
    QMap<int, Identity> lastOfWriter;
    int stamplessTorn = 0;
    int stampedInFlight = 0;
    for (const Item& item : items) {
        switch (item.type) {
        case Item::Type::Header:
            ++f.headers;
            break;
        case Item::Type::Damaged:
            ++f.torn;
            if (item.stampsInside == 0) {
                ++stamplessTorn;
            } else if (item.stamp && expected.inFlight.contains(item.stamp->id)) {
                ++stampedInFlight;
                ++f.tornInFlight;
            } else {
                problem(QStringLiteral("%1 bytes at %2 are no whole record (%3; %4 stamps inside)")
                            .arg(item.size)
                            .arg(item.offset)
                            .arg(item.problem)
                            .arg(item.stampsInside));
            }
            break;
        case Item::Type::Record: {
            const Stamp& s = *item.stamp;
            ++f.records;
            if (!belongsIn(s.kind, file)) {
                ++f.unexpected;
                problem(QStringLiteral("%1 is an answer, found in the notes file").arg(idText(s.id)));
                break;
            }
            if (reported.contains(s.id) ? reported.value(s.id) != s : !expected.inFlight.contains(s.id)) {
                ++f.unexpected;
                problem(QStringLiteral("%1 was never written so").arg(idText(s.id)));
            }
            f.whole.insert(s.id, s.kind);
            if (++seen[s.id] > 1) {
                ++f.duplicated;
                problem(QStringLiteral("%1 is there %2 times").arg(idText(s.id)).arg(seen[s.id]));
                break;
            }
            const auto last = lastOfWriter.find(s.id.writer);
            if (last != lastOfWriter.end() && !(*last < s.id)) {
                ++f.outOfOrder;
                problem(QStringLiteral("%1 comes after %2").arg(idText(s.id), idText(*last)));
            } else
                lastOfWriter[s.id.writer] = s.id;
            break;
        }
        }
    }
    // Each kill may leave at most one torn record in each file.
    const int tolerated = std::clamp(expected.kills - stampedInFlight, 0, stamplessTorn);
    f.tornInFlight += tolerated;
    if (stamplessTorn > tolerated)
        problem(QStringLiteral("%1 torn stretches without a stamp, more than the kills explain").arg(stamplessTorn));
    for (const Stamp& s : expected.reported) {
        if (belongsIn(s.kind, file) && !seen.contains(s.id)) {
            ++f.lost;
            problem(QStringLiteral("%1 was reported written but is not there whole").arg(idText(s.id)));
        }
    }
    if (file == FileKind::Notes ? f.headers != 0
                                : f.headers < expected.headersReported || f.headers > expected.runsStarted) {
        f.headerProblems = 1;
        problem(QStringLiteral("%1 whole session headers; %2 reported, %3 runs")
                    .arg(f.headers)
                    .arg(expected.headersReported)
                    .arg(expected.runsStarted));
    }
    return f;
}

// The index against the items of each file.
class IndexCheck {
public:
    IndexCheck(const IndexInput& input, const Expectation& expected) : expected_(expected)
    {
        const sessionindex::Parsed parsed = sessionindex::parse(input.bytes);
        f.checked = true;
        f.entries = int(parsed.places.size());
        f.damaged = int(parsed.problems.size());
        for (const sessionindex::Problem& p : parsed.problems)
            problem(QStringLiteral("line %1 is no entry (%2)").arg(p.line).arg(p.reason));
        for (const sessionindex::SessionEntry& s : parsed.sessions) {
            if (sessions_.contains(s.id)) {
                ++f.duplicated;
                problem(QStringLiteral("session %1 is named twice").arg(QString::fromLatin1(s.id)));
            }
            sessions_.insert(s.id, s);
        }
        places_ = parsed.places;
        lines_ = parsed.placeLines;
        used_.fill(false, places_.size());
        for (qsizetype i = 0; i < places_.size(); ++i) {
            const auto key = qMakePair(places_[i].file, places_[i].offset);
            if (at_.contains(key)) {
                ++f.duplicated;
                used_[i] = true;
                problem(QStringLiteral("line %1: a second entry for %2 at %3")
                            .arg(lines_[i])
                            .arg(places_[i].file)
                            .arg(places_[i].offset));
            } else {
                at_.insert(key, i);
            }
        }
    }

    void file(const QString& name, FileKind kind, const QList<Item>& items)
    {
        using Kind = sessionindex::PlaceEntry::Kind;
        for (const Item& item : items) {
            const qsizetype i = at_.value(qMakePair(name, qint64(item.offset)), -1);
            if (item.type == Item::Type::Damaged) {
                // A record cut short by a kill may still be named; anything else is dangling below.
                if (i >= 0 && item.stamp && expected_.inFlight.contains(item.stamp->id)) {
                    used_[i] = true;
                    ++f.atTornInFlight;
                }
                continue;
            }
            const bool header = item.type == Item::Type::Header;
            const QString what = header ? QStringLiteral("the session header at %1").arg(item.offset)
                                        : QStringLiteral("%1 at %2").arg(idText(item.stamp->id)).arg(item.offset);
            if (i < 0) {
                ++f.missing;
                problem(QStringLiteral("%1: %2 has no entry").arg(fileName(kind), what));
                continue;
            }
            used_[i] = true;
            const sessionindex::PlaceEntry& p = places_[i];
            QString why;
            if ((p.kind == Kind::Header) != header)
                why = QStringLiteral("its entry says it is a %1").arg(header ? "record" : "session header");
            else if (p.length != item.size)
                why = QStringLiteral("its entry gives it %1 bytes, not %2").arg(p.length).arg(item.size);
            else if (!sessions_.contains(p.session))
                why = QStringLiteral("its entry names session %1, which the index does not name")
                          .arg(QString::fromLatin1(p.session));
            else if (!header)
                why = sessionProblem(item.stamp->id, p.session);
            if (!why.isEmpty()) {
                ++f.wrong;
                problem(QStringLiteral("%1: %2: %3").arg(fileName(kind), what, why));
            }
        }
    }

    IndexFigures done()
    {
        for (qsizetype i = 0; i < places_.size(); ++i) {
            if (used_[i])
                continue;
            ++f.dangling;
            problem(QStringLiteral("line %1: %2 bytes of %3 at %4 are no whole record or session header")
                        .arg(lines_[i])
                        .arg(places_[i].length)
                        .arg(places_[i].file)
                        .arg(places_[i].offset));
        }
        return f;
    }

private:
    static QString fileName(FileKind kind) { return name(kind); }

    void problem(const QString& text)
    {
        if (f.problems.size() < 20)
            f.problems << QStringLiteral("index: ") + text;
    }

    // A writer's run is one session, named for the writer, and no other run's.
    QString sessionProblem(const Identity& id, const QByteArray& session)
    {
        const QString wanted = QStringLiteral("Writer %1").arg(id.writer);
        if (sessions_.value(session).name != wanted)
            return QStringLiteral("its session is %1's").arg(sessions_.value(session).name);
        const auto run = qMakePair(id.writer, id.run);
        const QByteArray known = runSession_.value(run);
        if (!known.isEmpty() && known != session)
            return QStringLiteral("its run's records are in two sessions");
        if (sessionRun_.contains(session) && sessionRun_.value(session) != run)
            return QStringLiteral("its session holds another run's records");
        runSession_.insert(run, session);
        sessionRun_.insert(session, run);
        return {};
    }

    IndexFigures f;
    const Expectation& expected_;
    QHash<QByteArray, sessionindex::SessionEntry> sessions_;
    QList<sessionindex::PlaceEntry> places_;
    QList<qint64> lines_;
    QList<bool> used_;
    QHash<QPair<QString, qint64>, qsizetype> at_;
    QHash<QPair<int, int>, QByteArray> runSession_;
    QHash<QByteArray, QPair<int, int>> sessionRun_;
};

} // namespace

Expectation expectationFromLogs(const WriterLog& logs, const QSet<QPair<int, int>>& killedRuns, int runsStarted)
{
    Expectation e;
    e.reported = logs.records;
    e.headersReported = int(logs.headers.size());
    e.runsStarted = runsStarted;
    e.kills = int(killedRuns.size());
    // A killed run's record in flight is the one after its last reported record.
    QHash<QPair<int, int>, int> nextSeq;
    for (const Stamp& s : logs.records) {
        int& next = nextSeq[{s.id.writer, s.id.run}];
        next = std::max(next, s.id.seq + 1);
    }
    for (const auto& run : killedRuns)
        e.inFlight.insert({run.first, run.second, nextSeq.value(run)});
    return e;
}

Figures check(const QByteArray& master, const QByteArray& send, const QByteArray& notes, const Expectation& expected,
              const std::optional<IndexInput>& index)
{
    QHash<Identity, Stamp> reported;
    for (const Stamp& s : expected.reported)
        reported.insert(s.id, s);
    const QList<Item> masterItems = parseFile(master, FileKind::Master);
    const QList<Item> sendItems = parseFile(send, FileKind::Send);
    const QList<Item> notesItems = parseFile(notes, FileKind::Notes);
    Figures figures;
    figures.master = checkFile(masterItems, FileKind::Master, expected, reported);
    figures.send = checkFile(sendItems, FileKind::Send, expected, reported);
    figures.notes = checkFile(notesItems, FileKind::Notes, expected, reported);
    if (index) {
        IndexCheck c(*index, expected);
        c.file(index->master, FileKind::Master, masterItems);
        c.file(index->send, FileKind::Send, sendItems);
        c.file(index->notes, FileKind::Notes, notesItems);
        figures.index = c.done();
        // A line torn by a kill, at most one a kill.
        figures.index.damagedInFlight = std::min(figures.index.damaged, expected.kills);
    }
    // A record is in all of its files or in none.
    QHash<Identity, RecordKind> anywhere = figures.master.whole;
    anywhere.insert(figures.send.whole);
    anywhere.insert(figures.notes.whole);
    QList<Identity> ids = anywhere.keys();
    std::sort(ids.begin(), ids.end());
    for (const Identity& id : ids) {
        QStringList missing;
        if (!figures.master.whole.contains(id))
            missing << name(FileKind::Master);
        if (!figures.send.whole.contains(id))
            missing << name(FileKind::Send);
        if (anywhere.value(id) == RecordKind::Note && !figures.notes.whole.contains(id))
            missing << name(FileKind::Notes);
        if (missing.isEmpty())
            continue;
        ++figures.partial;
        if (figures.partialProblems.size() < 20)
            figures.partialProblems
                << QStringLiteral("%1 is missing from %2 only").arg(idText(id), missing.join(QStringLiteral(", ")));
    }
    return figures;
}

QString Figures::table() const
{
    QString text =
        QStringLiteral("  file    records  headers  lost  duplicated  torn (in flight)  out of order  unexpected\n");
    auto row = [&](const char* file, const FileFigures& f) {
        text += QStringLiteral("  %1 %2 %3 %4 %5 %6 %7 %8\n")
                    .arg(QLatin1String(file), -7)
                    .arg(f.records, 7)
                    .arg(f.headers, 8)
                    .arg(f.lost, 5)
                    .arg(f.duplicated, 11)
                    .arg(QStringLiteral("%1 (%2)").arg(f.torn).arg(f.tornInFlight), 17)
                    .arg(f.outOfOrder, 13)
                    .arg(f.unexpected, 11);
    };
    row("master", master);
    row("send", send);
    row("notes", notes);
    text += QStringLiteral("  records in only some of their files: %1\n").arg(partial);
    for (const FileFigures* f : {&master, &send, &notes}) {
        for (const QString& p : f->problems)
            text += QStringLiteral("  ! ") + p + u'\n';
    }
    if (index.checked)
        text += QStringLiteral(
                    "  index: %1 entries; records or headers without one %2, wrong %3, duplicated %4, "
                    "pointing at nothing whole %5 (at a record torn in flight %6), damaged lines %7 (in flight %8)\n")
                    .arg(index.entries)
                    .arg(index.missing)
                    .arg(index.wrong)
                    .arg(index.duplicated)
                    .arg(index.dangling)
                    .arg(index.atTornInFlight)
                    .arg(index.damaged)
                    .arg(index.damagedInFlight);
    for (const QString& p : partialProblems)
        text += QStringLiteral("  ! ") + p + u'\n';
    for (const QString& p : index.problems)
        text += QStringLiteral("  ! ") + p + u'\n';
    return text;
}

} // namespace recordcheck
