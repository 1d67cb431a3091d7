#include "question_summary.h"

#include <QStringList>

#include <algorithm>

#include "platform/code_page.h"
#include "set_lines.h"

namespace review {
namespace {

constexpr qsizetype kAnswerShown = 60; // bytes of an answer in a count's list

constexpr qsizetype kLineShown = 80;

void appendCount(QByteArray& out, const QList<QByteArray>& items, int count)
{
    out += "<td class=\"n\">";
    if (count == 0) {
        out += "0</td>";
        return;
    }
    out += "<details><summary>" + QByteArray::number(count) + "</summary><ul>";
    for (const QByteArray& item : items)
        out += "<li>" + item + "</li>";
    if (count > items.size())
        out += "<li>… and " + QByteArray::number(count - items.size()) + " more</li>";
    out += "</ul></details></td>";
}

} // namespace

void StudentLines::add(int line, bool note, TextFlag flag, std::optional<int> seconds, QByteArrayView text)
{
    if (line <= 0) {
        ++elsewhere;
        return;
    }
    furthest = std::max(furthest, line);
    Mark& m = marks[line];
    if (note || m.answered)
        return;
    if (flag == TextFlag::None || flag == TextFlag::HoldsReminder) {
        m.answered = true;
        m.onlyReminder = false;
        m.seconds = seconds;
        m.answer = text.first(std::min(text.size(), kAnswerShown + 1)).toByteArray();
    } else if (flag == TextFlag::OnlyReminder) {
        m.onlyReminder = true;
    }
}

void StudentLines::merge(const StudentLines& other)
{
    furthest = std::max(furthest, other.furthest);
    elsewhere += other.elsewhere;
    for (auto it = other.marks.cbegin(); it != other.marks.cend(); ++it) {
        Mark& m = marks[it.key()];
        if (m.answered)
            continue;
        if (it->answered)
            m = *it;
        else
            m.onlyReminder = m.onlyReminder || it->onlyReminder;
    }
}

void QuestionSummary::add(const QByteArray& set, const QString& who, const StudentLines& lines)
{
    sets_[set] << Student{who, &lines};
}

void QuestionSummary::writeHtml(QByteArray& out) const
{
    out += "<section>\n<h2>Each line across the class</h2>\n";
    for (auto set = sets_.cbegin(); set != sets_.cend(); ++set) {
        QList<Student> students = *set;
        std::stable_sort(students.begin(), students.end(),
                         [](const Student& a, const Student& b) { return a.who.localeAwareCompare(b.who) < 0; });
        const QStringList texts = setLines(set.key());
        const int lines = int(texts.size());
        int elsewhere = 0;
        for (const Student& s : std::as_const(students))
            elsewhere += s.lines->elsewhere;
        out += "<h3>Class notes ";
        appendHtmlRecordText(out, set.key());
        out +=
            " · " + QByteArray::number(students.size()) + (students.size() == 1 ? " student" : " students") + "</h3>\n";
        const bool reached =
            std::any_of(students.cbegin(), students.cend(), [](const Student& s) { return s.lines->furthest > 0; });
        if (lines == 0 || !reached) {
            out += lines ? "<p class=\"summary\">No record against a line of it.</p>\n"
                         : "<p class=\"summary\">A set the course content does not hold: its lines are not summed "
                           "up.</p>\n";
            continue;
        }
        out += "<table "
               "class=\"questions\">\n<thead><tr><th>#</th><th>Line</th><th>Reached</th><th>Answered</th><th>Only the "
               "reminder</th><th>Nothing</th><th>Median seconds to answer</th></tr></thead>\n";
        for (int line = 1; line <= lines; ++line) {
            int reached = 0, answered = 0, reminder = 0, nothing = 0;
            QList<QByteArray> reachedBy, answeredBy, reminderBy, nothingBy;
            QList<int> seconds;
            for (const Student& s : std::as_const(students)) {
                if (s.lines->furthest < line)
                    continue;
                QByteArray who;
                appendHtml(who, s.who.toUtf8());
                auto list = [&](QList<QByteArray>& items, int& count, const QByteArray& item) {
                    if (++count <= listed_)
                        items << item;
                };
                list(reachedBy, reached, who);
                const auto m = s.lines->marks.constFind(line);
                if (m != s.lines->marks.cend() && m->answered) {
                    QByteArray item = who + ": <q>";
                    appendHtmlRecordText(item, m->answer.left(kAnswerShown));
                    item += m->answer.size() > kAnswerShown ? "…</q>" : "</q>";
                    list(answeredBy, answered, item);
                    if (m->seconds)
                        seconds << *m->seconds;
                } else if (m != s.lines->marks.cend() && m->onlyReminder) {
                    list(reminderBy, reminder, who);
                } else {
                    list(nothingBy, nothing, who);
                }
            }
            const QString& text = texts[line - 1];
            out += "<tr><td class=\"n\">" + QByteArray::number(line) + "</td><td>";
            appendHtml(out, (text.size() > kLineShown ? text.left(kLineShown - 1) + u'…' : text).toUtf8());
            out += "</td>";
            appendCount(out, reachedBy, reached);
            appendCount(out, answeredBy, answered);
            appendCount(out, reminderBy, reminder);
            appendCount(out, nothingBy, nothing);
            out += "<td class=\"n\">";
            if (!seconds.isEmpty()) {
                std::sort(seconds.begin(), seconds.end());
                const qsizetype mid = seconds.size() / 2;
                const int median = seconds.size() % 2 ? seconds[mid] : (seconds[mid - 1] + seconds[mid] + 1) / 2;
                out += QByteArray::number(median);
            } else {
                out += "—";
            }
            out += "</td></tr>\n";
        }
        out += "</table>\n";
        if (elsewhere) {
            out += "<p class=\"summary\">" + QByteArray::number(elsewhere) + (elsewhere == 1 ? " record" : " records") +
                   " against lines this set does not hold.</p>\n";
        }
    }
    out += "</section>\n";
}

} // namespace review
