// One student for the stress and crash tools: the tutor's controller, without a
// window, started with scripted answers (network user, a name, a class-notes number), then
// typing stamped answers of one line to 64 KB and pressing Enter Response or Save as Notes,
// now and then stepping to the next line. Once the program has said that a record is written
// (no message, the answer box emptied), one line goes to the log, flushed to the disk, and
// to stdout.
// With --local-first the tutor keeps each record in its journal and its delivery worker sends
// it on, as on a network folder: a record is reported once it is kept (the click), and each
// record's delivery (click to whole in the class folder) is told apart on stderr; the writer
// then waits, at most --deliver-wait seconds, until nothing is left to send, unless
// --leave-pending makes it leave at once, as a student who quits with records still to send.
// With --finish-journal it only finishes what a killed run left in that journal, as the
// tutor's start-up does, and prints what it told.
//   record_writer --drives DIR --journal DIR --writer W --run R --records M --seed S --log FILE
//                 [--local-first [--deliver-wait S] [--leave-pending] [--pause MS]]
//   record_writer --finish-journal DIR

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <functional>
#include <random>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "platform/code_page.h"
#include "reliability/record_checker.h"
#include "reliability/stress_run.h"
#include "support/tutor_setup.h"

namespace {

// Every writer starts on the same day, so that all share one send file.
class SameDayClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime(stress::kDay, QTime::currentTime()); }
};

#ifdef _WIN32
constexpr int kLogFlags = O_WRONLY | O_APPEND | O_CREAT | O_BINARY | O_NOINHERIT;
int syncToDisk(int fd)
{
    return _commit(fd);
}
#else
constexpr int kLogFlags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
int syncToDisk(int fd)
{
    return ::fsync(fd);
}
#endif

class Reporter {
public:
    explicit Reporter(const QString& path) : fd_(::open(QFile::encodeName(path).constData(), kLogFlags, 0644)) {}
    ~Reporter()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // In one write and on the disk before the next record starts.
    bool report(const QByteArray& line)
    {
        if (::write(fd_, line.constData(), size_t(line.size())) != line.size() || syncToDisk(fd_) != 0)
            return false;
        progress(line);
        return true;
    }
    static void progress(const QByteArray& line)
    {
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
    }

private:
    int fd_;
};

// Steps on only while the set has lines left: reading the next set's header would end the run.
void maybeStep(HeadlessTutor& tutor, std::mt19937_64& random)
{
    if (random() % 4 != 0)
        return;
    const Session& session = tutor.session();
    int i = session.lineIndex() + 1;
    while (i <= Session::kLastSlot && session.line(i).isEmpty())
        ++i;
    if (i > Session::kLastSlot || session.line(i).left(3) == session.nextClassNotesNo() ||
        session.line(i).left(8).toLower() == QLatin1String("`routine"))
        return;
    tutor.next();
}

// Messages that come with a record written: a writer that stalled past its lease is told that
// another computer took the files over and that the tutor then found its record once in every
// file; one whose session index (or journal) could not be written is told that records are still
// written to the record files. A student clicking again after these would record the answer twice.
bool toldWritten(const QString& message)
{
    return (message.contains(QLatin1String("took the record files over")) &&
            message.contains(QLatin1String("is recorded once in every file"))) ||
           message.contains(QLatin1String("Records are still written to the record files"));
}

// Only such messages since `from`: none, or every one of them saying the record is written.
bool onlyToldWritten(const QStringList& messages, qsizetype from)
{
    for (qsizetype i = from; i < messages.size(); ++i) {
        if (!toldWritten(messages[i]))
            return false;
        std::fprintf(stderr, "record_writer: told: %s\n", qPrintable(messages[i]));
    }
    return true;
}

