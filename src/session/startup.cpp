#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QtMath>

#include "content/class_notes_content.h"
#include "content/class_notes_file.h"
#include "content/course_texts.h"
#include "content/line_table.h"
#include "platform/clock.h"
#include "platform/drive_paths.h"
#include "platform/prompter.h"
#include "platform/runtime_text.h"
#include "session/record_folders.h"
#include "session/session.h"

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

QString withThousands(qsizetype n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(qlonglong(n));
}

} // namespace

const QString Session::kClassNotesPrompt = QStringLiteral("Number of Class Notes:  ");

Session::Session(SessionServices services) : services_(std::move(services)) {}

void Session::start(const QStringList& pictureRoutines)
{
    pictureRoutines_ = pictureRoutines;
    courseTitle_ = records::kCourseTitle;
    setupSession();
    if (ended_)
        return;
    startClassNotes();
}

void Session::setupSession()
{
    random_.seedFrom(services_.seed.value_or(services_.clock->secondsSinceMidnight()));
    // In double precision: a float sum would round the largest draws up to 29.
    sessionCodeNbr_ = int(std::floor(double(random_.next()) * 10.0 + 19.0));

    const auto kind = services_.prompter->ask(kKindOfUserPrompt);
    if (!kind)
        return end();
    dataFolder_ = isNetworkUser(*kind) ? folders::kNetwork : folders::kHome;

    const auto name = services_.prompter->ask(kNamePrompt);
    if (!name)
        return end();
    fullName_ = *name;

    const QString date = services_.clock->dateText();
    sessionId_ = services_.newSessionId ? services_.newSessionId() : QByteArray();
    hostName_ = services_.hostName;
    startDate_ = date;
    startTime_ = services_.clock->timeText();
    masterFile_ = dataFolder_ + QStringLiteral("\\masterFile") + QStringLiteral(".txt");
    sendFile_ =
        dataFolder_ + QStringLiteral("\\send_") + runtimetext::left(date, 2) + date.mid(3, 2) + QStringLiteral(".txt");
    notesFile_ = dataFolder_ + QStringLiteral("\\notes_.txt");

    const auto entry = services_.prompter->ask(kClassNotesPrompt);
    if (!entry)
        return end();
    classNotesNo_ = *entry;

    answerPrompt_ = records::kAnswerPrompt;
    qaSeparator_ = QStringLiteral(" <-<-<-<-  Q/A:   ");
    answerSeparator_ = QStringLiteral(" YOUR ANSWER  ->->->->  ");

    setClassNotesNumbers(classNotesNo_);
    lineIndex_ = 0;
    loadClassNotes();
}

void Session::setClassNotesNumbers(const QString& entry)
{
    classNotesEntry_ = entry;
    classNotesNo_ = padClassNotesNo(entry);
    nextClassNotesNo_ = padClassNotesNo(runtimetext::plainNumber(runtimetext::leadingNumber(classNotesNo_) + 1));
}

void Session::loadClassNotes()
{
    std::optional<QStringList> lines = instructorsClassNotes();
    if (ended_)
        return;
    const QString source = lines ? QString(dataFolder_ + u'\\' + classnotesfile::kFileName) : services_.contentPath;
    if (!lines) {
        const ClassNotesContent content = readClassNotes(services_.contentPath);
        if (!content.error.isEmpty()) {
            services_.prompter->tell(QStringLiteral("The class notes in \"%1\" cannot be used: %2. The program ends.")
                                         .arg(services_.contentPath, content.error));
            return end();
        }
        lines = content.lines;
    }
    setCount_ = classnotesfile::setCount(*lines);
    if (!fillLineTable(classNotesLines_, lineIndex_, *lines)) {
        services_.prompter->tell(
            QStringLiteral("The class notes in \"%1\" have %2 lines, more than the %3 the tutor can hold. "
                           "Nothing beyond line %3 was loaded, and the program ends.")
                .arg(source, withThousands(lines->size()), withThousands(kLastSlot)));
        return end();
    }
}

std::optional<QStringList> Session::instructorsClassNotes()
{
    const QString named = dataFolder_ + u'\\' + classnotesfile::kFileName;
    const QString path = DrivePaths(services_.drivesRoot).local(named);
    if (!QFileInfo::exists(path))
        return std::nullopt;
    QFile file(path);
    classnotesfile::Checked checked;
    if (!file.open(QIODevice::ReadOnly))
        checked.fault = QStringLiteral("it cannot be read (%1)").arg(file.errorString());
    else
        checked = classnotesfile::read(file.readAll(), pictureRoutines_, kLastSlot);
    if (checked.usable())
        return checked.lines;

    const QString where = checked.faultLine > 0 ? QStringLiteral("line %1: ").arg(checked.faultLine) : QString();
    const QString message = QStringLiteral("The class notes file %1 (%2) cannot be used.\n\n%3%4.\n\nNothing has "
                                           "been written. You may work with the built-in class notes instead, or quit "
                                           "and ask your instructor.")
                                .arg(named, QDir::toNativeSeparators(path), where, checked.fault);
    const int choice =
        services_.prompter->choose(message, {QStringLiteral("Quit"), QStringLiteral("Use the built-in class notes")});
    if (choice != 1)
        end();
    return std::nullopt;
}

void Session::end()
{
    if (ended_)
        return;
    ended_ = true;
    if (onEnd_)
        onEnd_();
}

QString Session::line(int slot) const
{
    if (slot < 0 || size_t(slot) >= classNotesLines_.size())
        return {};
    return classNotesLines_[size_t(slot)];
}

void Session::moveTo(int slot)
{
    lineIndex_ = slot;
}
