#pragma once

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

#include "support/counting_sound.h"
#include "support/scripted_prompter.h"
#include "support/settable_clock.h"
#include "support/test_files.h"
#include "tutor/tutor_controller.h"

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
    QString hostName;                            // none: this computer's
    std::function<void(const QString&)> waiting; // told while a record waits for the files
    mutable QStringList where;                   // every word of where the records are, in order
    std::optional<bool> sendLater;
    int leaveWaitMs = 10000, keptAfterMs = 500;

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
    // Content of the test's own: line k of `lines` goes to slot k + 1.
    void useLines(const QStringList& lines)
    {
        contentPath = journal.filePath(QStringLiteral("content.json"));
        const bool written = testfiles::write(contentPath, QJsonDocument(QJsonArray::fromStringList(lines)).toJson());
        Q_ASSERT(written);
        Q_UNUSED(written);
    }
    TutorServices tutorServices() const
    {
        TutorServices s;
        s.prompter = prompterInUse;
        s.clock = clockInUse;
        s.contentPath = contentPath;
        s.seed = seed;
        s.drivesRoot = drivesRoot;
        s.journalFolder = journalFolder;
        s.hostName = hostName;
        s.waiting = waiting;
        s.recordsWhere = [where = &where](const QString& text) { *where << text; };
        s.sendLater = sendLater;
        s.leaveWaitMs = leaveWaitMs;
        s.keptAfterMs = keptAfterMs;
        return s;
    }
};

// The whole line table, slot 0 to the last.
inline std::vector<QString> lineTableOf(const Session& session)
{
    std::vector<QString> table;
    for (int slot = 0; slot <= Session::kLastSlot; ++slot)
        table.push_back(session.line(slot));
    return table;
}

// Drawings that keep the names of the routines asked for; the graph names are known.
struct NamedDrawings final : PictureRoutines {
    QStringList known{QStringLiteral("graph1"), QStringLiteral("graph2"), QStringLiteral("graph3")};
    QStringList drawn;
    bool drawRoutine(const QString& name) override
    {
        if (!known.contains(name))
            return false;
        drawn << name;
        return true;
    }
    QStringList routineNames() const override { return known; }
    QString routineTitle(const QString& name) const override { return QStringLiteral("title of ") + name; }
};

// The tutor's controller without a window, its two boxes kept as texts.
struct HeadlessTutor : TutorSetup {
    NamedDrawings drawings;
    std::unique_ptr<TutorController> tutor;
    TextBoxes boxes;

    explicit HeadlessTutor(bool makeHomeFolder = true) : TutorSetup(makeHomeFolder) {}

    // The controller, not started.
    TutorController& create()
    {
        tutor = std::make_unique<TutorController>(tutorServices(), drawings);
        tutor->setOnEnd([this] { ++ends; });
        return *tutor;
    }
    // Start-up with the given answers.
    const Session& start(const QList<std::optional<QString>>& answers)
    {
        prompter.answers = answers;
        create().start();
        return tutor->session();
    }
    const Session& startHome(const QString& classNotes) { return start(homeAnswers(classNotes)); }
    const Session& session() const { return tutor->session(); }
    RecordBook& records() { return tutor->records(); }

    // The buttons, with the text typed into the answer box first where one is given.
    bool next() { return tutor->next(boxes); }
    void enterResponse(const QString& text)
    {
        boxes.answer = text;
        tutor->enterResponse(boxes);
    }
    void saveAsNotes(const QString& text)
    {
        boxes.answer = text;
        tutor->saveAsNotes(boxes);
    }
    void displayNotes() { tutor->displayNotes(boxes); }
};
