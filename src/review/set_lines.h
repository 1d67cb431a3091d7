#pragma once

#include <QByteArray>
#include <QString>

namespace review {

// Where a line lies in its set of the course content: its number among the set's lines (empty
// slots not counted) and how many there are; line 0 for a line the content does not hold.
struct SetPlace {
    int line = 0;
    int lines = 0;
};

// `set` as the session header writes it (005).
SetPlace placeInSet(const QByteArray& set, const QString& line);

} // namespace review
