// Recording, side by side with the floor: each timed click is paired with the least any
// program can do for the same bytes (open, append, flush to the disk and close each file
// with plain system calls, in the same folder), the two in alternating order, so the
// disk's mood falls on both alike. Answers of 70 B, 64 KB and 1 MB, each in a session of
// its own that grows to 10,000 records; the clicks are timed after 10, 1,000 and 10,000
// records. Then, on 200 MB master and 50 MB send files against empty ones, and start-up
// in process on the same files.
//   bench_records [SCALE]   (default 1: how many timed clicks per batch, in multiples)

#include <QApplication>
#include <QFileInfo>

#include <functional>

#include "bench_support.h"
#include "widgets/command_button.h"
#include "widgets/text_box.h"

namespace {

const std::vector<int> kCheckpoints{10, 1000, 10000};
// Earlier records of a session of large answers are this long at most, so that 10,000 of
// them stay within memory and disk; the session is then still tens of megabytes.
constexpr qsizetype kLongestFill = 4096;

// An answer of exactly `size` characters, in lines as a student types them.
QString answerOf(qsizetype size, int n)
{
    QString text = QStringLiteral("Answer %1: ").arg(n);
    const QString line = QStringLiteral("v = 12 m / 4 s = 3 m/s; the rate is the change in position over time.\r\n");
    while (text.size() < size)
        text += line;
    text.truncate(size);
    return text;
}

qint64 fileSize(const QString& path)
{
    return QFileInfo(path).size();
}

// Open, append, flush and close, file by file: what the record costs at the least.
double floorWrite(const std::vector<QString>& paths, const std::vector<qint64>& bytes, const QByteArray& filler)
{
    QElapsedTimer t;
    t.start();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const QByteArray path = QFile::encodeName(paths[i]);
        const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            std::perror("bench_records: floor open");
            std::exit(1);
        }
        for (qint64 left = bytes[i]; left > 0;) {
            const ssize_t n = ::write(fd, filler.constData(), size_t(std::min<qint64>(left, filler.size())));
            if (n <= 0) {
                std::perror("bench_records: floor write");
                std::exit(1);
            }
            left -= n;
        }
        if (::fsync(fd) != 0 || ::close(fd) != 0) {
            std::perror("bench_records: floor flush");
            std::exit(1);
        }
    }
    return bench::msSince(t);
}

struct Button {
    const char* name;
    const char* control;        // the button's name in the window
    std::vector<QString> files; // the record files it appends to
};

const std::vector<Button> kButtons{
    {"Enter Response", "cmd_enter_response", {QStringLiteral("masterFile.txt"), QStringLiteral("send_1208.txt")}},
    {"Save as Notes",
     "cmd_save_as_notes",
     {QStringLiteral("masterFile.txt"), QStringLiteral("send_1208.txt"), QStringLiteral("notes_.txt")}},
};

// One session of one answer size, and what its clicks cost.
struct BenchSession {
    qsizetype answerSize;
    int batch; // timed clicks of each button at each checkpoint
    bench::Drives drives;
    std::unique_ptr<bench::Tutor> tutor;
    int records = 0;
    QByteArray filler;
    // [checkpoint][button]: click and floor times, in pairs
    std::vector<std::vector<std::pair<std::vector<double>, std::vector<double>>>> times;

    BenchSession(qsizetype size, int clicks) : answerSize(size), batch(clicks), filler(64 << 10, 'x')
    {
        tutor = std::make_unique<bench::Tutor>(drives.root.path());
        if (!tutor->start())
            std::exit(1);
        tutor->window->show();
        QCoreApplication::processEvents();
        ui(tutor->window).cmdNextQuestion->click();
        times.assign(kCheckpoints.size(), std::vector<std::pair<std::vector<double>, std::vector<double>>>(2));
    }

    // A click as the student makes it: the text typed (untimed), then the button.
    double click(const Button& b, const QString& answer)
    {
        MainWindow& w = *tutor->window;
        ui(w).txt_answer->setText(answer);
        auto* button = w.findChild<CommandButton*>(QLatin1String(b.control));
        QElapsedTimer t;
        t.start();
        button->click();
        const double taken = bench::msSince(t);
        if (!ui(w).txt_answer->text().isEmpty() || w.hasEnded()) {
            std::fputs("bench_records: a record did not go through\n", stderr);
            std::exit(1);
        }
        ++records;
        return taken;
    }

    // Untimed records up to `count`, a note after every two answers.
    void fillTo(int count)
    {
        while (records < count)
            click(kButtons[records % 3 == 2 ? 1 : 0], answerOf(std::min(answerSize, kLongestFill), records));
    }

