#pragma once

// What the benchmarks share: order statistics, the rows of the results table, record
// files of a given size, and a tutor started on scripted prompts.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/code_page.h"
#include "records/record_layout.h"
#include "support/tutor_fixture.h"
#include "widgets/system_sound.h"
#include "window/main_window.h"

namespace bench {

// Nearest rank: the smallest sample with at least q of the samples at or below it.
inline double quantile(std::vector<double> samples, double q)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    const auto rank = std::size_t(std::ceil(q * double(samples.size())));
    return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

inline double median(const std::vector<double>& samples)
{
    return quantile(samples, 0.5);
}

inline double msSince(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// One line of the results table that tools/run-benchmarks prints:
// | figure | this build | side by side with | ratio | goal | met |
// A figure without a goal of its own is there to explain another; it has no verdict.
inline void row(const QString& figure, const QString& measured, const QString& against, const QString& ratio,
                const QString& goal, std::optional<bool> met)
{
    std::printf("| %s | %s | %s | %s | %s | %s |\n", qPrintable(figure), qPrintable(measured), qPrintable(against),
                qPrintable(ratio), qPrintable(goal),
                !met   ? "—"
                : *met ? "yes"
                       : "**no**");
    std::fflush(stdout);
}

inline QString ms(double value)
{
    return value < 10 ? QString::number(value, 'f', 2) + QStringLiteral(" ms")
                      : QString::number(value, 'f', 1) + QStringLiteral(" ms");
}

inline QString ratio(double a, double b)
{
    return QString::number(a / b, 'f', 2) + QStringLiteral("×");
}

// Runs the event loop until `widget` has painted once, and gives the time it took.
inline double untilPainted(QWidget* widget)
{
    struct Watch : QObject {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            painted |= event->type() == QEvent::Paint;
            return false;
        }
    } watch;
    widget->installEventFilter(&watch);
    QElapsedTimer t;
    t.start();
    widget->update();
    while (!watch.painted && t.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    widget->removeEventFilter(&watch);
    return msSince(t);
}

inline void useOffscreenPlatform()
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Date of every benchmark session, so the send file is send_1208.txt.
inline QDateTime sessionTime()
{
    return {QDate(2026, 12, 8), QTime(10, 15, 30)};
}

// Fills `path` up to `bytes` with what years of sessions leave there: headers followed by
// question and notes records. Flushed to the disk, so later flushes time only new records.
inline bool fillRecordFile(const QString& path, qint64 bytes, bool master)
{
    const QString header = records::sessionHeader(
        QStringLiteral("\u00e9\u00b4\u00d2\u00fd\u00a9"), QStringLiteral("assignment #005"),
        QStringLiteral("005.  `class notes 5"), QStringLiteral("Physics I Class Notes"), QStringLiteral("12-08-2026"));
    QString session = header;
    for (int i = 0; i < 12; ++i) {
        session += records::questionRecord(
            QStringLiteral("10:15:30"),
            QStringLiteral("`q%1 A car covers 12 m in 4 s. What is its average speed?").arg(i, 2, 10, QLatin1Char('0')),
            QStringLiteral("v = 12 m / 4 s = 3 m/s, since the rate is the change "
                           "in position over the change in clock time."),
            master ? std::optional<double>(50000 + i) : std::nullopt);
        session += records::notesRecord(QStringLiteral("10:16:02"), QStringLiteral("12-08-2026"),
                                        QStringLiteral("`q01 Given answer: 3 m/s."),
                                        records::kNotesMarker + QStringLiteral("Remember the units."), master);
    }
    QByteArray chunk;
    const QByteArray one = codepage::encode(session);
    while (chunk.size() < (1 << 20))
        chunk += one;

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (qint64 left = bytes; left > 0; left -= chunk.size()) {
        const qint64 n = std::min<qint64>(left, chunk.size());
        if (file.write(chunk.constData(), n) != n)
            return false;
    }
    file.flush();
    return ::fsync(file.handle()) == 0;
}

// A notes file as Save as Notes leaves it: records that end on the closing rule without a
// line end, so the whole file reads back as lines joined rule to rule.
inline bool fillNotesFile(const QString& path, qint64 bytes)
{
    QByteArray data;
    int n = 0;
    while (data.size() < bytes) {
        data += codepage::encode(records::notesRecord(
            QStringLiteral("10:16:02"), QStringLiteral("12-08-2026"),
            QStringLiteral("`q%1 What is the slope of the position graph between t = 2 s and t = 6 s?").arg(n % 40),
            records::kNotesMarker + QStringLiteral("The slope is rise over run: (18 m - 6 m) / (6 s - 2 s) = 3 m/s. "
                                                   "I first forgot that the run is a time interval."),
            false));
        ++n;
    }
    data.truncate(bytes);
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// A drives root with the home record folder in it.
struct Drives {
    QTemporaryDir root;
    Drives() { QDir(root.path()).mkpath(testfiles::kHomeFolder); }
    QString home(const QString& name) const { return testfiles::homePath(root.path(), name); }
};

// The tutor's window, started as a student starts it: home user, a name, class notes 5,
// with the real beep; the session header written as the program writes it, or at start-up.
struct Tutor : ::Tutor {
    SystemSound systemSound;

    explicit Tutor(const QString& root, bool headerAfterFirstPaint = false) : ::Tutor(false)
    {
        drivesRoot = root;
        soundInUse = &systemSound;
        clock.set(sessionTime());
        prompter.answers = {QStringLiteral("1"), QStringLiteral("Ann"), QStringLiteral("5")};
        WindowServices s = services();
        s.tutor.headerAfterFirstPaint = headerAfterFirstPaint;
        window = std::make_unique<MainWindow>(s);
    }

    // False, with what was said, when start-up did not get as far as the window.
    bool start()
    {
        window->Form_Load();
        if (window->hasEnded() || !prompter.messages.isEmpty()) {
            std::fprintf(stderr, "start-up failed: %s\n", qPrintable(prompter.messages.join(QStringLiteral("; "))));
            return false;
        }
        return true;
    }
};

} // namespace bench