// The records kept to send, oldest first: the worker delivers them in that order, so the
// tutor's count of records still to send tells which of them have arrived.
class DeliveryWatch {
public:
    explicit DeliveryWatch(const QElapsedTimer& since) : since_(since) {}
    void kept(int seq, qint64 clickedAt) { waiting_.emplace_back(seq, clickedAt); }
    void look(int toSend)
    {
        while (qsizetype(waiting_.size()) > std::max(0, toSend)) {
            const auto [seq, clickedAt] = waiting_.front();
            waiting_.pop_front();
            std::fprintf(stderr, "record_writer: record %d delivered after %lld ms\n", seq,
                         static_cast<long long>(since_.elapsed() - clickedAt));
        }
    }
    int waiting() const { return int(waiting_.size()); }

private:
    const QElapsedTimer& since_;
    std::deque<std::pair<int, qint64>> waiting_;
};

// Events for a while (the delivery worker's signals come through them), or until `done`.
void runEventsFor(int ms, const std::function<bool()>& done = {})
{
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done && done())
            loop.quit();
    });
    tick.start(20);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!done || !done())
        loop.exec();
}

int fail(const QString& why)
{
    std::fprintf(stderr, "record_writer: %s\n", qPrintable(why));
    return 4;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption drives(QStringLiteral("drives"), QStringLiteral("drives root"), QStringLiteral("DIR"));
    const QCommandLineOption writer(QStringLiteral("writer"), QStringLiteral("writer number"), QStringLiteral("W"));
    const QCommandLineOption run(QStringLiteral("run"), QStringLiteral("run number"), QStringLiteral("R"), "0");
    const QCommandLineOption records(QStringLiteral("records"), QStringLiteral("records to write"),
                                     QStringLiteral("M"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("seed"), QStringLiteral("S"), "1");
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("report file"), QStringLiteral("FILE"));
    const QCommandLineOption journalDir(QStringLiteral("journal"), QStringLiteral("journal folder"),
                                        QStringLiteral("DIR"));
    const QCommandLineOption finishOnly(QStringLiteral("finish-journal"),
                                        QStringLiteral("only finish the records left in DIR"), QStringLiteral("DIR"));
    const QCommandLineOption localFirst(QStringLiteral("local-first"),
                                        QStringLiteral("keep records in the journal and deliver them behind"));
    const QCommandLineOption deliverWait(QStringLiteral("deliver-wait"),
                                         QStringLiteral("seconds to wait at the end for records still to send"),
                                         QStringLiteral("S"), QStringLiteral("600"));
    const QCommandLineOption leavePending(QStringLiteral("leave-pending"),
                                          QStringLiteral("leave at once with records still to send"));
    const QCommandLineOption pause(QStringLiteral("pause"), QStringLiteral("ms between clicks"), QStringLiteral("MS"),
                                   QStringLiteral("0"));
    parser.addOptions({drives, writer, run, records, seed, log, journalDir, finishOnly, localFirst, deliverWait,
                       leavePending, pause});
    parser.process(app);
    if (parser.isSet(finishOnly)) {
        const LeftOvers told = finishJournal({parser.value(finishOnly), {}});
        for (const LeftOvers::Finished& f : told.finished)
            std::printf("a record now added to %s\n", qPrintable(f.added.join(QStringLiteral(", "))));
        for (const LeftOvers::Unfinished& u : told.unfinished)
            std::printf("not finished: %s: %s\n", qPrintable(u.name), qPrintable(u.reason));
        return 0;
    }
    const int w = parser.value(writer).toInt();
    const int r = parser.value(run).toInt();
    const int count = parser.value(records).toInt();

    Reporter reporter(parser.value(log));
    if (!reporter.ok())
        return fail(QStringLiteral("cannot open the report file %1").arg(parser.value(log)));

    HeadlessTutor tutor(false);
    // A start-up that meets the share full or away is retried, a second apart, as a student
    // who clicks Retry (STRESS_CLICK_AGAIN times); everything else goes to the script.
    struct Patient : Prompter {
        ScriptedPrompter& script;
        int retriesLeft;
        Patient(ScriptedPrompter& s, int retries) : script(s), retriesLeft(retries) {}
        std::optional<QString> ask(const QString& prompt) override { return script.ask(prompt); }
        void tell(const QString& message) override { script.tell(message); }
        void warn(const QString& message) override { script.warn(message); }
        int choose(const QString& message, const QStringList& choices) override
        {
            return script.choose(message, choices);
        }
        FolderChoice createRetryOrQuit(const QString& message, FolderChoice preferred) override
        {
            return script.createRetryOrQuit(message, preferred);
        }
        bool retryOrQuit(const QString& message) override
        {
            if (retriesLeft-- <= 0)
                return script.retryOrQuit(message);
            std::fprintf(stderr, "record_writer: start-up: %s; retrying\n", qPrintable(message));
            QThread::sleep(1);
            return true;
        }
    } patient(tutor.prompter, qEnvironmentVariableIntValue("STRESS_CLICK_AGAIN"));
    tutor.prompterInUse = &patient;
    SameDayClock clock;
    tutor.clockInUse = &clock;
    tutor.drivesRoot = parser.value(drives);
    if (parser.isSet(journalDir))
        tutor.journalFolder = parser.value(journalDir);
    tutor.seed = parser.value(seed).toDouble() + w * 1000 + r;
    // Without --local-first each click waits for its record to be in the class folder, so a
    // record reported written is on the share, not only in this computer's journal.
    const bool sendLater = parser.isSet(localFirst);
    tutor.sendLater = sendLater;
    QElapsedTimer since;
    since.start();
    DeliveryWatch watch(since);
    // What the student is told while a record waits for the files: the bound the wait keeps to.
    tutor.waiting = [](const QString& message) {
        if (!message.isEmpty())
            std::fprintf(stderr, "record_writer: waiting: %s\n", qPrintable(message));
    };
    const int classNotes = stress::classNotesOf(w);
    // Started by hand to hear, as it happens, what the tutor says of where the records are.
    TutorServices services = tutor.tutorServices();
    services.recordsWhere = [&tutor, &watch](const QString& text) {
        tutor.where << text;
        if (text.contains(QLatin1String("could not be sent")))
            std::fprintf(stderr, "record_writer: where: %s\n", qPrintable(text));
        watch.look(tutor.records().toSend());
    };
    tutor.prompter.answers = {QStringLiteral("2"), QStringLiteral("Writer %1").arg(w), QString::number(classNotes)};
    tutor.tutor = std::make_unique<TutorController>(services, tutor.drawings);
    tutor.tutor->start();
    // The start-up's own wait: it writes the session header and finishes an earlier run's journal.
    std::fprintf(stderr, "record_writer: start-up took %lld ms\n", static_cast<long long>(since.elapsed()));
    const Session& session = tutor.session();
    ScriptedPrompter& prompter = tutor.prompter;
    // After a kill the start-up finishes the killed run's record and says so; nothing else.
    const bool finishedEarlier = !prompter.messages.isEmpty() &&
                                 prompter.messages.front().startsWith(
                                     QLatin1String("An earlier run of the tutor left records on this computer")) &&
                                 !prompter.messages.front().contains(QLatin1String("could not be finished"));
    const bool onlyFinished = onlyToldWritten(prompter.messages, finishedEarlier ? 1 : 0);
    if (session.hasEnded() || !onlyFinished)
        return fail(QStringLiteral("start-up did not finish: %1").arg(prompter.messages.join(QStringLiteral(" | "))));
    if (!reporter.report(recordcheck::headerReportLine(w, r)))
        return fail(QStringLiteral("cannot report the session header"));

    const int clickAgain = qEnvironmentVariableIntValue("STRESS_CLICK_AGAIN");
    std::mt19937_64 random(parser.value(seed).toULongLong() * 1000003u + quint64(w) * 7919u + quint64(r));
    for (int s = 0; s < count; ++s) {
        maybeStep(tutor, random);
        recordcheck::Stamp stamp;
        stamp.id = {w, r, s};
        stamp.kind = random() % 3 == 0 ? recordcheck::RecordKind::Note : recordcheck::RecordKind::Response;
        stamp.classNotes = classNotes;
        const QString body = recordcheck::makeBody(random, recordcheck::pickBodySize(random));
        stamp.bodySize = body.size();
        stamp.bodyCrc = recordcheck::crc32(codepage::encode(body));
        stamp.lineCrc = recordcheck::crc32(codepage::encode(session.currentLine()));
        const QString answer = recordcheck::answerText(stamp, body);

        if (sendLater)
            runEventsFor(parser.value(pause).toInt());
        Reporter::progress(QStringLiteral("B w=%1 r=%2 s=%3\n").arg(w).arg(r).arg(s).toLatin1());
        // A writer that stalled while it held the files finds them taken over when it wakes,
        // and writes nothing more: the student clicks again.
        QElapsedTimer click;
        click.start();
        const qint64 clickedAt = since.elapsed();
        for (int attempt = 1;; ++attempt) {
            const qsizetype told = prompter.messages.size();
            const int toSendBefore = tutor.records().toSend();
            if (stamp.kind == recordcheck::RecordKind::Note)
                tutor.saveAsNotes(answer);
            else
                tutor.enterResponse(answer);
            if (onlyToldWritten(prompter.messages, told) && tutor.boxes.answer.isEmpty() && !session.hasEnded()) {
                if (tutor.records().toSend() > toSendBefore)
                    watch.kept(s, clickedAt);
                else if (sendLater)
                    std::fprintf(stderr, "record_writer: record %d delivered after %lld ms\n", s,
                                 static_cast<long long>(click.elapsed()));
                break;
            }
            const QString message = prompter.messages.value(told);
            if (attempt < 3 && message.contains(QLatin1String("taken the record files over")) && !session.hasEnded()) {
                std::fprintf(stderr, "record_writer: record %d: %s; clicking again\n", s, qPrintable(message));
                continue;
            }
            // A student who clicks again after any message (STRESS_CLICK_AGAIN times, a second
            // apart): a retry after "input/output error" must neither lose nor double the record.
            if (attempt <= clickAgain && !session.hasEnded()) {
                std::fprintf(stderr, "record_writer: record %d: %s; clicking again after any message\n", s,
                             qPrintable(message));
                QThread::sleep(1);
                continue;
            }
            return fail(QStringLiteral("record %1 was not written: %2").arg(s).arg(message));
        }
        // Every click's time, for the shared-folder runs: how long a record takes, and how long a
        // stalled holder held others up.
        std::fprintf(stderr, "record_writer: record %d took %lld ms\n", s, static_cast<long long>(click.elapsed()));
        if (!reporter.report(recordcheck::reportLine(stamp)))
            return fail(QStringLiteral("cannot report record %1").arg(s));
    }
    if (!sendLater)
        return 0;
    QCoreApplication::processEvents();
    watch.look(tutor.records().toSend());
    if (parser.isSet(leavePending)) {
        std::fprintf(stderr, "record_writer: left with %d records still to send\n", tutor.records().toSend());
        return 0;
    }
    QElapsedTimer waited;
    waited.start();
    runEventsFor(parser.value(deliverWait).toInt() * 1000, [&] { return tutor.records().toSend() == 0; });
    watch.look(tutor.records().toSend());
    std::fprintf(stderr, "record_writer: waited %lld ms at the end for the records still to send\n",
                 static_cast<long long>(waited.elapsed()));
    if (const int left = tutor.records().toSend(); left > 0)
        return fail(QStringLiteral("%1 records still to send after %2 s").arg(left).arg(parser.value(deliverWait)));
    return 0;
}
