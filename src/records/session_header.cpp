#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include "platform/prompter.h"
#include "records/record_book.h"
#include "session/record_folders.h"
#include "session/session.h"
#include "storage/plain_reason.h"

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
        // Permission is about the folder it goes in, not about a file.
        if (errno == EACCES || errno == EPERM)
            return QStringLiteral("the folder %1 is read-only (no permission to create a folder in it)").arg(parent);
        return plainReason(errno, missing.absoluteFilePath());
    }
    if (QDir().mkpath(path))
        return std::nullopt;
#endif
    return QStringLiteral("the folder %1 does not let a folder be created in it").arg(parent);
}

// True to try again, false to end the program. Only the student's own home folder is
// offered for creating; the network folder belongs to the institution.
bool mayRetry(Prompter& prompter, const QString& message, Prompter::FolderChoice preferred, const QString& dataFolder,
              const QString& onDisk)
{
    switch (prompter.createRetryOrQuit(message, preferred)) {
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

void RecordBook::writeSessionHeader()
{
    const QString& folder = session_.dataFolder();
    const QString onDisk = drives_.local(folder);
    const bool ownFolder = folder == folders::kHome;
    // On the first day the student's own folder is not there yet: that is a question, not a failure.
    if (ownFolder && !QFileInfo::exists(onDisk)) {
        const QString question = QStringLiteral("Your answers and notes are kept in the folder %1 (on disk: %2), "
                                                "which does not exist yet. Create it now?")
                                     .arg(folder, QDir::toNativeSeparators(onDisk));
        if (!mayRetry(*services_.prompter, question, Prompter::FolderChoice::Create, folder, onDisk))
            return session_.end();
    }
    PendingRecord header{RecordKind::SessionHeader, {}, {}, composeRecord(RecordKind::SessionHeader, {}), {}};
    // A retry writes only to the files still missing the header.
    for (;;) {
        // Behind the scenes, first in the session's line: the window does not wait on the share. The
        // folder is only looked at here, never created; what the share refuses is told as for any
        // record kept here. Without a journal, or once some file took it, it goes straight there.
        // Whether the folder is a network one is asked only once it is there: the answer is kept.
        const bool untouched = header.recordedIn.isEmpty() && header.journalEntry.isEmpty();
        if (untouched && QFileInfo(onDisk).isDir() && sendsLater() && !keepAndSend(RecordKind::SessionHeader, {}))
            return;
        const auto failure = appendToRecordFiles(header);
        if (!failure)
            return;
        if (!ownFolder || QFileInfo::exists(onDisk)) {
            if (!services_.prompter->retryOrQuit(failure->reason + QStringLiteral("\n\n") + kMendOrQuit))
                return session_.end();
            continue;
        }
        const QString offer =
            QStringLiteral("\n\nThe home folder %1 (on disk: %2) does not exist yet. Choose Create to "
                           "create it now; or make it yourself and choose Retry; or Quit to end "
                           "the program.")
                .arg(folder, QDir::toNativeSeparators(onDisk));
        if (!mayRetry(*services_.prompter, failure->reason + offer, Prompter::FolderChoice::Retry, folder, onDisk))
            return session_.end();
    }
}
