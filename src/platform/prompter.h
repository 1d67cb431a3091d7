#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The modal questions and messages of the program. The real one shows dialogs;
// tests script the answers and read back what was said.
class Prompter {
public:
    virtual ~Prompter() = default;
    // Cancel gives no text.
    virtual std::optional<QString> ask(const QString& prompt) = 0;
    virtual void tell(const QString& message) = 0;
    // A failure the student can mend outside the program: true for Retry, false for Quit.
    virtual bool retryOrQuit(const QString& message) = 0;
    // A missing folder the program may create, but only when the student says so.
    enum class FolderChoice { Create, Retry, Quit };
    virtual FolderChoice createRetryOrQuit(const QString& message) = 0;
};

class DialogPrompter final : public Prompter {
public:
    std::optional<QString> ask(const QString& prompt) override;
    void tell(const QString& message) override;
    bool retryOrQuit(const QString& message) override;
    FolderChoice createRetryOrQuit(const QString& message) override;
};

class ScriptedPrompter final : public Prompter {
public:
    QStringList prompts;             // every prompt asked, in order
    QStringList messages;            // every message told or offered with Retry/Quit
    QList<std::optional<QString>> answers;  // taken from the front; none left means Cancel
    QList<bool> retries;             // taken from the front; none left means Quit
    QStringList createOffers;        // every message offered with Create/Retry/Quit (also in messages)
    QList<FolderChoice> folderChoices;  // taken from the front; none left means Quit

    std::optional<QString> ask(const QString& prompt) override;
    void tell(const QString& message) override;
    bool retryOrQuit(const QString& message) override;
    FolderChoice createRetryOrQuit(const QString& message) override;
};
