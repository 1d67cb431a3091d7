#include "stress_run.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <memory>
#include <random>
#include <vector>

#include "storage/session_index.h"

namespace stress {
namespace {

QString drivesOf(const Options& o, int writer = 0)
{
    if (o.drivesRoots.isEmpty())
        return o.workDir + QStringLiteral("/drives");
    return o.drivesRoots[writer % o.drivesRoots.size()];
}

int computerOf(const Options& o, int writer)
{
    return writer % int(std::max<qsizetype>(1, o.drivesRoots.size()));
}

// A writer started again after a kill finds the journal its killed run left; the writers of
// one computer share the data folder above their journals, where its identity is kept.
QString journalOf(const Options& o, int writer)
{
    return QStringLiteral("%1/journal/c%2/w%3").arg(o.workDir).arg(computerOf(o, writer)).arg(writer);
}

// The program and its arguments, behind the computer's wrapper if it has one.
void setCommand(QProcess& p, const Options& o, int writer, const QStringList& arguments)
{
    if (o.wrappers.isEmpty()) {
        p.setProgram(o.writerProgram);
        p.setArguments(arguments);
        return;
    }
    QStringList command = o.wrappers[computerOf(o, writer) % o.wrappers.size()].split(u' ', Qt::SkipEmptyParts);
    command << o.writerProgram << arguments;
    p.setProgram(command.takeFirst());
    p.setArguments(command);
}

QString logsOf(const Options& o)
{
    return o.workDir + QStringLiteral("/logs");
}

QString logBase(const Options& o, int writer, int run)
{
    return QStringLiteral("%1/w%2-r%3").arg(logsOf(o)).arg(writer).arg(run);
}

QStringList writerArguments(const Options& o, int writer, int run, int records)
{
    QStringList local;
    if (o.localFirst)
        local << QStringLiteral("--local-first") << QStringLiteral("--pause") << QString::number(o.pauseMs);
    // Only the first run leaves with records to send; its next start waits for them as a student
    // quitting it would.
    if (o.localFirst && o.leavePending && run == 0)
        local << QStringLiteral("--leave-pending");
    return local + QStringList{QStringLiteral("--drives"),  drivesOf(o, writer),
                               QStringLiteral("--journal"), journalOf(o, writer),
                               QStringLiteral("--writer"),  QString::number(writer),
                               QStringLiteral("--run"),     QString::number(run),
                               QStringLiteral("--records"), QString::number(records),
                               QStringLiteral("--seed"),    QString::number(o.seed),
                               QStringLiteral("--log"),     logBase(o, writer, run) + QStringLiteral(".log")};
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool prepare(const Options& o, Outcome& out)
{
    if (!QDir().mkpath(recordFolder(drivesOf(o))) || !QDir().mkpath(logsOf(o))) {
        out.errors << QStringLiteral("cannot make the folders under %1").arg(o.workDir);
        return false;
    }
    return true;
}

// Reads the writers' reports and error output, then checks the record files against them.
void finish(const Options& o, const QSet<QPair<int, int>>& killedRuns, Outcome& out,
            const QSet<QPair<int, int>>& stoppedRuns = {})
{
    recordcheck::WriterLog logs;
    const QDir dir(logsOf(o));
    for (const QString& name : dir.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name))
        recordcheck::parseLog(readAll(dir.filePath(name)), logs);
    for (const QString& name : dir.entryList({QStringLiteral("*.err")}, QDir::Files, QDir::Name)) {
        const QByteArray err = readAll(dir.filePath(name));
        const int found =
            int(err.count("ERROR: AddressSanitizer") + err.count("ERROR: LeakSanitizer") + err.count("runtime error:"));
        out.sanitizerReports += found;
        if (found > 0)
            out.errors << QStringLiteral("%1: %2").arg(name, QString::fromLocal8Bit(err.left(2000)));
    }
    out.reported = int(logs.records.size());
    for (const recordcheck::Stamp& s : logs.records) {
        out.reportedNotes += s.kind == recordcheck::RecordKind::Note;
        out.largestAnswer = std::max(out.largestAnswer, recordcheck::answerText(s, QString()).size() + 2 + s.bodySize);
    }
    out.headersReported = int(logs.headers.size());
    out.kills = int(killedRuns.size());
    const QString folder = recordFolder(o.checkRoot.isEmpty() ? drivesOf(o) : o.checkRoot);
    const QByteArray master = readAll(folder + QStringLiteral("/masterFile.txt"));
    out.masterBytes = master.size();
    const QString notes = QStringLiteral("notes_.txt");
    const recordcheck::IndexInput index{readAll(folder + u'/' + QLatin1String(sessionindex::kFileName)),
                                        QStringLiteral("masterFile.txt"), kSendFile, notes};
    // A run stopped by a share that went away may have left its record in flight, as a killed one.
    recordcheck::Expectation expected = recordcheck::expectationFromLogs(logs, killedRuns | stoppedRuns, out.runs);
    expected.kills = int(killedRuns.size());
    out.figures =
        recordcheck::check(master, readAll(folder + u'/' + kSendFile), readAll(folder + u'/' + notes), expected, index);
}

QString failureOf(QProcess& p, const QString& errFile)
{
    const QByteArray err = readAll(errFile).trimmed().right(600);
    return QStringLiteral("%1 ended with code %2: %3")
        .arg(p.arguments().join(u' '))
        .arg(p.exitCode())
        .arg(QString::fromLocal8Bit(err));
}

// The writers of a crash run: each is killed at a seeded moment and started again with
// the next run number, one kill at a time, until the rounds are used up.
class CrashDriver {
public:
    CrashDriver(const Options& o, Outcome& out) : o_(o), out_(out), random_(o.seed), slots_(size_t(o.processes))
    {
        watchdog_.setSingleShot(true);
        watchdog_.setInterval(120000);
        QObject::connect(&watchdog_, &QTimer::timeout, [this] {
            out_.errors << QStringLiteral("no writer said anything for two minutes");
            stopAll();
        });
    }

