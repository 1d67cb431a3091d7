#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace review {

// Where a line lies in its set of the course content: its number among the set's lines (empty
// slots not counted) and how many there are; line 0 for a line the content does not hold.
struct SetPlace {
    int line = 0;
    int lines = 0;
};

// `set` as the session header writes it (005).
SetPlace placeInSet(const QByteArray& set, const QString& line);
// The set's lines, trimmed, in their order: line n is at n - 1.
QStringList setLines(const QByteArray& set);

} // namespace review
