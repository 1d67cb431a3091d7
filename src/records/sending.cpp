#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "platform/clock.h"
#include "platform/prompter.h"
#include "records/record_book.h"
#include "session/record_folders.h"
#include "session/session.h"
#include "storage/record_io.h"

namespace {

QString stillToSend(int count)
{
    return count == 1 ? QStringLiteral("1 record still to send")
                      : QStringLiteral("%1 records still to send").arg(count);
}

// The delivery's tag of the session's end, apart from the record kinds.
constexpr int kEndTag = -1;

QString keptWord(RecordKind kind)
{
    switch (kind) {
    case RecordKind::SessionHeader:
        return QStringLiteral("The start of this session");
    case RecordKind::Note:
        return QStringLiteral("Note");
    case RecordKind::Response:
        break;
    }
    return QStringLiteral("Answer");
}

// An earlier run's record, tagged as this run tags its own: an end has no bytes, a note three files.
int leftOverTag(const BatchRecord& record)
{
    if (std::all_of(record.files.cbegin(), record.files.cend(), [](const FileAppend& f) { return f.bytes.isEmpty(); }))
        return kEndTag;
    if (record.index.kind == sessionindex::PlaceEntry::Kind::Header)
        return int(RecordKind::SessionHeader);
    return int(record.files.size() == 3 ? RecordKind::Note : RecordKind::Response);
}

} // namespace

bool RecordBook::sendsLater() const
{
    if (!sendsLater_) {
        bool later = session_.dataFolder() != folders::kHome && !services_.journalFolder.isEmpty();
        if (later)
            later = services_.sendLater.value_or(
                recordio::onNetwork(QFileInfo(drives_.local(session_.masterFile())).absolutePath()));
        sendsLater_ = later;
    }
    return *sendsLater_;
}

std::optional<Failure> RecordBook::keepAndSend(RecordKind kind, const QString& answer)
{
    const bool header = kind == RecordKind::SessionHeader;
    RecordDelivery::Record record{composeRecord(kind, answer), {}, indexNote(kind, header), int(kind)};
    AppendSettings settings = appendSettings();
    settings.index = record.index;
    QString why;
    record.entry = keepInJournal(record.files, settings, &why);
    if (record.entry.isEmpty())
        return Failure{QStringLiteral("%1 could not be kept on this computer: the tutor's journal (%2) cannot be "
                                      "written: %3.")
                           .arg(keptWord(kind), QDir::toNativeSeparators(services_.journalFolder), why)};
    const int serial = ++sent_;
    for (const FileAppend& file : record.files) {
        if (kind == RecordKind::Note && file.name == session_.notesFile())
            notesToSend_.emplace_back(serial, file.bytes);
    }
    if (header)
        headerTaken_ = true; // its end goes behind it, in the same line
    else
        (kind == RecordKind::Note ? keptNotes_ : keptAnswers_) = true;
    delivery().send(std::move(record));
    QTimer::singleShot(services_.keptAfterMs, delivery_.get(), [this, serial, kind] {
        if (delivered_ < serial)
            tellKept(kind);
    });
    return std::nullopt;
}

void RecordBook::sendLeftOvers(const QList<BatchRecord>& records)
{
    for (const BatchRecord& record : records) {
        const int tag = leftOverTag(record);
        if (tag != kEndTag)
            ++sent_, ++leftOvers_;
        delivery().send({record.files, record.entry, record.index, tag, record.lookFirst});
    }
    if (leftOvers_ > 0)
        say(QStringLiteral("An earlier run of the tutor left records on this computer (it ended while recording, or "
                           "before it had sent them); they are sent to the class folder first (%1)")
                .arg(stillToSend(leftOvers_)));
}

RecordDelivery& RecordBook::delivery()
{
    if (!delivery_) {
        delivery_ = std::make_unique<RecordDelivery>(appendSettings());
        QObject::connect(delivery_.get(), &RecordDelivery::delivered, delivery_.get(),
                         [this](int tag) { delivered(tag); });
        QObject::connect(delivery_.get(), &RecordDelivery::failed, delivery_.get(),
                         [this](int tag, const QString& name, const QString& path, const QString& reason,
                                bool waiting) { deliveryFailed(tag, name, path, reason, waiting); });
    }
    return *delivery_;
}

void RecordBook::recordEnd(sessionindex::EndEntry::How how)
{
    if (!headerTaken_ || std::exchange(endRecorded_, true))
        return;
    AppendSettings settings = appendSettings();
    settings.index = IndexNote{session_.sessionId()};
    settings.index.end =
        sessionindex::EndEntry{session_.sessionId(), how, services_.clock->dateText(), services_.clock->timeText()};
    // No bytes: the master file only names the folder whose index takes the entry, and its lock.
    const QList<FileAppend> files{{session_.masterFile(), drives_.local(session_.masterFile()), {}}};
    if (!sendsLater()) {
        const AppendOutcome outcome = appendRecord(files, settings);
        if (!outcome.indexFailure.isEmpty())
            services_.prompter->tell(outcome.indexFailure);
        return;
    }
    // Behind the records still to send, kept with them for the next start if the student leaves.
    QString why;
    const QString entry = keepInJournal(files, settings, &why);
    if (entry.isEmpty())
        return;
    // Not waited for by itself: the end of a set stays immediate. What the worker has in hand as
    // the program ends is finished; what it has not is sent by the next start.
    delivery().send({files, entry, settings.index, kEndTag});
}