    ~CrashDriver()
    {
        for (QProcess* p : owner_.findChildren<QProcess*>())
            p->disconnect();
    }

    void run()
    {
        roundsLeft_ = o_.rounds;
        for (size_t i = 0; i < slots_.size(); ++i) {
            slots_[i].writer = int(i);
            start(slots_[i]);
        }
        arm();
        watchdog_.start();
        loop_.exec();
    }

    QSet<QPair<int, int>> killedRuns;

private:
    struct Slot {
        int writer = 0;
        int run = -1;
        QProcess* process = nullptr;
        int lines = 0;
        char lastLine = 0; // H(eader), B(egun) or R(eported)
        int killAt = -1;
        bool killing = false;
    };

    static void readLines(Slot& s, QProcess* p)
    {
        while (p->canReadLine()) {
            const QByteArray line = p->readLine();
            s.lastLine = line.isEmpty() ? char(0) : line[0];
            ++s.lines;
        }
    }

    void countKill(const Slot& s)
    {
        if (s.lastLine == 'B')
            ++out_.killsMidRecord;
        else if (s.lastLine == 'R')
            ++out_.killsBetweenRecords;
        else
            ++out_.killsInStartUp;
    }

    void start(Slot& s)
    {
        ++s.run;
        ++out_.runs;
        s.lines = 0;
        s.lastLine = 0;
        s.killAt = -1;
        s.killing = false;
        auto* p = new QProcess(&owner_);
        s.process = p;
        setCommand(*p, o_, s.writer, writerArguments(o_, s.writer, s.run, 1000000000));
        p->setStandardErrorFile(logBase(o_, s.writer, s.run) + QStringLiteral(".err"));
        QObject::connect(p, &QProcess::readyReadStandardOutput, [this, &s, p] {
            if (s.process != p)
                return;
            watchdog_.start();
            readLines(s, p);
            killWhenDue(s);
        });
        QObject::connect(p, &QProcess::started, [this, &s, p] {
            if (s.process == p)
                killWhenDue(s);
        });
        QObject::connect(p, &QProcess::finished, [this, &s, p] { finished(s, p); });
        p->start();
    }

    void arm()
    {
        Slot& s = slots_[size_t(random_() % slots_.size())];
        s.killAt = s.lines + int(random_() % 9);
        killWhenDue(s);
    }

