#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>

#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/prompter.h"
#include "platform/runtime_text.h"
#include "records/record_book.h"
#include "records/record_layout.h"
#include "session/record_folders.h"
#include "session/session.h"

namespace {

QString whatIsRecorded(RecordKind kind)
{
    switch (kind) {
    case RecordKind::SessionHeader:
        return QStringLiteral("The start of this session");
    case RecordKind::Response:
        return QStringLiteral("Your answer");
    case RecordKind::Note:
        return QStringLiteral("Your note");
    }
    return {};
}

// What the start-up finished from the journal, for the student; nothing when there is nothing.
std::optional<QString> leftOversMessage(const LeftOvers& told)
{
    auto native = [](const QString& path) { return QDir::toNativeSeparators(path); };
    QStringList parts;
    if (!told.finished.isEmpty()) {
        QStringList lines;
        for (const LeftOvers::Finished& f : told.finished) {
            QString line = QStringLiteral("a record now added to %1").arg(f.added.join(QStringLiteral(", ")));
            if (!f.held.isEmpty())
                line += QStringLiteral(" (it was already in %1)").arg(f.held.join(QStringLiteral(", ")));
            lines << line;
        }
        parts << QStringLiteral("An earlier run of the tutor left records on this computer (it ended while "
                                "recording, or before it had sent them). These records are now complete in all "
                                "their files, none written twice:\n- %1")
                     .arg(lines.join(QStringLiteral("\n- ")));
    }
    if (!told.unfinished.isEmpty()) {
        QStringList lines;
        for (const LeftOvers::Unfinished& u : told.unfinished)
            lines << QStringLiteral("%1 (on disk: %2): %3; it is kept in %4")
                         .arg(u.name, native(u.path), u.reason, native(u.entry));
        parts << QStringLiteral("These records of an earlier run could not be finished yet, and will be tried again "
                                "at the next start:\n- %1")
                     .arg(lines.join(QStringLiteral("\n- ")));
    }
    if (!told.unreadable.isEmpty()) {
        QStringList lines;
        for (const LeftOvers::Unreadable& u : told.unreadable)
            lines << (u.otherVersion ? QStringLiteral("%1 (from another version of the tutor)").arg(native(u.where))
                                     : QStringLiteral("%1 (damaged)").arg(native(u.where)));
        parts << QStringLiteral("These journal entries cannot be read, so nothing was written from them; they are "
                                "left where they are:\n- %1")
                     .arg(lines.join(QStringLiteral("\n- ")));
    }
    if (!told.problems.isEmpty())
        parts << QStringLiteral("The tutor's journal cannot be used, so records that a crash interrupts cannot be "
                                "finished at the next start:\n- %1")
                     .arg(told.problems.join(QStringLiteral("\n- ")));
    if (!told.indexFailure.isEmpty())
        parts << told.indexFailure;
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(QStringLiteral("\n\n"));
}

} // namespace

void RecordBook::finishLeftOverRecords()
{
    // Behind the scenes they go first in line, before the header, and the window does not wait on
    // the share. Only a folder that is there is asked whether it is a network one.
    LeftOvers told;
    if (QFileInfo(drives_.local(session_.dataFolder())).isDir() && sendsLater())
        sendLeftOvers(takeLeftOverRecords(appendSettings(), told));
    else
        told = finishJournal(appendSettings());
    if (const auto message = leftOversMessage(told))
        services_.prompter->tell(*message);
}

RecordBook::RecordBook(Session& session, RecordServices services)
    : session_(session), services_(std::move(services)), drives_(services_.drivesRoot)
{
}

QList<FileAppend> RecordBook::composeRecord(RecordKind kind, const QString& answer)
{
    auto to = [this](const QString& programPath, const QString& text) {
        return FileAppend{programPath, drives_.local(programPath), codepage::encode(text)};
    };
    // Every text passes through code() once for each file it goes to, as each file's
    // record is written on its own.
    auto coded = [this](const QString& text) { return code(text, session_.sessionCodeNbr()); };
    const Session& s = session_;
    switch (kind) {
    case RecordKind::SessionHeader: {
        // One code line per run, the same in both files.
        const QString codeLine = makeCodeLine(s.sessionCodeNbr());
        const QString date = services_.clock->dateText();
        auto header = [&] {
            return records::sessionHeader(codeLine, coded(QStringLiteral("assignment #") + s.classNotesNo()),
                                          coded(s.headerLine()), s.courseTitle(), date);
        };
        return {to(s.masterFile(), header()), to(s.sendFile(), header())};
    }
    case RecordKind::Response: {
        const QString time = services_.clock->timeText();
        const double number =
            runtimetext::leadingNumber(s.classNotesNo()) * 10000.0 + runtimetext::leadingNumber(s.questionNo());
        const QString line = coded(s.currentLine());
        return {to(s.masterFile(), records::questionRecord(time, line, coded(answer), number)),
                to(s.sendFile(), records::questionRecord(time, coded(s.currentLine()), coded(answer), std::nullopt))};
    }
    case RecordKind::Note: {
        const QString time = services_.clock->timeText();
        const QString date = services_.clock->dateText();
        const QString note = records::kNotesMarker + answer;
        auto record = [&](bool lineEnd) {
            return records::notesRecord(time, date, coded(s.currentLine()), coded(note), lineEnd);
        };
        return {to(s.masterFile(), record(true)), to(s.sendFile(), record(false)), to(s.notesFile(), record(false))};
    }
    }
    return {};
}

