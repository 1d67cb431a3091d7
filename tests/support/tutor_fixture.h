#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "support/counting_sound.h"
#include "support/scripted_prompter.h"
#include "support/settable_clock.h"
#include "widgets/command_button.h"
#include "window/main_window.h"

// A tutor with scripted prompts, a settable clock, a fixed seed and a temporary drives root:
// the one set-up that tests, benchmarks and the reliability tools share.
struct Tutor {
    QTemporaryDir drives;
    QTemporaryDir journal;
    ScriptedPrompter prompter;
    SettableClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 15, 30))};
    CountingSound sound;
    int ends = 0;
    double seed = 1.0;
    QString contentPath = QStringLiteral(":/content/class_notes.json");
    // Set before create() to use another drives root, clock or sound than the tutor's own.
    QString drivesRoot = drives.path();
    QString journalFolder = journal.path();
    Clock* clockInUse = &clock;
    Sound* soundInUse = &sound;
    std::unique_ptr<MainWindow> window;

    explicit Tutor(bool makeHomeFolder = true)
    {
        if (makeHomeFolder)
            QDir(drives.path()).mkpath(QStringLiteral("c/tulmarox"));
    }

    TutorServices services();
    MainWindow& create();
    // Runs start-up with the given answers to the prompts.
    MainWindow& start(const QList<std::optional<QString>>& answers);
    MainWindow& startHome(const QString& classNotes);

    QString homePath(const QString& name) const;
    QByteArray homeBytes(const QString& name) const;

    template <typename T> T* control(const char* name) const { return window->findChild<T*>(QLatin1String(name)); }
};

// The bytes of a text as the record files hold it.
QByteArray recordBytes(const QString& text);
