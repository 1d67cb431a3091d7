#include <QFileInfo>

#include "platform/code_page.h"
#include "platform/prompter.h"
#include "records/record_book.h"
#include "session/session.h"

std::optional<QString> RecordBook::displayNoteFile()
{
    channels_.close(3);
    const QString& notesFile = session_.notesFile();
    const QString path = drives_.local(notesFile);
    // Notes kept on this computer and still to send are shown as the file will hold them.
    QByteArray waiting;
    for (const auto& [serial, bytes] : notesToSend_)
        waiting += bytes;
    waiting.replace("\r\n", "");
    waiting.replace('\r', "");
    if (!waiting.isEmpty() && !QFileInfo::exists(path))
        return session_.addToCurrentText(codepage::decode(waiting));
    if (!QFileInfo::exists(path)) {
        services_.prompter->tell(QStringLiteral("No notes have been saved yet: use \"Save as Notes\" to keep a note "
                                                "(they go to %1).")
                                     .arg(notesFile));
        return std::nullopt;
    }
    if (const auto failure = channels_.open(3, path, Channels::Mode::Input)) {
        services_.prompter->tell(
            QStringLiteral("The notes in %1 could not be read: %2.").arg(notesFile, failure->reason));
        return std::nullopt;
    }
    QString gathered;
    while (!channels_.atEnd(3))
        gathered += codepage::decode(channels_.readLine(3));
    channels_.close(3);
    return session_.addToCurrentText(gathered + codepage::decode(waiting));
}
