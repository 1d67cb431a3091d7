#include "content/line_table.h"

bool fillLineTable(std::vector<QString>& table, int& cursor, const QStringList& lines)
{
    for (const QString& line : lines) {
        ++cursor;
        if (cursor < 0 || size_t(cursor) >= table.size())
            return false;
        table[size_t(cursor)] = line;
    }
    cursor = 0;
    return true;
}
