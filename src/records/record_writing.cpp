#include <QDir>

#include "platform/code_page.h"
#include "platform/prompter.h"
#include "window/main_window.h"

QString MainWindow::localPath(const QString& programPath) const
{
    return drives_.local(programPath);
}

bool MainWindow::appendToRecordFiles(PendingRecord& record, const QString& what)
{
    const AppendOutcome outcome = appendRecord(record.files, {services_.journalFolder, {}});
    // Files that took the record are done; a retry writes only to the others.
    record.files.erase(record.files.begin(), record.files.begin() + outcome.written.size());
    for (FileAppend& file : record.files)
        file.journalEntry = outcome.journalEntry;
    if (outcome.ok())
        return true;
    QString message = QStringLiteral("%1 could not be recorded in %2 (on disk: %3): %4.")
                          .arg(what, outcome.failedName, QDir::toNativeSeparators(outcome.failedPath), outcome.reason);
    if (!outcome.written.isEmpty())
        message += QStringLiteral("\n\nIt is already recorded in %1.").arg(outcome.written.join(QStringLiteral(", ")));
    QStringList missing;
    for (const FileAppend& file : record.files)
        missing << file.name;
    message += QStringLiteral("\n\nNot yet recorded in: %1.").arg(missing.join(QStringLiteral(", ")));
    record.lastMessage = message;
    return false;
}

void MainWindow::finishLeftOverRecords()
{
    if (const auto told = finishJournal({services_.journalFolder, {}}))
        services_.prompter->tell(*told);
}

bool MainWindow::refuseUnwritable(const QString& text)
{
    // The line shown goes into the record too: a stand-in character there would be a false record.
    QList<char32_t> bad = codepage::unmappablePoints(text);
    const bool inText = !bad.isEmpty();
    if (!inText)
        bad = codepage::unmappablePoints(currentLine);
    if (bad.isEmpty())
        return false;
    QStringList named;
    for (const char32_t point : bad) {
        if (named.size() == 20) {
            named << QStringLiteral("…");
            break;
        }
        const QString shown = QChar::requiresSurrogates(point)
                                  ? QString(QChar(QChar::highSurrogate(point))) + QChar(QChar::lowSurrogate(point))
                                  : QString(QChar(char16_t(point)));
        named << QStringLiteral("%1 (U+%2)").arg(shown, QString::number(uint(point), 16).toUpper().rightJustified(4, u'0'));
    }
    const QString what = inText ? QStringLiteral("Your text was not recorded: the record files cannot hold these "
                                                 "characters: %1.\n\nPlease replace them; your text stays in the "
                                                 "answer box.")
                                : QStringLiteral("Your text was not recorded: the line of the class notes it answers "
                                                 "holds characters that the record files cannot hold: %1.\n\nYour "
                                                 "text stays in the answer box.");
    services_.prompter->tell(what.arg(named.join(QStringLiteral(", "))));
    return true;
}

FileAppend MainWindow::recordFor(const QString& programPath, const QString& text) const
{
    return {programPath, localPath(programPath), codepage::encode(text)};
}
