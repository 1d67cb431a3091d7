#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <memory>

#include "records/record_book.h"
#include "session/session.h"
#include "support/counting_sound.h"
#include "support/scripted_prompter.h"
#include "support/settable_clock.h"
#include "support/test_files.h"

// What every scripted tutor is set up with: scripted prompts, a settable clock, a fixed seed,
// a temporary drives root and journal. Set the fields before starting to change them.
struct TutorSetup {
    QTemporaryDir drives;
    QTemporaryDir journal;
    ScriptedPrompter prompter;
    SettableClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 15, 30))};
    CountingSound sound;
    int ends = 0;
    double seed = 1.0;
    QString contentPath = QStringLiteral(":/content/class_notes.json");
    QString drivesRoot = drives.path();
    QString journalFolder = journal.path();
    Clock* clockInUse = &clock;
    Sound* soundInUse = &sound;
    // Another prompter than the script, set before starting.
    Prompter* prompterInUse = &prompter;

    explicit TutorSetup(bool makeHomeFolder)
    {
        if (makeHomeFolder)
            QDir(drives.path()).mkpath(testfiles::kHomeFolder);
    }
    // The three start-up answers of a home user choosing a set.
    static QList<std::optional<QString>> homeAnswers(const QString& classNotes)
    {
        return {QStringLiteral("1"), QStringLiteral("Ann"), classNotes};
    }
    QString homePath(const QString& name) const { return testfiles::homePath(drivesRoot, name); }
    QByteArray homeBytes(const QString& name) const { return testfiles::read(homePath(name)); }
};

// The tutor without a window: the session and the record book, with an answer box kept as
// text and the window's two box actions, so that a test walks a session as a student would.
struct CoreTutor : TutorSetup {
    std::unique_ptr<Session> session;
    std::unique_ptr<RecordBook> records;
    QString questionBox;
    QString answerBox = QStringLiteral(" ");

    explicit CoreTutor(bool makeHomeFolder = true) : TutorSetup(makeHomeFolder) {}

    // The session and the record book, not started.
    RecordBook& create();
    // Start-up with the given answers: the questions, the chosen set, the left-over records,
    // the session header.
    Session& start(const QList<std::optional<QString>>& answers);
    Session& startHome(const QString& classNotes) { return start(homeAnswers(classNotes)); }

    // The buttons, as the window passes them on (picture lines are stepped over undrawn).
    bool next();
    void enterResponse(const QString& text);
    void saveAsNotes(const QString& text);
    void displayNotes();
    void apply(Boxes boxes);
};
