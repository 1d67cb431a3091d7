#pragma once

#include <QString>

#include <functional>
#include <optional>

#include "session/session_services.h"
#include "storage/record_journal.h"

// What the record book needs beyond the walk's services: where the files are.
struct RecordServices : SessionServices {
    // Where records are kept until every record file holds them: local, never the shared folder.
    QString journalFolder = journal::defaultFolder();
    // Told who holds the record files while a record waits for them; an empty text when the
    // wait is over.
    std::function<void(const QString&)> waiting{};
    // Where the student's records are, said each time it changes while they are sent behind
    // the scenes: the window shows it and has it announced.
    std::function<void(const QString&)> recordsWhere{};
    // Whether records for the network folder are kept here first and sent behind the scenes;
    // none: where its file system is a network one. The home folder is always written at once.
    std::optional<bool> sendLater{};
    // How long a record may take to reach the class folder before the student is told that it
    // is kept on this computer.
    int keptAfterMs = 500;
    // How long leaving waits for records still to send before the student may go without them.
    int leaveWaitMs = 10000;
};
