#include "support/core_tutor.h"

#include "content/picture_line.h"

RecordBook& CoreTutor::create()
{
    session = std::make_unique<Session>(SessionServices{prompterInUse, clockInUse, contentPath, seed});
    records =
        std::make_unique<RecordBook>(*session, RecordServices{prompterInUse, clockInUse, drivesRoot, journalFolder});
    session->setOnEnd([this] { ++ends; });
    return *records;
}

Session& CoreTutor::start(const QList<std::optional<QString>>& answers)
{
    prompter.answers = answers;
    create();
    session->Form_Load();
    if (!session->hasEnded()) {
        records->finishLeftOverRecords();
        records->writeSessionHeader();
    }
    return *session;
}

void CoreTutor::apply(Boxes boxes)
{
    if (boxes == Boxes::ClearBoth)
        questionBox.clear();
    if (boxes != Boxes::Keep)
        answerBox.clear();
}

bool CoreTutor::next()
{
    const Settled settled = records->settleAnswerBox(answerBox);
    apply(settled.boxes);
    if (!settled.goOn)
        return false;
    if (session->readNextQuestion())
        answerBox = session->answerPrompt();
    if (session->hasEnded())
        return false;
    if (session->displayText().size() > 8 && isPictureLine(session->displayText())) {
        session->clearDisplayText();
        if (session->readNextQuestion())
            answerBox = session->answerPrompt();
        if (session->hasEnded())
            return false;
    }
    questionBox = session->showStep(questionBox);
    return true;
}

void CoreTutor::enterResponse(const QString& text)
{
    answerBox = text;
    apply(records->cmd_enter_response_Click(answerBox));
}

void CoreTutor::saveAsNotes(const QString& text)
{
    answerBox = text;
    apply(records->cmd_save_as_notes_Click(answerBox));
}

void CoreTutor::displayNotes()
{
    if (const auto notes = records->cmd_display_note_file_Click())
        questionBox += QStringLiteral("\r\n\r\n") + *notes;
}
