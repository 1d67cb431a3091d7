#include "dialog_prompter.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

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
    QMessageBox box(QMessageBox::Information, kTitle, message, QMessageBox::Ok);
    // Messages quote the student's entries: show them as typed, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
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
    for (qsizetype i = 0; i < choices.size(); ++i)
        buttons << box.addButton(choices[i], i == 0 ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    if (!buttons.isEmpty()) {
        box.setDefaultButton(buttons.first());
        box.setEscapeButton(buttons.first());
    }
    box.exec();
    return std::max<qsizetype>(0, buttons.indexOf(box.clickedButton()));
}
