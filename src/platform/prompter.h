#pragma once

#include <QString>
#include <optional>

// The modal questions and messages of the program. The real one shows dialogs
// (widgets/dialog_prompter.h); tests script the answers and read back what was said.
class Prompter {
public:
    virtual ~Prompter() = default;
    // Cancel gives no text.
    virtual std::optional<QString> ask(const QString& prompt) = 0;
    virtual void tell(const QString& message) = 0;
    // A message about something that went wrong, such as a record that did not reach its
    // files; shown as a warning where the prompter can tell the two apart.
    virtual void warn(const QString& message) { tell(message); }
    // A failure the student can mend outside the program: true for Retry, false for Quit.
    virtual bool retryOrQuit(const QString& message) = 0;
    // Offers the choices as buttons, the first of them the default (for Enter and for
    // Escape); gives the index of the one chosen.
    virtual int choose(const QString& message, const QStringList& choices) = 0;
    // A missing folder the program may create, but only when the student says so. The
    // preferred choice is the one Enter takes: Create only where creating is what the
    // student expects (the first start), Retry after a failure.
    enum class FolderChoice { Create, Retry, Quit };
    virtual FolderChoice createRetryOrQuit(const QString& message, FolderChoice preferred) = 0;
};
