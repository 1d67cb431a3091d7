#include "dialog_prompter.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {
const QString kTitle = QStringLiteral("Class Notes Tutor");
} // namespace

std::optional<QString> DialogPrompter::ask(const QString& prompt)
{
    bool ok = false;
    const QString text = QInputDialog::getText(nullptr, kTitle, prompt, QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

namespace {

void showMessage(QMessageBox::Icon icon, const QString& message)
{
    QMessageBox box(icon, kTitle, message, QMessageBox::Ok);
    // Messages quote the student's entries: show them as typed, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

void DialogPrompter::tell(const QString& message)
{
    showMessage(QMessageBox::Information, message);
}

void DialogPrompter::warn(const QString& message)
{
    showMessage(QMessageBox::Warning, message);
}

bool DialogPrompter::retryOrQuit(const QString& message)
{
    return retryCreateOrQuit(message, false, FolderChoice::Retry) == FolderChoice::Retry;
}

Prompter::FolderChoice DialogPrompter::createRetryOrQuit(const QString& message, FolderChoice preferred)
{
    return retryCreateOrQuit(message, true, preferred);
}

Prompter::FolderChoice DialogPrompter::retryCreateOrQuit(const QString& message, bool offerCreate,
                                                         FolderChoice preferred)
{
    const bool firstStart = offerCreate && preferred == FolderChoice::Create;
    QMessageBox box(firstStart ? QMessageBox::Question : QMessageBox::Warning, kTitle, message);
    QPushButton* create = offerCreate ? box.addButton(QStringLiteral("Create"), QMessageBox::AcceptRole) : nullptr;
    QPushButton* retry = box.addButton(QMessageBox::Retry);
    QPushButton* quit = box.addButton(QStringLiteral("Quit"), QMessageBox::RejectRole);
    // After a failure Enter must not create a folder by accident: creating takes a click on
    // Create. On the first start creating the student's own folder is the expected answer.
    box.setDefaultButton(firstStart ? create : retry);
    box.setEscapeButton(quit);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    if (create && box.clickedButton() == create)
        return FolderChoice::Create;
    return box.clickedButton() == retry ? FolderChoice::Retry : FolderChoice::Quit;
}

int DialogPrompter::choose(const QString& message, const QStringList& choices)
{
    QMessageBox box(QMessageBox::Question, kTitle, message);
    box.setTextFormat(Qt::PlainText);
    QList<QPushButton*> buttons;
    // One role for all: shown, and reached with Tab, in the order offered, the default first.
    // With roles of their own the platform would reorder them on screen but not in the Tab
    // cycle, which then never came back to the default.
    for (const QString& choice : choices)
        buttons << box.addButton(choice, QMessageBox::ActionRole);
    if (!buttons.isEmpty()) {
        box.setDefaultButton(buttons.first());
        box.setEscapeButton(buttons.first());
    }
    box.exec();
    return std::max<qsizetype>(0, buttons.indexOf(box.clickedButton()));
}
