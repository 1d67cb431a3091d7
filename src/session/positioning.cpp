#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include "platform/prompter.h"
#include "platform/runtime_text.h"
#include "session/record_folders.h"
#include "storage/plain_reason.h"
#include "storage/record_files.h"
#include "window/main_window.h"

namespace {

const QString kMendOrQuit = QStringLiteral("Mend the folder or file, then choose Retry; or Quit to end the program.");

// Empty when the folder now exists, otherwise why it could not be made.
std::optional<QString> createFolder(const QString& path)
{
    if (QDir().mkpath(path))
        return std::nullopt;
    // The first folder on the way that is missing, and the one it would go in.
    QFileInfo missing(path);
    while (!QFileInfo::exists(missing.absolutePath()) && missing.absolutePath() != missing.absoluteFilePath())
        missing = QFileInfo(missing.absolutePath());
    const QString parent = QDir::toNativeSeparators(missing.absolutePath());
    if (!QFileInfo(missing.absolutePath()).isDir())
        return QStringLiteral("%1 is a file, not a folder").arg(parent);
#ifndef Q_OS_WIN
    if (::mkdir(QFile::encodeName(missing.absoluteFilePath()).constData(), 0777) != 0) {
        switch (errno) {
        case EACCES:
        case EPERM:
            return QStringLiteral("the folder %1 is read-only (no permission to create a folder in it)").arg(parent);
        case EROFS:
            return QStringLiteral("the disk is read-only");
        default:
            return plainReason(errno, missing.absoluteFilePath());
        }
    }
    if (QDir().mkpath(path))
        return std::nullopt;
#endif
    return QStringLiteral("the folder %1 does not let a folder be created in it").arg(parent);
}

// After a failed session header: true to try again, false to end the program.
bool mayRetryStartup(Prompter& prompter, const QString& failure, const QString& dataFolder, const QString& onDisk)
{
    // Only the student's own home folder is offered for creating; the network folder
    // belongs to the institution.
    if (dataFolder != folders::kHome || QFileInfo::exists(onDisk))
        return prompter.retryOrQuit(failure + QStringLiteral("\n\n") + kMendOrQuit);
    const QString offer = QStringLiteral("\n\nThe home folder %1 (on disk: %2) does not exist yet. Choose Create to "
                                         "create it now; or make it yourself and choose Retry; or Quit to end the "
                                         "program.")
                              .arg(dataFolder, QDir::toNativeSeparators(onDisk));
    switch (prompter.createRetryOrQuit(failure + offer)) {
    case Prompter::FolderChoice::Quit:
        return false;
    case Prompter::FolderChoice::Retry:
        return true;
    case Prompter::FolderChoice::Create:
        break;
    }
    const std::optional<QString> why = createFolder(onDisk);
    if (!why)
        return true;
    return prompter.retryOrQuit(QStringLiteral("The home folder %1 could not be created (on disk: %2): %3.\n\n")
                                    .arg(dataFolder, QDir::toNativeSeparators(onDisk), *why) +
                                kMendOrQuit);
}

} // namespace

void MainWindow::startClassNotes()
{
    while (!positionAtClassNotes()) {
        const QString shown =
            classNotesEntry_.size() > 40 ? classNotesEntry_.left(40) + QStringLiteral("…") : classNotesEntry_;
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
    PendingRecord record{RecordKind::SessionHeader, {}, {}, composeRecord(RecordKind::SessionHeader, {}), {}, {}};
    // A retry writes only to the files still missing the header.
    while (const auto failure = appendToRecordFiles(record)) {
        if (!mayRetryStartup(*services_.prompter, failure->reason, dataFolder, drives_.local(dataFolder)))
            return endProgram();
    }
}
