#include "record_checker.h"

#include <QHash>
#include <QMap>

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

FileFigures checkFile(const QByteArray& bytes, FileKind file, const Expectation& expected,
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
    for (const Item& item : parseFile(bytes, file)) {
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

Figures check(const QByteArray& master, const QByteArray& send, const QByteArray& notes, const Expectation& expected)
{
    QHash<Identity, Stamp> reported;
    for (const Stamp& s : expected.reported)
        reported.insert(s.id, s);
    Figures figures;
    figures.master = checkFile(master, FileKind::Master, expected, reported);
    figures.send = checkFile(send, FileKind::Send, expected, reported);
    figures.notes = checkFile(notes, FileKind::Notes, expected, reported);
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
    for (const QString& p : partialProblems)
        text += QStringLiteral("  ! ") + p + u'\n';
    return text;
}

} // namespace recordcheck
