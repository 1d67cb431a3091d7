#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class Clock;
class Prompter;

// What the walk needs from its surroundings. The tutor's services fill in the computer's name
// and the id maker, which live with the record files the walk knows nothing of.
struct SessionServices {
    Prompter* prompter = nullptr;
    Clock* clock = nullptr;
    // The class-notes content: a JSON array of lines (the compiled-in one by default).
    QString contentPath = QStringLiteral(":/content/class_notes.json");
    // Where the drive letters of the record folders lie (see DrivePaths).
    QString drivesRoot;
    // A fixed seed instead of the clock's seconds since midnight.
    std::optional<double> seed;
    // The computer's name as the session index gives it.
    QString hostName{};
    // A fresh session id for the session index, apart from the walk's seeded generator.
    std::function<QByteArray()> newSessionId{};
};
