#include <QLocale>

#include "content/class_notes_content.h"
#include "content/line_table.h"
#include "platform/prompter.h"
#include "window/main_window.h"

namespace {

QString withThousands(qsizetype n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(qlonglong(n));
}

} // namespace

void MainWindow::loadClassNotes()
{
    const ClassNotesContent content = readClassNotes(services_.contentPath);
    if (!content.error.isEmpty()) {
        services_.prompter->tell(QStringLiteral("The class notes in \"%1\" cannot be used: %2. The program ends.")
                                     .arg(services_.contentPath, content.error));
        return endProgram();
    }
    if (!fillLineTable(classNotesLines, lineIndex, content.lines)) {
        services_.prompter->tell(
            QStringLiteral("The class notes in \"%1\" have %2 lines, more than the %3 the tutor can hold. "
                           "Nothing beyond line %3 was loaded, and the program ends.")
                .arg(services_.contentPath, withThousands(content.lines.size()), withThousands(kLastSlot)));
        return endProgram();
    }
}

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