    void killWhenDue(Slot& s)
    {
        if (s.killAt < 0 || s.lines < s.killAt || s.process->state() != QProcess::Running)
            return;
        s.killAt = -1;
        const int delay = int(random_() % quint64(o_.maxKillDelayMs + 1));
        QProcess* p = s.process;
        auto kill = [&s, p] {
            if (s.process == p && p->state() == QProcess::Running) {
                s.killing = true;
                p->kill();
            }
        };
        if (delay == 0)
            kill();
        else
            QTimer::singleShot(delay, p, kill);
    }

    void finished(Slot& s, QProcess* p)
    {
        if (s.process != p)
            return;
        const bool killed = s.killing;
        if (killed) {
            readLines(s, p);
            countKill(s);
            killedRuns.insert({s.writer, s.run});
        } else {
            ++out_.writerFailures;
            out_.errors << failureOf(*p, logBase(o_, s.writer, s.run) + QStringLiteral(".err"));
        }
        p->deleteLater();
        s.process = nullptr;
        if (stopping_ || !killed || --roundsLeft_ <= 0) {
            stopAll();
            return;
        }
        start(s);
        arm();
    }

    // The writers still running are killed too: their records in flight may be torn.
    void stopAll()
    {
        stopping_ = true;
        bool running = false;
        for (Slot& s : slots_) {
            if (s.process && s.process->state() != QProcess::NotRunning) {
                running = true;
                s.killing = true;
                s.process->kill();
            }
        }
        if (!running)
            loop_.quit();
    }

    const Options& o_;
    Outcome& out_;
    std::mt19937_64 random_;
    std::vector<Slot> slots_;
    int roundsLeft_ = 0;
    bool stopping_ = false;
    QObject owner_;
    QTimer watchdog_;
    QEventLoop loop_;
};

} // namespace

int classNotesOf(int writer)
{
    return (writer * 4 + 9) % 15 + 1;
}

QString recordFolder(const QString& drivesRoot)
{
    return drivesRoot + QStringLiteral("/i/bkp_000416/My Documents/distance students/interactive problems/lb1");
}

void finishJournals(const Options& o, Outcome& out);

Outcome runStress(const Options& o)
{
    Outcome out;
    if (!prepare(o, out))
        return out;
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 0; w < o.processes; ++w) {
        auto p = std::make_unique<QProcess>();
        setCommand(*p, o, w, writerArguments(o, w, 0, o.records));
        p->setStandardOutputFile(QProcess::nullDevice());
        p->setStandardErrorFile(logBase(o, w, 0) + QStringLiteral(".err"));
        p->start();
        ++out.runs;
        writers.push_back(std::move(p));
    }
    QSet<QPair<int, int>> killed;
    QSet<QPair<int, int>> stopped;
    for (int w = 0; w < o.processes; ++w) {
        QProcess& p = *writers[size_t(w)];
        p.waitForFinished(-1);
        // A wrapper passes the signal on as an exit code of 128 + the signal.
        const bool byKill = p.exitStatus() == QProcess::CrashExit || p.exitCode() == 128 + 9;
        if (o.killsExpected && byKill) {
            killed.insert({w, 0});
            continue;
        }
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            const QString failure = failureOf(p, logBase(o, w, 0) + QStringLiteral(".err"));
            if (!o.restartCommand.isEmpty() && p.exitStatus() == QProcess::NormalExit &&
                failure.contains(QLatin1String("the network folder does not answer"))) {
                ++out.stoppedByShare;
                stopped.insert({w, 0});
                continue;
            }
            if (o.giveUpsAllowed && p.exitStatus() == QProcess::NormalExit &&
                (failure.contains(QLatin1String("for longer than")) ||
                 failure.contains(QLatin1String("taken the record files over")))) {
                ++out.gaveUp;
                continue;
            }
            ++out.writerFailures;
            out.errors << failure;
        }
    }
    if (!o.restartCommand.isEmpty()) {
        // The share back, as a student finds the drive again and starts the tutor once more.
        QProcess restart;
        restart.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), o.restartCommand});
        if (!restart.waitForFinished(120000) || restart.exitStatus() != QProcess::NormalExit ||
            restart.exitCode() != 0) {
            restart.kill();
            restart.waitForFinished(5000);
            out.errors << QStringLiteral("the share did not come back: %1")
                              .arg(QString::fromLocal8Bit(restart.readAllStandardError().trimmed()));
        } else {
            // Every writer starts once more, all at once: its start-up finishes its journal and
            // records the session's start, taking back a lock its run left on the share.
            std::vector<std::unique_ptr<QProcess>> again;
            for (int w = 0; w < o.processes; ++w) {
                auto p = std::make_unique<QProcess>();
                setCommand(*p, o, w, writerArguments(o, w, 1, 0));
                p->setStandardOutputFile(QProcess::nullDevice());
                p->setStandardErrorFile(logBase(o, w, 1) + QStringLiteral(".err"));
                p->start();
                ++out.runs;
                again.push_back(std::move(p));
            }
            for (int w = 0; w < o.processes; ++w) {
                QProcess& p = *again[size_t(w)];
                if (!p.waitForFinished(120000)) {
                    p.kill();
                    p.waitForFinished(5000);
                }
                if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
                    ++out.writerFailures;
                    out.errors << failureOf(p, logBase(o, w, 1) + QStringLiteral(".err"));
                }
            }
        }
    } else if (!killed.isEmpty()) {
        finishJournals(o, out);
    }
    out.msecs = clock.elapsed();
    finish(o, killed, out, stopped);
    return out;
}

