#pragma once

#include <QList>
#include <QStringList>

#include "platform/prompter.h"

// Answers from a script; every prompt and message is kept for the test to read.
class ScriptedPrompter final : public Prompter {
public:
    QStringList prompts;                        // every prompt asked, in order
    QStringList messages;                       // every message told or offered with Retry/Quit
    QList<std::optional<QString>> answers;      // taken from the front; none left means Cancel
    QList<bool> retries;                        // taken from the front; none left means Quit
    QList<int> choices;                         // taken from the front; none left means the default
    QList<QStringList> offered;                 // the buttons of every choice, in order
    QStringList createOffers;                   // every message offered with Create/Retry/Quit (also in messages)
    QList<FolderChoice> folderChoices;          // taken from the front; none left means Quit
    QList<FolderChoice> preferredFolderChoices; // the one Enter would take, per Create offer

    std::optional<QString> ask(const QString& prompt) override;
    void tell(const QString& message) override;
    bool retryOrQuit(const QString& message) override;
    int choose(const QString& message, const QStringList& offered) override;
    FolderChoice createRetryOrQuit(const QString& message, FolderChoice preferred) override;
};
