#include "content/picture_line.h"
#include "window/main_window.h"

QString MainWindow::remSpaces(const QString& text) const
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c != u' ' && c != u'-')
            result += c;
    }
    return result;
}

QString MainWindow::routineNameOf(const QString& pictureLine) const
{
    return remSpaces(rt::midFrom(pictureLine, 10)).toLower();
}

void MainWindow::runRoutine(const QString& routine)
{
    if (ended_)
        return;
    if (routine == QLatin1String("graph1"))
        graph1();
    else if (routine == QLatin1String("graph2"))
        graph2();
    else if (routine == QLatin1String("graph3"))
        graph3();
    else
        endProgram();
}

void MainWindow::cmd_next_picture_Click()
{
    for (int i = 1; i <= 2; ++i) {
        const long long k = static_cast<long long>(session_.lineIndex()) + i;
        // Past the last slot there are no lines, so no picture lines either.
        if (k < 0 || k > Session::kLastSlot)
            continue;
        const QString line = session_.line(int(k));
        // Unlike a question step, no length test: the bare marker gives the empty name.
        if (!isPictureLine(line))
            continue;
        runRoutine(routineNameOf(line));
        if (ended_)
            return;
        session_.moveTo(session_.lineIndex() + i);
    }
}
