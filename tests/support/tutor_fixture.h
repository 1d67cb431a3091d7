#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/sound.h"
#include "window/command_button.h"
#include "window/main_window.h"

// A tutor with scripted prompts, a settable clock, a fixed seed and a temporary drives root.
struct Tutor {
    QTemporaryDir drives;
    ScriptedPrompter prompter;
    SettableClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 15, 30))};
    CountingSound sound;
    int ends = 0;
    double seed = 1.0;
    QString contentPath = QStringLiteral(":/content/class_notes.json");
    std::unique_ptr<MainWindow> window;

    explicit Tutor(bool makeHomeFolder = true)
    {
        if (makeHomeFolder)
            QDir(drives.path()).mkpath(QStringLiteral("c/tulmarox"));
    }

    TutorServices services()
    {
        TutorServices s;
        s.prompter = &prompter;
        s.clock = &clock;
        s.sound = &sound;
        s.drivesRoot = drives.path();
        s.contentPath = contentPath;
        s.seed = seed;
        s.leaveEventLoop = [this] { ++ends; };
        return s;
    }

    MainWindow& create()
    {
        window = std::make_unique<MainWindow>(services());
        return *window;
    }

    // Runs start-up with the given answers to the prompts.
    MainWindow& start(const QList<std::optional<QString>>& answers)
    {
        prompter.answers = answers;
        create();
        window->Form_Load();
        return *window;
    }

    MainWindow& startHome(const QString& classNotes) { return start({QStringLiteral("1"), QStringLiteral("Ann"), classNotes}); }

    QString homePath(const QString& name) const { return drives.path() + QStringLiteral("/c/tulmarox/") + name; }

    QByteArray homeBytes(const QString& name) const
    {
        QFile f(homePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll();
    }

    template <typename T>
    T* control(const char* name) const
    {
        return window->findChild<T*>(QLatin1String(name));
    }
};

// The bytes of a text as the record files hold it.
QByteArray recordBytes(const QString& text);
