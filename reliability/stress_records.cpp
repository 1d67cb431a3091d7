// Many students on one network folder: N writer processes, each driving the tutor's own
// record path for M records of one line to 64 KB, all into one shared record folder at
// once; then every record file is checked against what the writers reported.
// With --drives given twice (two mounts of one shared folder), the writers take turns
// between them, as students on two computers would.
//   stress_records [--processes N] [--records M] [--seed S] [--keep DIR] [--drives ROOT]...
//                  [--check-drives ROOT] [--writer-program PROGRAM] [--local-first [--leave-pending]]

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

#include "reliability/stress_run.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption processes(QStringLiteral("processes"), QStringLiteral("writers at once"),
                                       QStringLiteral("N"), QStringLiteral("8"));
    const QCommandLineOption records(QStringLiteral("records"), QStringLiteral("records per writer"),
                                     QStringLiteral("M"), QStringLiteral("500"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("seed of the answers"), QStringLiteral("S"),
                                  QStringLiteral("1"));
    const QCommandLineOption keep(QStringLiteral("keep"), QStringLiteral("work in DIR and keep it"),
                                  QStringLiteral("DIR"));
    const QCommandLineOption drives(QStringLiteral("drives"),
                                    QStringLiteral("a drives root reaching the shared folder; give one per mount"),
                                    QStringLiteral("ROOT"));
    const QCommandLineOption checkDrives(QStringLiteral("check-drives"),
                                         QStringLiteral("check the files under this drives root (the server's copy)"),
                                         QStringLiteral("ROOT"));
    const QCommandLineOption wrap(QStringLiteral("wrap"),
                                  QStringLiteral("a command that starts each writer of the next computer (one per "
                                                 "drives root, in order)"),
                                  QStringLiteral("COMMAND"));
    const QCommandLineOption kills(QStringLiteral("kills-expected"),
                                   QStringLiteral("writers are killed from outside: finish their journals"));
    const QCommandLineOption giveUps(QStringLiteral("give-ups-allowed"),
                                     QStringLiteral("a holder is frozen: writers may give up waiting"));
    // Another writer program taking record_writer's arguments: a wrapper that starts it on
    // another system (the Windows build under Wine).
    const QCommandLineOption writerProgram(QStringLiteral("writer-program"),
                                           QStringLiteral("the writer to start (default: record_writer beside this)"),
                                           QStringLiteral("PROGRAM"));
    const QCommandLineOption restart(QStringLiteral("restart"),
                                     QStringLiteral("the share dies mid-run: once the writers stop, this shell command "
                                                    "brings it back and each writer starts once more"),
                                     QStringLiteral("COMMAND"));
    const QCommandLineOption localFirst(QStringLiteral("local-first"),
                                        QStringLiteral("writers keep records in their journals and deliver them "
                                                       "behind the clicks"));
    const QCommandLineOption leavePending(QStringLiteral("leave-pending"),
                                          QStringLiteral("with --local-first: writers leave with records still to "
                                                         "send (use --restart true for their next start)"));
    const QCommandLineOption pause(QStringLiteral("pause"), QStringLiteral("ms between a writer's clicks"),
                                   QStringLiteral("MS"), QStringLiteral("0"));
    parser.addOptions({processes, records, seed, keep, drives, checkDrives, wrap, kills, giveUps, writerProgram,
                       restart, localFirst, leavePending, pause});
    parser.process(app);

    QTemporaryDir temporary;
    stress::Options options;
    options.writerProgram = parser.isSet(writerProgram)
                                ? parser.value(writerProgram)
                                : QCoreApplication::applicationDirPath() + QStringLiteral("/record_writer");
    options.workDir = parser.isSet(keep) ? parser.value(keep) : temporary.path();
    options.processes = parser.value(processes).toInt();
    options.records = parser.value(records).toInt();
    options.seed = parser.value(seed).toULongLong();
    options.drivesRoots = parser.values(drives);
    options.checkRoot = parser.value(checkDrives);
    options.wrappers = parser.values(wrap);
    options.killsExpected = parser.isSet(kills);
    options.giveUpsAllowed = parser.isSet(giveUps);
    options.restartCommand = parser.value(restart);
    options.localFirst = parser.isSet(localFirst);
    options.leavePending = parser.isSet(leavePending);
    options.pauseMs = parser.value(pause).toInt();

    std::printf("stress_records: %d processes x %d records into one folder through %lld drives roots (seed %llu)\n",
                options.processes, options.records,
                static_cast<long long>(std::max<qsizetype>(1, options.drivesRoots.size())),
                static_cast<unsigned long long>(options.seed));
    std::fflush(stdout);
    const stress::Outcome outcome = stress::runStress(options);
    std::fputs(qPrintable(outcome.summary()), stdout);
    if (outcome.msecs > 0)
        std::printf("  throughput: %.1f records/s across all writers\n",
                    1000.0 * outcome.reported / double(outcome.msecs));
    return outcome.ok() ? 0 : 1;
}