    std::vector<qint64> sizes(const Button& b) const
    {
        std::vector<qint64> v;
        for (const QString& f : b.files)
            v.push_back(fileSize(drives.home(f)));
        return v;
    }

    void timeBatch(std::size_t checkpoint)
    {
        std::vector<QString> floorFiles;
        for (int i = 0; i < 3; ++i)
            floorFiles.push_back(drives.home(QStringLiteral("floor_%1.txt").arg(i)));
        for (std::size_t bi = 0; bi < kButtons.size(); ++bi) {
            const Button& b = kButtons[bi];
            const std::vector<QString> paths(floorFiles.begin(), floorFiles.begin() + qsizetype(b.files.size()));
            // One untimed click tells how many bytes each file takes for a record of this size.
            std::vector<qint64> before = sizes(b);
            click(b, answerOf(answerSize, records));
            std::vector<qint64> grown = sizes(b);
            std::vector<qint64> bytes;
            for (std::size_t i = 0; i < before.size(); ++i)
                bytes.push_back(grown[i] - before[i]);
            auto& [clicks, floors] = times[checkpoint][bi];
            for (int i = 0; i < batch; ++i) {
                const QString answer = answerOf(answerSize, records);
                if (i % 2 == 0) {
                    clicks.push_back(click(b, answer));
                    floors.push_back(floorWrite(paths, bytes, filler));
                } else {
                    floors.push_back(floorWrite(paths, bytes, filler));
                    clicks.push_back(click(b, answer));
                }
            }
        }
    }
};

double medianOfRatios(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.size(); ++i)
        ratios.push_back(a[i] / b[i]);
    return bench::median(ratios);
}

QString sizeName(qsizetype size)
{
    return size >= (1 << 20) ? QStringLiteral("%1 MB").arg(size >> 20)
           : size >= 1024    ? QStringLiteral("%1 KB").arg(size >> 10)
                             : QStringLiteral("%1 B").arg(size);
}

// "display everything" on the session as it stands: the first click, then later ones
// as a student makes them, each with the question box's paint.
void displayEverything(BenchSession& s, int records)
{
    MainWindow& w = *s.tutor->window;
    std::vector<double> taken;
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        ui(w).cmd_displayCumulativeText->click();
        const double click = bench::msSince(t);
        taken.push_back(click + bench::untilPainted(ui(w).txt_question->viewport()));
    }
    const std::vector<double> later(taken.begin() + 1, taken.end());
    std::fprintf(stderr, "bench_records display everything after %d records (%lld characters): first %.1f ms, later",
                 records, qlonglong(ui(w).txt_question->text().size()), taken.front());
    for (const double v : later)
        std::fprintf(stderr, " %.1f", v);
    std::fputs(" ms\n", stderr);
    bench::row(QStringLiteral("\"display everything\" after %L1 records of 70 B, with the paint").arg(records),
               QStringLiteral("first click ") + bench::ms(taken.front()),
               QStringLiteral("later clicks, median ") + bench::ms(bench::median(later)), QStringLiteral("—"),
               QStringLiteral("< 50 ms"), taken.front() < 50 && bench::median(later) < 50);
}

