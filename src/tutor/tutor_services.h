#pragma once

#include <QString>

#include <functional>
#include <optional>

#include "storage/record_journal.h"

class Clock;
class Prompter;

// What the tutor's Core needs from its surroundings: the session, the record book and the
// controller share this one set; tests hand in stand-ins.
struct TutorServices {
    Prompter* prompter = nullptr;
    Clock* clock = nullptr;
    // The class-notes content: a JSON array of lines (the compiled-in one by default).
    QString contentPath = QStringLiteral(":/content/class_notes.json");
    // A fixed seed instead of the clock's seconds since midnight.
    std::optional<double> seed;
    QString drivesRoot;
    // Where records are kept until every record file holds them: local, never the shared folder.
    QString journalFolder = journal::defaultFolder();
    // Told who holds the record files while a record waits for them; an empty text when the
    // wait is over.
    std::function<void(const QString&)> waiting{};
    // The computer's name as the session index gives it; none: the host name.
    QString hostName{};
};
