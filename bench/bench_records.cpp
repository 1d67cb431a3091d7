// Recording, side by side: two tutors in one process, one on empty record files and one
// on a 200 MB master file and a 50 MB send file. Clicks alternate between them, so the
// disk's mood falls on both alike. Each click is timed whole: composing, opening and
// locking the files, the single write and the flush to the disk.
// Start-up in the same process is timed the same way (window built, start-up run).
//   bench_records [CLICKS]   (default 400 of each button on each tutor)

#include <QApplication>
#include <QFileInfo>

#include "bench_support.h"
#include "widgets/text_box.h"
#include "widgets/command_button.h"

namespace {

struct Figures {
    std::vector<double> empty;
    std::vector<double> big;
};

// Alternates which tutor goes first, so neither always follows the other's flush.
template <typename Step>
Figures alternate(int n, Step step)
{
    Figures f;
    for (int i = 0; i < n; ++i) {
        if (i % 2 == 0) {
            f.empty.push_back(step(false, i));
            f.big.push_back(step(true, i));
        } else {
            f.big.push_back(step(true, i));
            f.empty.push_back(step(false, i));
        }
    }
    return f;
}

// Clicks on the two tutors come in adjacent pairs, so the ratio of each pair is free of the
// disk's slower and faster spells; the median of those ratios is the comparison.
double pairedRatio(const Figures& f)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < f.big.size(); ++i)
        ratios.push_back(f.big[i] / f.empty[i]);
    return bench::median(ratios);
}

QString p50p99(const std::vector<double>& v)
{
    return bench::ms(bench::median(v)) + QStringLiteral(" / p99 ") + bench::ms(bench::quantile(v, 0.99));
}

}  // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    const int clicks = argc > 1 ? std::max(10, QByteArray(argv[1]).toInt()) : 400;

    bench::Drives emptyDrives;
    bench::Drives bigDrives;
    if (!bench::fillRecordFile(bigDrives.home(QStringLiteral("masterFile.txt")), 200LL << 20, true) ||
        !bench::fillRecordFile(bigDrives.home(QStringLiteral("send_1208.txt")), 50LL << 20, false) ||
        !bench::fillRecordFile(bigDrives.home(QStringLiteral("notes_.txt")), 50LL << 20, false)) {
        std::fputs("bench_records: cannot write the large record files\n", stderr);
        return 1;
    }

    // Start-up in process: the part that touches the record files, free of process noise.
    const Figures startup = alternate(25, [&](bool big, int) {
        QElapsedTimer t;
        t.start();
        bench::Tutor tutor((big ? bigDrives : emptyDrives).root.path());
        if (!tutor.start())
            std::exit(1);
        return bench::msSince(t);
    });

    bench::Tutor emptyTutor(emptyDrives.root.path());
    bench::Tutor bigTutor(bigDrives.root.path());
    if (!emptyTutor.start() || !bigTutor.start())
        return 1;
    emptyTutor.window->show();
    bigTutor.window->show();
    QCoreApplication::processEvents();
    auto clickOn = [&](bool big, CommandButton* MainWindow::*button, int i) {
        MainWindow& w = *(big ? bigTutor : emptyTutor).window;
        w.txt_answer->setText(QStringLiteral("Answer %1: v = 12 m / 4 s = 3 m/s; I first left out the units.").arg(i));
        QElapsedTimer t;
        t.start();
        (w.*button)->click();
        const double taken = bench::msSince(t);
        if (!w.txt_answer->text().isEmpty()) {
            std::fputs("bench_records: a record did not go through\n", stderr);
            std::exit(1);
        }
        return taken;
    };
    const Figures response =
        alternate(clicks, [&](bool big, int i) { return clickOn(big, &MainWindow::cmd_enter_response, i); });
    const Figures notes =
        alternate(clicks, [&](bool big, int i) { return clickOn(big, &MainWindow::cmd_save_as_notes, i); });

    std::fprintf(stderr, "bench_records start-up in process: empty %.2f ms, big %.2f ms (median of 25)\n",
                 bench::median(startup.empty), bench::median(startup.big));
    for (const auto& [name, f] : {std::pair{"Enter Response", response}, std::pair{"Save as Notes", notes}})
        std::fprintf(stderr, "bench_records %-14s empty: median %.2f p99 %.2f max %.2f   big: median %.2f p99 %.2f max %.2f ms\n",
                     name, bench::median(f.empty), bench::quantile(f.empty, 0.99), bench::quantile(f.empty, 1.0),
                     bench::median(f.big), bench::quantile(f.big, 0.99), bench::quantile(f.big, 1.0));

    const QString n = QStringLiteral(", %1 clicks").arg(clicks);
    for (const auto& [name, files, f] : {std::tuple{"Enter Response", "2 files", response},
                                         std::tuple{"Save as Notes", "3 files", notes}}) {
        const double p99 = bench::quantile(f.empty, 0.99);
        bench::row(QStringLiteral("%1 per click, flushed (%2)").arg(QLatin1String(name), QLatin1String(files)) + n,
                   QStringLiteral("median ") + p50p99(f.empty), QStringLiteral("—"), QStringLiteral("—"),
                   QStringLiteral("p99 < 10 ms"), p99 < 10.0);
    }
    for (const auto& [name, f] : {std::pair{"Enter Response", response}, std::pair{"Save as Notes", notes}}) {
        const double paired = pairedRatio(f);
        bench::row(QStringLiteral("%1, 200 MB master + 50 MB send file").arg(QLatin1String(name)) + n,
                   QStringLiteral("median ") + bench::ms(bench::median(f.big)),
                   QStringLiteral("empty files, median ") + bench::ms(bench::median(f.empty)),
                   QString::number(paired, 'f', 2) + QStringLiteral("× (median of pairs)"), QStringLiteral("≤ 1.1×"),
                   paired <= 1.1);
    }
    const double paired = pairedRatio(startup);
    bench::row(QStringLiteral("Start-up in process (window built, header flushed), 200 MB master, 25 runs"),
               QStringLiteral("median ") + bench::ms(bench::median(startup.big)),
               QStringLiteral("empty files, median ") + bench::ms(bench::median(startup.empty)),
               QString::number(paired, 'f', 2) + QStringLiteral("× (median of pairs)"), QStringLiteral("≤ 1.1×"),
               paired <= 1.1);
    return 0;
}
