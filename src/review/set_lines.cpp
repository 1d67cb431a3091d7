#include "set_lines.h"

#include <QHash>
#include <QStringList>

#include "content/class_notes_content.h"

namespace review {

SetPlace placeInSet(const QByteArray& set, const QString& line)
{
    struct Set {
        QHash<QString, int> numbers;
        int lines = 0;
    };
    static const QStringList content = readClassNotes(QStringLiteral(":/content/class_notes.json")).lines;
    static QHash<QByteArray, Set> sets;
    auto isHeader = [](const QString& l) {
        return l.size() >= 4 && l[0].isDigit() && l[1].isDigit() && l[2].isDigit() && l[3] == u'.';
    };
    auto it = sets.find(set);
    if (it == sets.end()) {
        Set found;
        const QString start = QString::fromLatin1(set) + u'.';
        qsizetype i = 0;
        while (i < content.size() && !content[i].startsWith(start))
            ++i;
        for (++i; i < content.size() && !isHeader(content[i]); ++i) {
            if (content[i].trimmed().isEmpty())
                continue;
            ++found.lines;
            found.numbers.insert(content[i].trimmed(), found.lines);
        }
        it = sets.insert(set, found);
    }
    return {it->numbers.value(line.trimmed()), it->lines};
}

} // namespace review
