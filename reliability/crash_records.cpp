// Students whose computers die mid-record: writer processes killed with SIGKILL at seeded
// moments (in start-up, mid-write, between records) and started again, round after round;
// then every record a writer had seen reported as written must be in the files, whole,
// and torn stretches may come only from records in flight at a kill.
// With --local-first the writers keep each record in the journal and deliver it behind the
// click, several under one hold when several wait, so kills fall inside batches too.
//   crash_records [--rounds R] [--processes N] [--seed S] [--max-delay MS] [--local-first [--pause MS]] [--keep DIR]

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
    const QCommandLineOption rounds(QStringLiteral("rounds"), QStringLiteral("kills"), QStringLiteral("R"),
                                    QStringLiteral("200"));
    const QCommandLineOption processes(QStringLiteral("processes"), QStringLiteral("writers at once"),
                                       QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("seed of the answers and the kills"),
                                  QStringLiteral("S"), QStringLiteral("1"));
    const QCommandLineOption delay(QStringLiteral("max-delay"), QStringLiteral("longest wait before a kill, in ms"),
                                   QStringLiteral("MS"), QStringLiteral("15"));
    const QCommandLineOption keep(QStringLiteral("keep"), QStringLiteral("work in DIR and keep it"),
                                  QStringLiteral("DIR"));
    const QCommandLineOption localFirst(QStringLiteral("local-first"),
                                        QStringLiteral("records kept first and delivered behind the click"));
    const QCommandLineOption pause(QStringLiteral("pause"), QStringLiteral("between a writer's clicks, in ms"),
                                   QStringLiteral("MS"), QStringLiteral("50"));
    parser.addOptions({rounds, processes, seed, delay, localFirst, pause, keep});
    parser.process(app);

    QTemporaryDir temporary;
    stress::Options options;
    options.writerProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/record_writer");
    options.workDir = parser.isSet(keep) ? parser.value(keep) : temporary.path();
    options.processes = parser.value(processes).toInt();
    options.rounds = std::max(1, parser.value(rounds).toInt());
    options.maxKillDelayMs = parser.value(delay).toInt();
    options.seed = parser.value(seed).toULongLong();
    options.localFirst = parser.isSet(localFirst);
    options.pauseMs = parser.value(pause).toInt();

    std::printf("crash_records: %d SIGKILL rounds over %d writers on one folder (seed %llu)\n", options.rounds,
                options.processes, static_cast<unsigned long long>(options.seed));
    std::fflush(stdout);
    const stress::Outcome outcome = stress::runCrash(options);
    std::fputs(qPrintable(outcome.summary()), stdout);
    return outcome.ok() ? 0 : 1;
}
