#include "set_lines.h"

#include <QHash>
#include <QStringList>

#include "content/class_notes_content.h"

namespace review {

namespace {

struct Set {
    QHash<QString, int> numbers;
    QStringList texts;
};

const Set& setOf(const QByteArray& set)
{
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
            found.texts << content[i].trimmed();
            found.numbers.insert(found.texts.last(), int(found.texts.size()));
        }
        it = sets.insert(set, found);
    }
    return *it;
}

} // namespace

SetPlace placeInSet(const QByteArray& set, const QString& line)
{
    const Set& s = setOf(set);
    return {s.numbers.value(line.trimmed()), int(s.texts.size())};
}

QStringList setLines(const QByteArray& set)
{
    return setOf(set).texts;
}

} // namespace review