// The writers killed at the end are never started again: what their journals hold is
// finished as their next start-up would, before the files are checked.
void finishJournals(const Options& o, Outcome& out)
{
    for (int w = 0; w < o.processes; ++w) {
        QProcess p;
        setCommand(p, o, w, {QStringLiteral("--finish-journal"), journalOf(o, w)});
        p.start();
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished(5000);
            out.errors << QStringLiteral("finishing the journal of writer %1 took over two minutes").arg(w);
            continue;
        }
        const QString told = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            out.errors << QStringLiteral("finishing the journal of writer %1: %2").arg(w).arg(told);
        else if (!told.isEmpty())
            out.finishedAfterwards << told;
    }
}

Outcome runCrash(const Options& o)
{
    Outcome out;
    if (!prepare(o, out))
        return out;
    QElapsedTimer clock;
    clock.start();
    CrashDriver driver(o, out);
    driver.run();
    finishJournals(o, out);
    out.msecs = clock.elapsed();
    finish(o, driver.killedRuns, out);
    return out;
}

QString Outcome::summary() const
{
    QString text;
    text += QStringLiteral("  reported written: %1 records (%2 answers, %3 notes), %4 session headers, in %5 runs\n")
                .arg(reported)
                .arg(reported - reportedNotes)
                .arg(reportedNotes)
                .arg(headersReported)
                .arg(runs);
    text += QStringLiteral("  largest answer: %1 bytes; master file: %2 bytes\n").arg(largestAnswer).arg(masterBytes);
    if (kills > 0)
        text += QStringLiteral("  SIGKILLs: %1 (%2 in start-up, %3 with a record in flight, %4 between records)\n")
                    .arg(kills)
                    .arg(killsInStartUp)
                    .arg(killsMidRecord)
                    .arg(killsBetweenRecords);
    text += figures.table();
    if (!finishedAfterwards.isEmpty())
        text += QStringLiteral("  journals finished by the writers' next start: %1 writers\n")
                    .arg(finishedAfterwards.size());
    if (gaveUp > 0)
        text += QStringLiteral("  writers that gave up waiting while a holder was frozen: %1\n").arg(gaveUp);
    if (stoppedByShare > 0)
        text += QStringLiteral("  writers stopped as the share went away: %1; started again once it was back\n")
                    .arg(stoppedByShare);
    text += QStringLiteral("  writer failures: %1   sanitizer reports: %2   time: %3 s\n")
                .arg(writerFailures)
                .arg(sanitizerReports)
                .arg(double(msecs) / 1000.0, 0, 'f', 1);
    for (const QString& e : errors.mid(0, 10))
        text += QStringLiteral("  ! ") + e + u'\n';
    text += ok() ? QStringLiteral("RESULT: PASS\n") : QStringLiteral("RESULT: FAIL\n");
    return text;
}

} // namespace stress
