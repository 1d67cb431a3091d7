#include "platform/prompter.h"
#include "platform/runtime_text.h"
#include "session/session.h"

void Session::startClassNotes()
{
    while (!positionAtClassNotes()) {
        const QString shown =
            classNotesEntry_.size() > 40 ? classNotesEntry_.left(40) + QStringLiteral("…") : classNotesEntry_;
        services_.prompter->tell(QStringLiteral("There are no class notes \"%1\". The class notes that exist are 1 to "
                                                "%2; please enter one of those numbers.")
                                     .arg(shown)
                                     .arg(setCount_));
        const auto entry = services_.prompter->ask(kClassNotesPrompt);
        if (!entry)
            return end();
        setClassNotesNumbers(*entry);
    }
}

bool Session::positionAtClassNotes()
{
    const QString wanted = classNotesNo_ + u'.';
    lineIndex_ = 0;
    QString line;
    while (runtimetext::left(line, 4) != wanted) {
        if (lineIndex_ >= kLastSlot) {
            lineIndex_ = 0;
            return false;
        }
        ++lineIndex_;
        line = classNotesLines_[size_t(lineIndex_)];
    }
    headerIndex_ = lineIndex_;
    return true;
}
