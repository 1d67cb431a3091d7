#include "prompter.h"

#include <QInputDialog>
#include <QMessageBox>

namespace {
const QString kTitle = QStringLiteral("Class Notes Tutor");
}

std::optional<QString> DialogPrompter::ask(const QString& prompt)
{
    bool ok = false;
    const QString text = QInputDialog::getText(nullptr, kTitle, prompt, QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

void DialogPrompter::tell(const QString& message)
{
    QMessageBox::information(nullptr, kTitle, message);
}

bool DialogPrompter::retryOrQuit(const QString& message)
{
    const auto choice = QMessageBox::warning(nullptr, kTitle, message, QMessageBox::Retry | QMessageBox::Abort,
                                             QMessageBox::Retry);
    return choice == QMessageBox::Retry;
}

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
