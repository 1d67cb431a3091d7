// "display notes" as a student meets it: the first click in a fresh process (the window
// shown, nothing displayed yet), then the second click, which, as the window does, shows
// the notes after what the first one showed. Each fresh process is a child of this one;
// notes files of 1, 5 and 20 MB take turns, so the machine's mood falls on all alike.
// Each click is timed with the question box's paint that follows it.
//   bench_display [PROCESSES]   (default 5 of each size)

#include <QApplication>
#include <QProcess>

#include "bench_support.h"
#include "widgets/command_button.h"
#include "widgets/text_box.h"

namespace {

// The child: one fresh tutor, one notes file, two clicks. Prints the four times in ms.
int child(qint64 bytes)
{
    bench::Drives drives;
    if (!bench::fillNotesFile(drives.home(QStringLiteral("notes_.txt")), bytes)) {
        std::fputs("bench_display: cannot write the notes file\n", stderr);
        return 1;
    }
    bench::Tutor tutor(drives.root.path());
    if (!tutor.start())
        return 1;
    MainWindow& w = *tutor.window;
    w.show();
    bench::untilPainted(&w);
    double times[4];
    for (int click = 0; click < 2; ++click) {
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        ui(w).cmd_display_note_file->click();
        times[2 * click] = bench::msSince(t);
        times[2 * click + 1] = bench::untilPainted(ui(w).txt_question->viewport());
        if (ui(w).txt_question->text().size() < (click + 1) * bytes * 9 / 10) {
            std::fputs("bench_display: the notes did not reach the question box\n", stderr);
            return 1;
        }
    }
    std::printf("%f %f %f %f\n", times[0], times[1], times[2], times[3]);
    return 0;
}

struct Clicks {
    std::vector<double> first, firstClick, firstPaint, second;
};

} // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenPlatform();
    if (argc == 3 && QByteArray(argv[1]) == "--child") {
        QApplication app(argc, argv);
        return child(QByteArray(argv[2]).toLongLong());
    }
    QCoreApplication app(argc, argv);
    const int processes = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 5;

    const std::vector<std::tuple<QString, qint64, double>> sizes{{QStringLiteral("1 MB"), 1LL << 20, 100.0},
                                                                 {QStringLiteral("5 MB"), 5LL << 20, 0},
                                                                 {QStringLiteral("20 MB"), 20LL << 20, 0}};
    std::vector<Clicks> results(sizes.size());
    for (int round = 0; round < processes; ++round) {
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const std::size_t k = (std::size_t(round) + i) % sizes.size();
            QProcess p;
            p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), QString::number(std::get<1>(sizes[k]))});
            double t[4] = {};
            if (!p.waitForFinished(300000) || p.exitCode() != 0 ||
                std::sscanf(p.readAllStandardOutput().constData(), "%lf %lf %lf %lf", &t[0], &t[1], &t[2], &t[3]) !=
                    4) {
                std::fputs("bench_display: a child failed\n", stderr);
                return 1;
            }
            results[k].first.push_back(t[0] + t[1]);
            results[k].firstClick.push_back(t[0]);
            results[k].firstPaint.push_back(t[1]);
            results[k].second.push_back(t[2] + t[3]);
        }
    }
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        const auto& [label, bytes, goal] = sizes[k];
        const Clicks& c = results[k];
        std::fprintf(stderr,
                     "bench_display %-5s first click %.1f ms (click %.1f + paint %.1f), second %.1f ms; all first:",
                     qPrintable(label), bench::median(c.first), bench::median(c.firstClick),
                     bench::median(c.firstPaint), bench::median(c.second));
        for (const double v : c.first)
            std::fprintf(stderr, " %.1f", v);
        std::fputs("\n", stderr);
        const double first = bench::median(c.first);
        bench::row(QStringLiteral("\"display notes\", %1 notes file, first click in a fresh process, median of %2")
                       .arg(label)
                       .arg(processes),
                   bench::ms(first) + QStringLiteral(" (click ") + bench::ms(bench::median(c.firstClick)) +
                       QStringLiteral(", paint ") + bench::ms(bench::median(c.firstPaint)) + u')',
                   QStringLiteral("second click (the notes shown twice) ") + bench::ms(bench::median(c.second)),
                   bench::ratio(bench::median(c.second), first),
                   goal > 0 ? QStringLiteral("< %1 ms").arg(goal) : QStringLiteral("—"),
                   goal > 0 ? std::optional<bool>(first < goal) : std::nullopt);
    }
    return 0;
}