AppendSettings RecordBook::appendSettings() const
{
    AppendSettings settings;
    settings.journalFolder = services_.journalFolder;
    settings.waiting = services_.waiting;
    return settings;
}

IndexNote RecordBook::indexNote(RecordKind kind, bool firstTry) const
{
    const Session& s = session_;
    IndexNote note{s.sessionId(), sessionindex::PlaceEntry::Kind::Record};
    if (kind != RecordKind::SessionHeader)
        return note;
    note.kind = sessionindex::PlaceEntry::Kind::Header;
    // The session goes into the index with the first file that takes its header.
    if (firstTry)
        note.start = sessionindex::SessionEntry{s.sessionId(), s.classNotesNo(), s.hostName(),
                                                s.startDate(), s.startTime(),    s.fullName()};
    return note;
}

std::optional<Failure> RecordBook::appendToRecordFiles(PendingRecord& record)
{
    const QScopedValueRollback<bool> busy(asking_, true);
    AppendSettings settings = appendSettings();
    settings.index = indexNote(record.kind, record.recordedIn.isEmpty());
    const AppendOutcome outcome = appendRecord(record.files, settings, record.journalEntry);
    // The journal and the index are safety nets: recording goes on without them, and the
    // student hears of each once.
    if (!outcome.journalFailure.isEmpty())
        services_.prompter->tell(outcome.journalFailure);
    if (!outcome.indexFailure.isEmpty())
        services_.prompter->tell(outcome.indexFailure);
    // Files that took the record are done; a retry writes only to the others.
    record.files.erase(record.files.begin(), record.files.begin() + outcome.written.size());
    record.recordedIn << outcome.written;
    headerTaken_ = headerTaken_ || (record.kind == RecordKind::SessionHeader && !record.recordedIn.isEmpty());
    record.journalEntry = outcome.journalEntry;
    // Said plainly, though nothing is lost: the files were looked at after the lease ran out.
    if (outcome.tookOver && outcome.ok())
        services_.prompter->tell(
            QStringLiteral("This computer stopped answering for a while in the middle of recording, and another "
                           "computer took the record files over. %1 is recorded once in every file: the tutor "
                           "looked at the files afterwards.")
                .arg(whatIsRecorded(record.kind)));
    if (outcome.ok())
        return std::nullopt;
    QString reason = reasonTold(record.kind, outcome.reason);
    // A click that waited for the files, and gave up, may simply be made again.
    if (outcome.waitRanOut && reason == outcome.reason)
        reason += QStringLiteral("; please try again in a moment");
    QString message =
        QStringLiteral("%1 could not be recorded in %2 (on disk: %3): %4.")
            .arg(whatIsRecorded(record.kind), outcome.failedName, QDir::toNativeSeparators(outcome.failedPath), reason);
    if (!record.recordedIn.isEmpty())
        message +=
            QStringLiteral("\n\nIt is already recorded in %1.").arg(record.recordedIn.join(QStringLiteral(", ")));
    QStringList missing;
    for (const FileAppend& file : record.files)
        missing << file.name;
    message += QStringLiteral("\n\nNot yet recorded in: %1.").arg(missing.join(QStringLiteral(", ")));
    // No answer came from the file server: the record may be there. Trying again looks first.
    if (outcome.outcomeUnknown)
        message += QStringLiteral("\n\nIt may have reached %1 all the same; trying again looks there first and "
                                  "never records it twice.")
                       .arg(outcome.failedName);
    return Failure{message};
}

QString RecordBook::reasonTold(RecordKind kind, const QString& reason) const
{
    // The class's network folder was there when the session began: gone now, it is the network
    // drive that went (a mount whose client ended, a drive letter disconnected).
    const QString& folder = session_.dataFolder();
    const bool driveGone =
        kind != RecordKind::SessionHeader && folder != folders::kHome && !QFileInfo::exists(drives_.local(folder));
    return driveGone ? QStringLiteral("the network folder does not answer (the network drive is disconnected, or its "
                                      "file server cannot be reached)")
                     : reason;
}

std::optional<Failure> RecordBook::appendPending(PendingRecord record)
{
    pending_.reset();
    if (auto failure = appendToRecordFiles(record)) {
        pending_ = std::move(record);
        return failure;
    }
    return std::nullopt;
}

std::optional<Failure> RecordBook::unwritable(const QString& text) const
{
    // The line shown goes into the record too: a stand-in character there would be a false record.
    QList<char32_t> bad = codepage::unmappablePoints(text);
    const bool inText = !bad.isEmpty();
    if (!inText)
        bad = codepage::unmappablePoints(session_.currentLine());
    if (bad.isEmpty())
        return std::nullopt;
    QStringList named;
    for (const char32_t point : bad) {
        if (named.size() == 20) {
            named << QStringLiteral("…");
            break;
        }
        const QString shown = QChar::requiresSurrogates(point)
                                  ? QString(QChar(QChar::highSurrogate(point))) + QChar(QChar::lowSurrogate(point))
                                  : QString(QChar(char16_t(point)));
        named << QStringLiteral("%1 (U+%2)")
                     .arg(shown, QString::number(uint(point), 16).toUpper().rightJustified(4, u'0'));
    }
    const QString what = inText ? QStringLiteral("Your text was not recorded: the record files cannot hold these "
                                                 "characters: %1.\n\nPlease replace them.")
                                : QStringLiteral("Your text was not recorded: the line of the class notes it answers "
                                                 "holds characters that the record files cannot hold: %1.");
    return Failure{what.arg(named.join(QStringLiteral(", ")))};
}
