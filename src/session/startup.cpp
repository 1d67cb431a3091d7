#include <QtMath>

#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/runtime_text.h"
#include "records/record_layout.h"
#include "session/record_folders.h"
#include "widgets/picture_box.h"
#include "window/main_window.h"

namespace {

const QString kKindOfUserPrompt = QStringLiteral("Enter 1 for home user, 2 for ZARV LAN user");
const QString kNamePrompt = QStringLiteral("Your full name:  ");

// 1 character gets "00" in front, 2 characters "0"; any other length stays as typed.
QString padClassNotesNo(const QString& entry)
{
    if (entry.size() == 1)
        return QStringLiteral("00") + entry;
    if (entry.size() == 2)
        return u'0' + entry;
    return entry;
}

// The whole entry must be the number 2 ("2", "02", "2.0", " 2"); anything else means home.
bool isNetworkUser(const QString& entry)
{
    bool ok = false;
    const double value = entry.trimmed().toDouble(&ok);
    return ok && value == 2.0;
}

} // namespace

const QString MainWindow::kClassNotesPrompt = QStringLiteral("Number of Class Notes:  ");

void MainWindow::Form_Load()
{
    courseTitle = records::kCourseTitle;
    setupSession();
    if (ended_)
        return;
    startClassNotes();
}

void MainWindow::setupSession()
{
    random_.seedFrom(services_.seed.value_or(services_.clock->secondsSinceMidnight()));
    // In double precision: a float sum would round the largest draws up to 29.
    sessionCodeNbr = int(std::floor(double(random_.next()) * 10.0 + 19.0));

    Picture1->setScale(1000, 1000);
    Picture2->setScale(1000, 1000);

    const auto kind = services_.prompter->ask(kKindOfUserPrompt);
    if (!kind)
        return endProgram();
    dataFolder = isNetworkUser(*kind) ? folders::kNetwork : folders::kHome;

    if (!services_.prompter->ask(kNamePrompt))
        return endProgram();

    const QString date = services_.clock->dateText();
    masterFile = dataFolder + QStringLiteral("\\masterFile") + QStringLiteral(".txt");
    sendFile = dataFolder + QStringLiteral("\\send_") + rt::left(date, 2) + date.mid(3, 2) + QStringLiteral(".txt");
    notesFile = dataFolder + QStringLiteral("\\notes_.txt");

    const auto entry = services_.prompter->ask(kClassNotesPrompt);
    if (!entry)
        return endProgram();
    classNotesNo = *entry;

    answerPrompt = records::kAnswerPrompt;
    qaSeparator = QStringLiteral(" <-<-<-<-  Q/A:   ");
    answerSeparator = QStringLiteral(" YOUR ANSWER  ->->->->  ");

    setClassNotesNumbers(classNotesNo);
    lineIndex = 0;
    loadClassNotes();
}

void MainWindow::setClassNotesNumbers(const QString& entry)
{
    classNotesEntry_ = entry;
    classNotesNo = padClassNotesNo(entry);
    nextClassNotesNo = padClassNotesNo(rt::plainNumber(rt::leadingNumber(classNotesNo) + 1));
}
