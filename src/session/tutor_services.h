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
