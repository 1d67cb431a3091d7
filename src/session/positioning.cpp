#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/runtime_text.h"
#include "records/record_layout.h"
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
    finishLeftOverRecords();
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
    const QString codeLine = makeCodeLine(sessionCodeNbr);
    const QString headerLine = classNotesLines[size_t(lineIndex)];
    const QString date = services_.clock->dateText();
    auto header = [&] {
        return records::sessionHeader(codeLine, code(QStringLiteral("assignment #") + classNotesNo, sessionCodeNbr),
                                      code(headerLine, sessionCodeNbr), courseTitle, date);
    };
    PendingRecord record;
    record.kind = QStringLiteral("header");
    record.files = {recordFor(masterFile, header()), recordFor(sendFile, header())};
    while (!appendToRecordFiles(record, QStringLiteral("The start of this session"))) {
        if (!services_.prompter->retryOrQuit(record.lastMessage +
                                             QStringLiteral("\n\nMend the folder or file, then choose Retry; "
                                                            "or Quit to end the program.")))
            return endProgram();
    }
}
