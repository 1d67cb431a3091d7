#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Puts line k of `lines` into table[cursor + k], advancing the cursor before each write.
// Stops without writing at the first index outside the table and returns false, leaving the
// cursor on that index; otherwise returns the cursor to 0.
bool fillLineTable(std::vector<QString>& table, int& cursor, const QStringList& lines);
