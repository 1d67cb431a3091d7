#pragma once

#include <QString>

#include <functional>

#include "session/session_services.h"
#include "storage/record_journal.h"

// What the record book needs beyond the walk's services: where the files are.
struct RecordServices : SessionServices {
    QString drivesRoot;
    // Where records are kept until every record file holds them: local, never the shared folder.
    QString journalFolder = journal::defaultFolder();
    // Told who holds the record files while a record waits for them; an empty text when the
    // wait is over.
    std::function<void(const QString&)> waiting{};
};
