#include "support/scripted_prompter.h"

std::optional<QString> ScriptedPrompter::ask(const QString& prompt)
{
    prompts << prompt;
    if (answers.isEmpty())
        return std::nullopt;
    return answers.takeFirst();
}

void ScriptedPrompter::tell(const QString& message)
{
    messages << message;
}

bool ScriptedPrompter::retryOrQuit(const QString& message)
{
    messages << message;
    return !retries.isEmpty() && retries.takeFirst();
}

int ScriptedPrompter::choose(const QString& message, const QStringList& buttons)
{
    messages << message;
    offered << buttons;
    const int choice = choices.isEmpty() ? 0 : choices.takeFirst();
    return choice >= 0 && choice < buttons.size() ? choice : 0;
}

Prompter::FolderChoice ScriptedPrompter::createRetryOrQuit(const QString& message, FolderChoice preferred)
{
    messages << message;
    createOffers << message;
    preferredFolderChoices << preferred;
    return folderChoices.isEmpty() ? FolderChoice::Quit : folderChoices.takeFirst();
}
