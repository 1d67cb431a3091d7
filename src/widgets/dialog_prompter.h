#pragma once

#include "platform/prompter.h"

// Questions and messages as modal dialogs titled "Class Notes Tutor".
class DialogPrompter final : public Prompter {
public:
    std::optional<QString> ask(const QString& prompt) override;
    void tell(const QString& message) override;
    void warn(const QString& message) override;
    bool retryOrQuit(const QString& message) override;
    int choose(const QString& message, const QStringList& choices) override;
    FolderChoice createRetryOrQuit(const QString& message, FolderChoice preferred) override;

private:
    // Retry and Quit (Escape), and Create when offered; Enter takes the preferred one.
    FolderChoice retryCreateOrQuit(const QString& message, bool offerCreate, FolderChoice preferred);
};
