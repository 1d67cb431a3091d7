#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

#include "review_text.h"

// Each line of a set across the class: who reached it, who answered it, who left only the
// reminder or nothing, and how long answers took. Lines the course content does not hold are
// only counted, so that a folder of odd files cannot make the summary as large as the records.
namespace review {

// One student's records on one set, line by line (the line's number in the set).
struct StudentLines {
    struct Mark {
        bool answered = false;
        bool onlyReminder = false;
        std::optional<int> seconds; // of the first answer
        QByteArray answer;          // its first bytes, in the files' code page
    };
    int furthest = 0;
    QMap<int, Mark> marks;
    int elsewhere = 0; // records against lines the set does not hold

    // A record against `line` (0: a line the set does not hold).
    void add(int line, bool note, TextFlag flag, std::optional<int> seconds, QByteArrayView text);
    // The same student's work from another session or file.
    void merge(const StudentLines& other);
};

class QuestionSummary {
public:
    // `listed`: how many students each count opens to, at most.
    explicit QuestionSummary(int listed = 40) : listed_(listed) {}

    // `set` as the session header writes it (005); `who` as the page names the student.
    void add(const QByteArray& set, const QString& who, const StudentLines& lines);
    bool isEmpty() const { return sets_.isEmpty(); }
    // A section: a table per set, a row per line of it.
    void writeHtml(QByteArray& out) const;

private:
    struct Student {
        QString who;
        const StudentLines* lines;
    };
    int listed_;
    QMap<QByteArray, QList<Student>> sets_;
};

} // namespace review
