#include "question_summary.h"
#include "report.h"
#include "review_text.h"
#include "set_lines.h"

#include <QHash>

#include <algorithm>
#include <map>
#include <numeric>

#include "platform/code_page.h"

namespace review {
namespace {

const char kPageStart[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Class notes review</title>
<style>
body { font: 14px/1.4 "DejaVu Sans", "Liberation Sans", sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.4em; margin: 0 0 .2em; }
h2 { font-size: 1.2em; border-bottom: 2px solid #446; padding-bottom: .2em; margin-top: 1.6em; }
h3 { font-size: 1em; margin: 1.2em 0 .3em; }
table { border-collapse: collapse; width: 100%; margin-bottom: .5em; table-layout: fixed; }
th, td { border: 1px solid #ccc; padding: .25em .4em; vertical-align: top; text-align: left; }
th { background: #eef; }
td.n { text-align: right; white-space: nowrap; }
.t { white-space: pre-wrap; overflow-wrap: anywhere; max-height: 12em; overflow: auto; }
.flag { display: inline-block; padding: 0 .4em; border-radius: .3em; font-size: .85em; }
.empty { background: #fdd; color: #800; }
.reminder { background: #ffd; color: #660; }
tr.skip td, p.skip { background: #f6f6f6; color: #800; font-style: italic; }
.summary { color: #555; }
.c-n { width: 2.5em; } .c-time { width: 5.5em; } .c-secs { width: 6em; } .c-kind { width: 6em; }
.c-q { width: 6.5em; } .c-line { width: 35%; } .c-flags { width: 7.5em; }
p.end { margin: 0 0 .3em; } .end.left, .end.unknown { color: #a50; }
table.questions { table-layout: auto; } details ul { margin: .2em 0; padding-left: 1.2em; text-align: left; }
/* On paper every text is shown whole: no scroll box, the header row on every page, a row
   kept on one page and a session on one page where they fit. */
@page { size: landscape; margin: 12mm; }
@media print {
  body { margin: 0; font-size: 9pt; }
  .t { max-height: none; overflow: visible; }
  .c-n { width: 2.4em; } .c-time { width: 5em; } .c-secs { width: 5.2em; } .c-kind { width: 5.4em; }
  .c-q { width: 5.8em; } .c-line { width: 25%; } .c-flags { width: 6.5em; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; }
  h1, h2, h3, h3 + p { break-after: avoid; }
  .session { break-inside: avoid; }
}
</style>
</head>
<body>
<h1>Class notes review</h1>
)";

const char kTableHead[] =
    "<table>\n<colgroup><col class=\"c-n\"><col class=\"c-time\"><col class=\"c-secs\"><col class=\"c-kind\">"
    "<col class=\"c-q\"><col class=\"c-line\"><col><col class=\"c-flags\"></colgroup>\n"
    "<thead><tr><th>#</th><th>Time</th><th>Seconds</th><th>Kind</th><th>Question</th>"
    "<th>Line shown</th><th>Text</th><th>Flags</th></tr></thead>\n";

struct Counts {
    int records = 0;
    int empty = 0;
    int onlyReminder = 0;
    int holdsReminder = 0;
    int skipped = 0;
    int sessions = 0;
};

QByteArray countText(const Counts& c)
{
    QByteArray text = QByteArray::number(c.sessions) + (c.sessions == 1 ? " session, " : " sessions, ") +
                      QByteArray::number(c.records) + (c.records == 1 ? " record" : " records");
    text += ": " + QByteArray::number(c.empty) + " empty, " + QByteArray::number(c.onlyReminder) +
            " only the reminder, " + QByteArray::number(c.holdsReminder) + " holding the reminder";
    if (c.skipped)
        text += "; " + QByteArray::number(c.skipped) + (c.skipped == 1 ? " stretch" : " stretches") +
                " that could not be read, skipped";
    return text + '.';
}

QByteArray sessionHeading(int number, QByteArrayView date, QByteArrayView set, const QString& name,
                          const QString& computer)
{
    QByteArray out = number ? "<h3>Session " + QByteArray::number(number) + " · "
                            : QByteArray("<h3>Session (its header is not in this file) · ");
    appendHtmlRecordText(out, date);
    out += " · class notes ";
    appendHtmlRecordText(out, set);
    if (!name.isEmpty() || !computer.isEmpty()) {
        out += " · ";
        appendHtml(out, (name.isEmpty() ? QStringLiteral("(no name)") : name).toUtf8());
        if (!computer.isEmpty()) {
            out += " on ";
            appendHtml(out, computer.toUtf8());
        }
    }
    return out + "</h3>\n";
}

// How the session ended, as the index says: only for a session the index names.
QByteArray endLine(const Session& s)
{
    if (s.id.isEmpty())
        return {};
    if (!s.end)
        return "<p class=\"end unknown\">Its end is not recorded: still at work, or the tutor was stopped.</p>\n";
    using How = sessionindex::EndEntry::How;
    const How how = s.end->how;
    QByteArray out = how == How::Finished ? "<p class=\"end finished\">Finished the set"
                                          : (how == How::Quit ? "<p class=\"end left\">Left: quit the program"
                                                              : "<p class=\"end left\">Left: closed the window");
    out += " at ";
    appendHtml(out, (s.end->time + u' ' + s.end->date).toUtf8());
    return out + ".</p>\n";
}

class HtmlReport final : public Report {
public:
    HtmlReport(QIODevice& out, const MorePages* more) : Report(out), more_(more), first_(&out)
    {
        buffer() += kPageStart;
    }

    void beginFile(const QString& path, bool grouped) override
    {
        file_ = {};
        grouped_ = grouped;
        blocks_.clear();
        blockOf_.clear();
        fileName_.clear();
        fileNameText_ = path;
        appendHtml(fileName_, path.toUtf8());
        buffer() += "<section>\n<h2>" + fileName_ + "</h2>\n";
        sectionOpen_ = true;
    }

    void session(const Session& s) override
    {
        ++file_.sessions;
        QByteArray heading =
            sessionHeading(s.number, s.date, s.set, s.name, s.computer) + endLine(s) + "<p class=\"t\">";
        appendHtmlRecordText(heading, s.headerLine);
        heading += "</p>\n";
        if (grouped_) {
            block(keyOf(s.id, s.number), heading, s.name);
            return;
        }
        closeSession();
        turnPageIfFull(heading);
        buffer() += "<div class=\"session\">\n" + heading;
        sessionOpen_ = true;
    }

    void record(const Record& r) override
    {
        ++file_.records;
        summarize(r);
        if (grouped_) {
            const QByteArray key = keyOf(r.sessionId, r.session);
            Block& b = blockOf_.contains(key) ? blocks_[blockOf_[key]]
                                              : block(key, r.session ? QByteArray() : orphanHeading(r), r.name);
            appendRow(b.rows, ++b.count, r);
            return;
        }
        if (!tableOpen_) {
            if (!r.session) {
                buffer() += "<div class=\"session\">\n<h3>Records outside any session header</h3>\n";
                sessionOpen_ = true;
            }
            buffer() += kTableHead;
            tableOpen_ = true;
            number_ = 0;
        }
        appendRow(buffer(), ++number_, r);
        flush();
    }

    void skipped(const Skipped& s) override
    {
        ++file_.skipped;
        const QByteArray text = "Skipped at line " + QByteArray::number(s.line) + ": " + QByteArray::number(s.bytes) +
                                (s.bytes == 1 ? " byte, " : " bytes, ") + s.reason.toUtf8() + '.';
        if (grouped_) {
            skippedLines_ += "<p class=\"skip\">";
            appendHtml(skippedLines_, text);
            skippedLines_ += "</p>\n";
        } else if (tableOpen_) {
            buffer() += "<tr class=\"skip\"><td colspan=\"8\">";
            appendHtml(buffer(), text);
            buffer() += "</td></tr>\n";
        } else {
            buffer() += "<p class=\"skip\">";
            appendHtml(buffer(), text);
            buffer() += "</p>\n";
        }
    }

    void endFile(const ReadTotals&) override
    {
        if (grouped_)
            writeBlocks();
        closeSession();
        buffer() += "<p class=\"summary\">" + countText(file_) + "</p>\n</section>\n";
        sectionOpen_ = false;
        all_.records += file_.records;
        all_.empty += file_.empty;
        all_.onlyReminder += file_.onlyReminder;
        all_.holdsReminder += file_.holdsReminder;
        all_.skipped += file_.skipped;
        all_.sessions += file_.sessions;
        ++files_;
        flush();
    }

    bool finish() override
    {
        if (page_ > 1) {
            endPage();
            divert(*first_);
            buffer() += "<h2>Further pages</h2>\n<p class=\"summary\">The report goes on over " +
                        QByteArray::number(page_ - 1) + (page_ == 2 ? " further page" : " further pages") +
                        ", so that each opens in a browser:</p>\n<ul>\n" + links_ + "</ul>\n";
        }
        if (!summary_.empty()) {
            QuestionSummary summary;
            for (const auto& [key, work] : summary_)
                summary.add(key.second, work.who, work.lines);
            summary.writeHtml(buffer());
        }
        buffer() += "<h2>All files</h2>\n<p class=\"summary\">" + QByteArray::number(files_) +
                    (files_ == 1 ? " file, " : " files, ") + countText(all_) + "</p>\n</body>\n</html>\n";
        return flush(true) && !pagesFailed_;
    }

private:
    // Each student's records by the line of the set, for the summary across the class. A
    // student is the name and computer the index gives; without them, the session in its file.
    void summarize(const Record& r)
    {
        if (r.set.isEmpty())
            return;
        const QByteArray set = r.set.toByteArray();
        const QString key =
            r.name.isEmpty() ? fileNameText_ + u'#' + QString::number(r.session) : r.name + u'\n' + r.computer;
        auto it = summary_.find({key, set});
        if (it == summary_.end()) {
            Work w;
            if (r.name.isEmpty())
                w.who = QStringLiteral("(no name: %1, session %2)").arg(fileNameText_).arg(r.session);
            else
                w.who = r.computer.isEmpty() ? r.name : r.name + QStringLiteral(" on ") + r.computer;
            it = summary_.emplace(std::pair{key, set}, w).first;
        }
        const int line = placeInSet(set, codepage::decode(r.line.toByteArray())).line;
        it->second.lines.add(line, r.kind == Record::Kind::Note, flagOf(r.text), r.seconds, r.text);
    }

    // At a session's start: a page that is full is closed and the rest goes to the next.
    void turnPageIfFull(const QByteArray& heading)
    {
        if (more_ && !pagesFailed_ && bytesOut() >= more_->pageBytes) {
            QIODevice* next = more_->open(page_ + 1);
            if (!next) {
                pagesFailed_ = true;
            } else {
                if (sectionOpen_)
                    buffer() += "</section>\n";
                if (page_ > 1)
                    endPage();
                divert(*next);
                ++page_;
                QByteArray back;
                appendHtml(back, more_->firstPage.toUtf8());
                buffer() += kPageStart + QByteArray("<p class=\"summary\">Page ") + QByteArray::number(page_) +
                            ", after <a href=\"../" + back + "\">the first page</a>, which lists them all.</p>\n";
                if (sectionOpen_)
                    buffer() += "<section>\n<h2>" + fileName_ + " (continued)</h2>\n";
                pageFirst_.clear();
            }
        }
        const qsizetype end = heading.indexOf("</h3>");
        pageLast_ = fileName_ + ": " + heading.mid(4, end - 4);
        if (pageFirst_.isEmpty())
            pageFirst_ = pageLast_;
    }

    // A further page ends, and the first page will list it.
    void endPage()
    {
        buffer() += "</body>\n</html>\n";
        QByteArray href;
        appendHtml(href, more_->hrefOf(page_).toUtf8());
        links_ += "<li><a href=\"" + href + "\">Page " + QByteArray::number(page_) + "</a>: " + pageFirst_;
        if (pageLast_ != pageFirst_)
            links_ += " to " + pageLast_;
        links_ += "</li>\n";
    }

    QByteArray flagCell(TextFlag flag)
    {
        switch (flag) {
        case TextFlag::None:
            return {};
        case TextFlag::Empty:
            ++file_.empty;
            return "<span class=\"flag empty\">empty</span>";
        case TextFlag::OnlyReminder:
            ++file_.onlyReminder;
            return "<span class=\"flag reminder\">only the reminder</span>";
        case TextFlag::HoldsReminder:
            ++file_.holdsReminder;
            return "<span class=\"flag reminder\">holds the reminder</span>";
        }
        return {};
    }

    void closeTable()
    {
        if (tableOpen_)
            buffer() += "</table>\n";
        tableOpen_ = false;
    }

    // A session is one block, so that printing starts it on a new page when it would
    // otherwise be split and fits on one.
    void closeSession()
    {
        closeTable();
        if (sessionOpen_)
            buffer() += "</div>\n";
        sessionOpen_ = false;
    }

    // A session's rows, gathered where the index places interleaved records.
    struct Block {
        QByteArray heading;
        QByteArray rows;
        QString name;
        int count = 0;
    };

    static QByteArray keyOf(const QByteArray& id, int number)
    {
        return id.isEmpty() ? '#' + QByteArray::number(number) : id;
    }

    static QByteArray orphanHeading(const Record& r) { return sessionHeading(0, r.date, r.set, r.name, r.computer); }

    Block& block(const QByteArray& key, const QByteArray& heading, const QString& name)
    {
        if (!blockOf_.contains(key)) {
            blockOf_.insert(key, blocks_.size());
            blocks_.append(Block{heading, {}, name, 0});
        } else if (blocks_[blockOf_[key]].heading.isEmpty()) {
            blocks_[blockOf_[key]].heading = heading;
        }
        return blocks_[blockOf_[key]];
    }

    void appendRow(QByteArray& out, int number, const Record& r)
    {
        out += "<tr><td class=\"n\">" + QByteArray::number(number) + "</td><td class=\"n\">";
        appendHtmlRecordText(out, r.time);
        out += "</td><td class=\"n\">";
        if (r.seconds)
            out += QByteArray::number(*r.seconds);
        out += r.kind == Record::Kind::Note ? "</td><td>note</td><td>" : "</td><td>response</td><td>";
        appendHtmlRecordText(out, r.question);
        out += "</td><td><div class=\"t\">";
        appendHtmlRecordText(out, r.line);
        out += "</div></td><td><div class=\"t\">";
        appendHtmlRecordText(out, r.text);
        out += "</div></td><td>" + flagCell(flagOf(r.text)) + "</td></tr>\n";
    }

    // By student: named sessions in the order of their names, then the others, each in the
    // order the file first shows it.
    void writeBlocks()
    {
        QList<qsizetype> order(blocks_.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
            const QString& x = blocks_[a].name;
            const QString& y = blocks_[b].name;
            if (x.isEmpty() != y.isEmpty())
                return y.isEmpty();
            return x.localeAwareCompare(y) < 0;
        });
        for (const qsizetype i : std::as_const(order)) {
            const Block& b = blocks_[i];
            turnPageIfFull(b.heading);
            buffer() += "<div class=\"session\">\n" + b.heading;
            if (b.count)
                buffer() += kTableHead + b.rows + "</table>\n";
            buffer() += "</div>\n";
            flush();
        }
        buffer() += skippedLines_;
        skippedLines_.clear();
        blocks_.clear();
        blockOf_.clear();
    }

    Counts file_;
    Counts all_;
    bool grouped_ = false;
    QList<Block> blocks_;
    QHash<QByteArray, qsizetype> blockOf_;
    QByteArray skippedLines_;
    int files_ = 0;
    int number_ = 0;
    bool tableOpen_ = false;
    bool sessionOpen_ = false;
    bool sectionOpen_ = false;
    QByteArray fileName_; // as the page shows it
    QString fileNameText_;
    struct Work {
        QString who;
        StudentLines lines;
    };
    std::map<std::pair<QString, QByteArray>, Work> summary_; // by student and set
    const MorePages* more_ = nullptr;
    QIODevice* first_ = nullptr;
    int page_ = 1;
    bool pagesFailed_ = false;
    QByteArray pageFirst_; // the first and last session headings of the page
    QByteArray pageLast_;
    QByteArray links_; // to the further pages, for the first
};

} // namespace

std::unique_ptr<Report> makeHtmlReport(QIODevice& out, const MorePages* more)
{
    return std::make_unique<HtmlReport>(out, more);
}

} // namespace review