void RecordBook::say(const QString& text) const
{
    if (services_.recordsWhere)
        services_.recordsWhere(text);
}

void RecordBook::tellKept(RecordKind kind)
{
    toldKept_ = true;
    QString text = keptWord(kind) + QStringLiteral(" kept on this computer; sending it to the class folder");
    if (toSend() > 1)
        text += QStringLiteral(" (%1)").arg(stillToSend(toSend()));
    say(text);
}

void RecordBook::delivered(int kind)
{
    if (kind == kEndTag)
        return;
    ++delivered_;
    failureTold_ = false;
    while (!notesToSend_.empty() && notesToSend_.front().first <= delivered_)
        notesToSend_.pop_front();
    if (toSend() == 0 && leaving_)
        leaving_->quit();
    if (delivered_ <= leftOvers_) {
        // An earlier run's records are told together, once all are in.
        if (delivered_ == leftOvers_)
            say(QStringLiteral("The records an earlier run of the tutor left on this computer are now complete in "
                               "all their files, none written twice"));
    } else if (!toldKept_) {
        // The session's start in the class folder is not news to the student.
        if (kind != int(RecordKind::SessionHeader))
            say(kind == int(RecordKind::Note) ? QStringLiteral("Note saved") : QStringLiteral("Answer recorded"));
    } else if (toSend() > 0) {
        say(stillToSend(toSend()));
        return;
    } else {
        const QString what = !keptNotes_ && !keptAnswers_ ? QStringLiteral("records")
                             : !keptNotes_                ? QStringLiteral("answers")
                             : !keptAnswers_              ? QStringLiteral("notes")
                                                          : QStringLiteral("answers and notes");
        say(QStringLiteral("All your %1 are in the class folder").arg(what));
    }
    if (toSend() == 0)
        toldKept_ = keptNotes_ = keptAnswers_ = false;
}

void RecordBook::deliveryFailed(int kind, const QString& name, const QString& path, const QString& reason, bool waiting)
{
    // Only the records are the student's to hear of.
    if (kind == kEndTag)
        return;
    toldKept_ = true;
    // Said once until a record gets through: it is tried again and again meanwhile.
    if (std::exchange(failureTold_, true))
        return;
    // A header kept here found its folder there at start-up, as a record finds it when it is clicked.
    const RecordKind asRecord = kind == int(RecordKind::SessionHeader) ? RecordKind::Response : RecordKind(kind);
    // An earlier run's records go first in line: the one that failed is one of them.
    const QString what = delivered_ < leftOvers_ ? QStringLiteral("A record an earlier run of the tutor left")
                                                 : keptWord(RecordKind(kind));
    say(deliveryTrouble(what, name, path, reasonTold(asRecord, reason), waiting, toSend()));
}

QString RecordBook::deliveryTrouble(const QString& what, const QString& name, const QString& path,
                                    const QString& reason, bool waiting, int toSend)
{
    // Files another tutor holds are a wait, not a failure; and what is tried again by itself
    // comes with no advice to try again.
    return QStringLiteral("%1 %2 %3 (on disk: %4): %5. It is kept on this computer, and the tutor sends it by "
                          "itself as soon as it can (%6).")
        .arg(what, waiting ? QStringLiteral("is waiting to be sent to") : QStringLiteral("could not be sent to"), name,
             QDir::toNativeSeparators(path), reason, stillToSend(toSend));
}

void RecordBook::sendBeforeLeaving()
{
    // The window is not closed under the wait.
    const QScopedValueRollback<bool> busy(asking_, true);
    while (toSend() > 0) {
        delivery_->retryNow();
        say(QStringLiteral("Sending your records to the class folder before the tutor ends: %1")
                .arg(stillToSend(toSend())));
        QEventLoop loop;
        leaving_ = &loop;
        QTimer::singleShot(services_.leaveWaitMs, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        leaving_ = nullptr;
        if (toSend() == 0)
            return;
        const QString question =
            QStringLiteral("Some of your records are not in the class folder yet (%1); they are kept on this "
                           "computer.\n\nKeep waiting for them, or leave? If you leave, this computer sends them to "
                           "the class folder the next time the tutor starts on it.")
                .arg(stillToSend(toSend()));
        if (services_.prompter->choose(question, {QStringLiteral("Keep waiting"), QStringLiteral("Leave")}) != 0)
            return;
    }
}