// The earlier comparison: the same clicks on 200 MB master and 50 MB send files and on
// empty ones, alternating, and start-up in process on both.
void largeFiles(int clicks)
{
    bench::Drives emptyDrives;
    bench::Drives bigDrives;
    if (!bench::fillRecordFile(bigDrives.home(QStringLiteral("masterFile.txt")), 200LL << 20, true) ||
        !bench::fillRecordFile(bigDrives.home(QStringLiteral("send_1208.txt")), 50LL << 20, false) ||
        !bench::fillRecordFile(bigDrives.home(QStringLiteral("notes_.txt")), 50LL << 20, false)) {
        std::fputs("bench_records: cannot write the large record files\n", stderr);
        std::exit(1);
    }
    struct Pairs {
        std::vector<double> empty, big;
    };
    auto alternate = [](int n, const std::function<double(bool, int)>& step) {
        Pairs p;
        for (int i = 0; i < n; ++i) {
            const bool bigFirst = i % 2 == 1;
            (bigFirst ? p.big : p.empty).push_back(step(bigFirst, i));
            (bigFirst ? p.empty : p.big).push_back(step(!bigFirst, i));
        }
        return p;
    };
    const Pairs startup = alternate(25, [&](bool big, int) {
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
        std::exit(1);
    emptyTutor.window->show();
    bigTutor.window->show();
    QCoreApplication::processEvents();
    for (const Button& b : kButtons) {
        const Pairs p = alternate(clicks, [&](bool big, int i) {
            MainWindow& w = *(big ? bigTutor : emptyTutor).window;
            ui(w).txt_answer->setText(answerOf(70, i));
            auto* button = w.findChild<CommandButton*>(QLatin1String(b.control));
            QElapsedTimer t;
            t.start();
            button->click();
            const double taken = bench::msSince(t);
            if (!ui(w).txt_answer->text().isEmpty())
                std::exit(1);
            return taken;
        });
        const double ratio = medianOfRatios(p.big, p.empty);
        bench::row(QStringLiteral("%1, 70 B, 200 MB master + 50 MB send file, %2 clicks")
                       .arg(QLatin1String(b.name))
                       .arg(clicks),
                   QStringLiteral("median ") + bench::ms(bench::median(p.big)),
                   QStringLiteral("empty files, median ") + bench::ms(bench::median(p.empty)),
                   QString::number(ratio, 'f', 2) + QStringLiteral("× (median of pairs)"), QStringLiteral("≤ 1.1×"),
                   ratio <= 1.1);
    }
    const double ratio = medianOfRatios(startup.big, startup.empty);
    bench::row(QStringLiteral("Start-up in process (window built, header flushed), 200 MB master, 25 runs"),
               QStringLiteral("median ") + bench::ms(bench::median(startup.big)),
               QStringLiteral("empty files, median ") + bench::ms(bench::median(startup.empty)),
               QString::number(ratio, 'f', 2) + QStringLiteral("× (median of pairs)"), QStringLiteral("≤ 1.1×"),
               ratio <= 1.1);
}

} // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    const int scale = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 1;

    // Fewer timed clicks for larger answers: each 1 MB click writes 2 to 3 MB twice over.
    std::vector<std::unique_ptr<BenchSession>> sessions;
    for (const auto& [size, clicks] :
         {std::pair{qsizetype(70), 40}, std::pair{qsizetype(64) << 10, 20}, std::pair{qsizetype(1) << 20, 6}})
        sessions.push_back(std::make_unique<BenchSession>(size, clicks * scale));

    for (std::size_t c = 0; c < kCheckpoints.size(); ++c) {
        // The sessions grow side by side, a slice of each in turn.
        for (int target = sessions.front()->records; target < kCheckpoints[c];) {
            target = std::min(kCheckpoints[c], target + 500);
            for (auto& s : sessions)
                s->fillTo(std::max(target, s->records));
        }
        for (auto& s : sessions) {
            const int before = s->records;
            s->timeBatch(c);
            std::fprintf(stderr, "bench_records %s answers: batch after %d records, session now %d records\n",
                         qPrintable(sizeName(s->answerSize)), before, s->records);
        }
    }

    for (auto& s : sessions) {
        for (std::size_t c = 0; c < kCheckpoints.size(); ++c) {
            for (std::size_t bi = 0; bi < kButtons.size(); ++bi) {
                const auto& [clicks, floors] = s->times[c][bi];
                const double ratio = medianOfRatios(clicks, floors);
                const double p99 = bench::quantile(clicks, 0.99);
                std::fprintf(stderr,
                             "bench_records %-14s %6s after %5d: click median %.2f p99 %.2f max %.2f; floor median "
                             "%.2f p99 %.2f ms; ratio %.2f\n",
                             kButtons[bi].name, qPrintable(sizeName(s->answerSize)), kCheckpoints[c],
                             bench::median(clicks), p99, bench::quantile(clicks, 1.0), bench::median(floors),
                             bench::quantile(floors, 0.99), ratio);
                bench::row(QStringLiteral("%1, %2 answers, after %L3 records, %4 clicks")
                               .arg(QLatin1String(kButtons[bi].name), sizeName(s->answerSize))
                               .arg(kCheckpoints[c])
                               .arg(clicks.size()),
                           QStringLiteral("median ") + bench::ms(bench::median(clicks)) + QStringLiteral(" / p99 ") +
                               bench::ms(p99),
                           QStringLiteral("floor (%1 files) median ").arg(kButtons[bi].files.size()) +
                               bench::ms(bench::median(floors)) + QStringLiteral(" / p99 ") +
                               bench::ms(bench::quantile(floors, 0.99)),
                           QString::number(ratio, 'f', 2) + QStringLiteral("× (median of pairs)"),
                           QStringLiteral("≤ 1.5× floor; p99 < 10 ms"), ratio <= 1.5 && p99 < 10.0);
            }
        }
    }
    displayEverything(*sessions.front(), kCheckpoints.back());
    sessions.clear();
    largeFiles(200 * scale);
    return 0;
}
