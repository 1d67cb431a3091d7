#include "report.h"
#include "review_text.h"
#include "set_lines.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "platform/code_page.h"

namespace review {
namespace {

// One student's work on one set, from every file read.
struct Work {
    QString name;
    QString computer;
    QByteArray set;
    // A record is in the master file and in the send file (a note in the notes file too):
    // each counts once.
    QSet<QByteArray> seen;
    int furthest = 0;
    QSet<int> answered;
    int notes = 0;
    QDateTime first;
    QDateTime last;
    QHash<QByteArray, std::pair<QDateTime, QDateTime>> sessions; // the span of each session's records
    QHash<QByteArray, sessionindex::EndEntry> ends;              // by session id, as the index says
};

// "finished" where a session reached the set's end; otherwise how the last one to end ended.
QByteArray endedWord(const Work& w)
{
    const sessionindex::EndEntry* last = nullptr;
    for (const sessionindex::EndEntry& e : w.ends) {
        if (e.how == sessionindex::EndEntry::How::Finished)
            return sessionindex::howWord(e.how);
        auto at = [](const sessionindex::EndEntry& x) {
            return QDateTime::fromString(x.date + u' ' + x.time, QStringLiteral("MM-dd-yyyy hh:mm:ss"));
        };
        if (!last || at(e) > at(*last))
            last = &e;
    }
    return last ? sessionindex::howWord(last->how) : QByteArray();
}

QDateTime when(QByteArrayView date, QByteArrayView time)
{
    return QDateTime::fromString(QString::fromLatin1(date) + u' ' + QString::fromLatin1(time),
                                 QStringLiteral("MM-dd-yyyy hh:mm:ss"));
}

QByteArray shown(const QDateTime& t)
{
    return t.isValid() ? t.toString(QStringLiteral("MM-dd-yyyy hh:mm:ss")).toLatin1() : QByteArray();
}

class GradebookReport final : public Report {
public:
    GradebookReport(QIODevice& out, bool bom, std::function<void(const QString&)> note)
        : Report(out), note_(std::move(note))
    {
        if (bom)
            buffer() += "\xEF\xBB\xBF";
        buffer() += "name,computer,set,questions,reached,answered,notes,first,last,minutes,ended\r\n";
    }

    void beginFile(const QString& path, bool) override { file_ = path; }
    void endFile(const ReadTotals&) override {}
    // A student who started a set and recorded nothing has a row too.
    void session(const Session& s) override
    {
        Work& w = workOf(s.name, s.computer, s.set);
        if (s.end)
            w.ends.insert(s.id, *s.end);
    }
    void skipped(const Skipped&) override {}

    void record(const Record& r) override
    {
        const QByteArray set = r.set.toByteArray();
        Work& w = workOf(r.name, r.computer, set);
        QByteArray identity = r.sessionId + '\n' + r.date.toByteArray() + '\n' + r.time.toByteArray() + '\n' +
                              (r.kind == Record::Kind::Note ? 'n' : 'r') + r.line.toByteArray() + '\n' +
                              r.text.toByteArray();
        if (w.seen.contains(identity))
            return;
        w.seen.insert(identity);
        const int line = placeInSet(set, codepage::decode(r.line.toByteArray())).line;
        w.furthest = std::max(w.furthest, line);
        const TextFlag flag = flagOf(r.text);
        if (r.kind == Record::Kind::Note)
            ++w.notes;
        else if (line && (flag == TextFlag::None || flag == TextFlag::HoldsReminder))
            w.answered.insert(line);
        const QDateTime at = when(r.date, r.time);
        if (!at.isValid())
            return;
        if (!w.first.isValid() || at < w.first)
            w.first = at;
        if (!w.last.isValid() || at > w.last)
            w.last = at;
        const QByteArray session =
            r.sessionId.isEmpty() ? file_.toUtf8() + '#' + QByteArray::number(r.session) : r.sessionId;
        auto span = w.sessions.find(session);
        if (span == w.sessions.end())
            w.sessions.insert(session, {at, at});
        else
            *span = {std::min(span->first, at), std::max(span->second, at)};
    }

    bool finish() override
    {
        std::vector<const Work*> rows;
        for (const auto& [key, w] : work_)
            rows.push_back(&w);
        std::stable_sort(rows.begin(), rows.end(), [](const Work* a, const Work* b) {
            const int byName = a->name.localeAwareCompare(b->name);
            return byName != 0 ? byName < 0 : std::tie(a->computer, a->set) < std::tie(b->computer, b->set);
        });
        for (const Work* w : rows)
            row(*w);
        noteSharedNames(rows);
        return flush(true);
    }

private:
    Work& workOf(const QString& name, const QString& computer, QByteArrayView set)
    {
        // Without the index's name a session can only be told apart by its file.
        const QString who = name.isEmpty() ? QStringLiteral("(no name: ") + file_ + u')' : name;
        Work& w = work_[{who, computer, set.toByteArray()}];
        w.name = who;
        w.computer = computer;
        w.set = set.toByteArray();
        return w;
    }

    void row(const Work& w)
    {
        QByteArray& out = buffer();
        appendCsvField(out, w.name.toUtf8());
        out += ',';
        appendCsvField(out, w.computer.toUtf8());
        out += ',';
        appendCsvRecordField(out, w.set);
        qint64 seconds = 0;
        for (const auto& [from, to] : std::as_const(w.sessions))
            seconds += from.secsTo(to);
        out += ',' + QByteArray::number(placeInSet(w.set, QString()).lines) + ',' + QByteArray::number(w.furthest) +
               ',' + QByteArray::number(w.answered.size()) + ',' + QByteArray::number(w.notes) + ',' + shown(w.first) +
               ',' + shown(w.last) + ',' + QByteArray::number((seconds + 30) / 60) + ',' + endedWord(w) + "\r\n";
        flush();
    }

    // Students are told apart by name and computer; where either carries several of the
    // other, the instructor is told, for a student who moved or a name typed twice.
    void noteSharedNames(const std::vector<const Work*>& rows)
    {
        std::map<QString, std::set<QString>> computersOf;
        std::map<QString, std::set<QString>> namesOn;
        for (const Work* w : rows) {
            if (w->computer.isEmpty())
                continue;
            computersOf[w->name].insert(w->computer);
            namesOn[w->computer].insert(w->name);
        }
        auto list = [](const std::set<QString>& items) {
            return QStringList(items.begin(), items.end()).join(QStringLiteral(", "));
        };
        for (const auto& [name, computers] : computersOf) {
            if (computers.size() > 1)
                note_(QStringLiteral("%1: one name on %2 computers (%3)")
                          .arg(name)
                          .arg(computers.size())
                          .arg(list(computers)));
        }
        for (const auto& [computer, names] : namesOn) {
            if (names.size() > 1)
                note_(QStringLiteral("%1: one computer with %2 names (%3)")
                          .arg(computer)
                          .arg(names.size())
                          .arg(list(names)));
        }
    }

    std::function<void(const QString&)> note_;
    QString file_;
    std::map<std::tuple<QString, QString, QByteArray>, Work> work_;
};

} // namespace

std::unique_ptr<Report> makeGradebook(QIODevice& out, bool bom, std::function<void(const QString&)> note)
{
    return std::make_unique<GradebookReport>(out, bom, std::move(note));
}

} // namespace review
