#include "platform/prompter.h"
#include "platform/runtime_text.h"
#include "window/main_window.h"

void MainWindow::startClassNotes()
{
    while (!positionAtClassNotes()) {
        const QString shown = classNotesEntry_.size() > 40 ? classNotesEntry_.left(40) + QStringLiteral("…")
                                                           : classNotesEntry_;
        services_.prompter->tell(QStringLiteral("There are no class notes \"%1\". The class notes that exist are 1 to "
                                                "15; please enter one of those numbers.")
                                     .arg(shown));
        const auto entry = services_.prompter->ask(kClassNotesPrompt);
        if (!entry)
            return endProgram();
        setClassNotesNumbers(*entry);
    }
    writeSessionHeader();
}

bool MainWindow::positionAtClassNotes()
{
    const QString wanted = classNotesNo + u'.';
    lineIndex = 0;
    QString line;
    while (rt::left(line, 4) != wanted) {
        if (lineIndex >= kLastSlot) {
            lineIndex = 0;
            return false;
        }
        ++lineIndex;
        line = classNotesLines[size_t(lineIndex)];
    }
    return true;
}

void MainWindow::writeSessionHeader()
{
    PendingRecord record{RecordKind::SessionHeader, {}, {}, composeRecord(RecordKind::SessionHeader, {}), {}};
    // A retry writes only to the files still missing the header.
    while (const auto failure = appendToRecordFiles(record)) {
        if (!services_.prompter->retryOrQuit(failure->reason +
                                             QStringLiteral("\n\nMend the folder or file, then choose Retry; "
                                                            "or Quit to end the program.")))
            return endProgram();
    }
}
