#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include "reliability/record_checker.h"

// Runs record_writer processes against one shared record folder and checks the files
// afterwards: all at once to the end (runStress), or killed with SIGKILL at seeded
// moments and restarted (runCrash).
namespace stress {

// The day every writer starts on, so that all of them share one send file.
inline const QDate kDay{2026, 12, 8};
inline const QString kSendFile = QStringLiteral("send_1208.txt");

// Different sets for neighbouring writers, set 10 and 15 among the first few.
int classNotesOf(int writer);
// The network user's folder under a drives root: the one the whole class shares.
QString recordFolder(const QString& drivesRoot);

struct Options {
    QString writerProgram;
    QString workDir; // gets drives/, logs/ and each writer's journal/
    // Drives roots that reach one shared folder (mounts of it); writer w uses root w mod N.
    // None: workDir/drives.
    QStringList drivesRoots;
    // Where the files are checked: the server's own copy; none: the first drives root.
    QString checkRoot;
    // Each drives root is one computer: its writers share a data folder (and so an identity).
    // A command that starts each writer of computer k (wrappers[k mod N]): a shifted clock,
    // a host name and process numbers of its own, …; none: started directly.
    QStringList wrappers;
    // Writers may be killed from outside (runStress): their runs count as killed, and what
    // their journals hold is finished before the check, as their next start would.
    bool killsExpected = false;
    // A holder is frozen from outside: a writer that gives up waiting for the files (or finds
    // them taken over) is counted apart, not as a failure.
    bool giveUpsAllowed = false;
    // The share goes away mid-run (its mounts die): a writer that stops, told that the network
    // folder does not answer, is counted apart; then this shell command brings the share back
    // and every writer starts once more (a run of no records: its start-up finishes its journal
    // and records a session's start), before the check.
    QString restartCommand;
    // The writers keep records in their journals and deliver them behind (record_writer
    // --local-first); with leavePending they leave at once with records still to send.
    bool localFirst = false;
    bool leavePending = false;
    int pauseMs = 0;   // between a writer's clicks
    int processes = 8; // writers at once
    int records = 500; // per writer (runStress)
    int rounds = 0;    // kills (runCrash)
    int maxKillDelayMs = 15;
    quint64 seed = 1;
};

struct Outcome {
    recordcheck::Figures figures;
    int reported = 0; // records the writers reported as written
    int reportedNotes = 0;
    int headersReported = 0;
    int runs = 0;
    int kills = 0;
    int killsInStartUp = 0; // before the session header was reported
    int killsMidRecord = 0; // after a click began, before its record was reported
    int killsBetweenRecords = 0;
    int writerFailures = 0;         // writers that stopped by themselves with an error
    int gaveUp = 0;                 // of which stopped waiting while a holder was frozen (allowed)
    int stoppedByShare = 0;         // stopped as their share went away (restartCommand)
    QStringList finishedAfterwards; // what the last start-ups finished from the journals
    int sanitizerReports = 0;
    qsizetype largestAnswer = 0;
    qint64 masterBytes = 0;
    qint64 msecs = 0;
    QStringList errors;

    bool ok() const
    {
        return figures.faults() == 0 && writerFailures == 0 && sanitizerReports == 0 && errors.isEmpty();
    }
    QString summary() const;
};

Outcome runStress(const Options& options);
Outcome runCrash(const Options& options);

} // namespace stress
