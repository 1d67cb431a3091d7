// The instructor's review, side by side with `wc -l` on the same files: 1,000 send files of
// 100 KB (100 MB) read by both as fresh processes, interleaved, output to /dev/null. The files
// are read once before timing, so both read them from the page cache. Peak memory of the review
// on a 200 MB master file against one 100 KB send file shows that it streams.
//   bench_review [ROUNDS]   (default 11)
//   bench_review --live [PAGE]   the live view over 30 sessions; PAGE keeps its last page
//   bench_review --live-history  the same after a 0.5 MB and a 250 MB master file of earlier days:
//                                CPU time per look, side by side
//   bench_review --master [ROUNDS]   a 205 MB master file: --csv paired with `wc -l` (default 5
//                                    rounds), and the size of its HTML report's pages

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <random>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "bench_support.h"
#include "records/record_layout.h"
#include "review/live_view.h"
#include "review/record_reader.h"
#include "storage/session_index.h"
#include "support/tutor_setup.h"

extern char** environ;

namespace {

struct Run {
    double ms = 0;
    double peakMb = 0;
    int status = -1;
};

// A fresh process with standard output to /dev/null; its wall time and peak memory.
Run runChild(const QStringList& command)
{
    QList<QByteArray> args;
    for (const QString& a : command)
        args << QFile::encodeName(a);
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    Run run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid) {
            run.ms = bench::msSince(timer);
            run.peakMb = double(usage.ru_maxrss) / 1024.0;
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

// Sessions as a class leaves them: headers, answers of a line to a few KB, notes.
QByteArray recordFile(std::mt19937& random, qsizetype size, bool master)
{
    static const QStringList words = {"velocity", "the",   "slope", "of",       "position", "graph",
                                      "is",       "3",     "m/s,",  "rise",     "over",     "run",
                                      "so",       "clock", "time",  "interval", "average",  "rate"};
    auto sentence = [&](int n) {
        QString s;
        for (int i = 0; i < n; ++i)
            s += words[qsizetype(random() % words.size())] + u' ';
        return s;
    };
    QByteArray file;
    while (file.size() < size) {
        file += codepage::encode(records::sessionHeader(
            codepage::decode("\x81\x8D\xF0\xC8\xE1\xAA\xFB\xD2\x8A\x9E\xB5\xE6\xC0\xDF\xF7\xA4\xEE\xBC\x90\x9D"),
            QStringLiteral("assignment #005"), QStringLiteral("005.  `class notes 5"), records::kCourseTitle,
            QStringLiteral("12-08-2026")));
        for (int r = 0; r < 20 && file.size() < size; ++r) {
            const QString line = QStringLiteral("`q%1 ").arg(r) + sentence(12);
            QString text = sentence(int(5 + random() % 60));
            if (random() % 8 == 0)
                text += QStringLiteral("\r\n") + sentence(300);
            file += codepage::encode(
                r % 3 == 2 ? records::notesRecord(QStringLiteral("10:16:02"), QStringLiteral("12-08-2026"), line,
                                                  records::kNotesMarker + text, master)
                           : records::questionRecord(QStringLiteral("10:15:30"), line, text,
                                                     master ? std::optional<double>(50000 + r) : std::nullopt));
        }
    }
    return file;
}

bool write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3) +
           (double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
}

// The live view over a lab: 30 students at tutors on one folder, each recording in turn (the
// tutor writes its session index entries), the follower looking after every round. Its bytes read against
// the bytes appended, and the time of one look with the page written. `page`: where the last
// page is left (the README's picture). `history`: bytes of earlier days' sessions the master
// file holds before the lab; `lookCpuMs`, where given, hears the median CPU time of a look.
int liveBench(const QString& page, qint64 history = 0, double* lookCpuMs = nullptr)
{
    struct Student {
        HeadlessTutor tutor{false};
    };
    QTemporaryDir dir;
    const QString folder = dir.filePath(testfiles::kHomeFolder);
    QDir().mkpath(folder);
    const QString indexPath = QDir(folder).filePath(QLatin1String(sessionindex::kFileName));
    if (history > 0) {
        std::mt19937 random(205);
        // The same sessions, a week before: the page shows only today's.
        const QByteArray block =
            recordFile(random, std::min<qint64>(history, 1 << 20), true).replace("12-08-2026", "12-01-2026");
        QFile f(QDir(folder).filePath(QStringLiteral("masterFile.txt")));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (qint64 n = 0; n < history; n += block.size()) {
            if (f.write(block) != block.size())
                return 1;
        }
    }
    SettableClock clock(QDateTime(QDate(2026, 12, 8), QTime(13, 30, 0)));
    review::LiveOptions options;
    options.folder = folder;
    options.page = page.isEmpty() ? dir.filePath(QStringLiteral("live.html")) : page;
    review::LiveView live(options, clock);
    const QStringList names =
        QStringLiteral(
            "Ada Okafor,Ben Ito,Carla Reyes,Dev Patel,Elif Kaya,Finn Murphy,Grace Liu,Hugo Blanc,Ines Duarte,Jonas "
            "Berg,"
            "Kemal Arslan,Lena Novak,Mateo Silva,Nora Lind,Omar Haddad,Priya Rao,Quinn Baker,Rosa Marin,Sami Virtanen,"
            "Tara Walsh,Uma Shah,Victor Dubois,Wen Zhao,Ximena Cruz,Yusuf Demir,Zoe Adams,Aaron Kim,Bea Costa,Cyril "
            "Moreau,"
            "Dana Levi")
            .split(u',');
    std::vector<std::unique_ptr<Student>> students;
    qint64 appended = 0;
    // The bytes the follower reads: the master file's and the index's.
    auto step = [&](Student& s, const std::function<void()>& act) {
        const QString master = s.tutor.homePath(QStringLiteral("masterFile.txt"));
        const qint64 before = QFileInfo(master).size() + QFileInfo(indexPath).size();
        act();
        appended += QFileInfo(master).size() + QFileInfo(indexPath).size() - before;
    };
    for (int i = 0; i < names.size(); ++i) {
        auto s = std::make_unique<Student>();
        s->tutor.drivesRoot = dir.path();
        s->tutor.hostName = QStringLiteral("lab-%1").arg(i + 1, 2, 10, QChar(u'0'));
        s->tutor.clock.set(clock.now());
        const int set = 1 + i % 15;
        step(*s, [&] { s->tutor.start({QStringLiteral("1"), names[i], QString::number(set)}); });
        s->tutor.next();
        students.push_back(std::move(s));
        clock.set(clock.now().addSecs(7));
    }
    std::vector<double> lookMs, cpu;
    const qint64 readBefore = live.bytesRead();
    live.poll(); // the start-up look reads the sessions' headers whole
    const qint64 startBytes = live.bytesRead() - readBefore;
    const qint64 appendedAtStart = appended;
    for (int round = 0; round < 12; ++round) {
        for (size_t i = 0; i < students.size(); ++i) {
            // Some fall quiet, some step on, two answer with the reminder alone.
            if ((i % 7 == 3 && round >= 4) || (i == 11 && round >= 9))
                continue;
            Student& s = *students[i];
            clock.set(clock.now().addSecs(2));
            s.tutor.clock.set(clock.now());
            const bool reminder = (i == 5 || i == 20) && round == 11;
            if (round % 3 == 2)
                s.tutor.next();
            step(s, [&] {
                s.tutor.enterResponse(reminder ? records::kAnswerPrompt + QStringLiteral("\r\n")
                                               : QStringLiteral("v = %1 m/s").arg(round * 3 + int(i) % 5));
            });
        }
        clock.set(clock.now().addSecs(30));
        QElapsedTimer t;
        t.start();
        const double cpuBefore = cpuMs();
        live.poll();
        cpu.push_back(cpuMs() - cpuBefore);
        lookMs.push_back(bench::msSince(t));
    }
    // A student who ended the session starts again on the same computer.
    {
        auto s = std::make_unique<Student>();
        s->tutor.drivesRoot = dir.path();
        s->tutor.hostName = QStringLiteral("lab-12");
        s->tutor.clock.set(clock.now());
        step(*s, [&] { s->tutor.start({QStringLiteral("1"), names[11], QStringLiteral("13")}); });
        students.push_back(std::move(s));
    }
    clock.set(clock.now().addSecs(4 * 60));
    live.poll();
    if (lookCpuMs) {
        *lookCpuMs = bench::median(cpu);
        return 0;
    }
    const qint64 followed = live.bytesRead() - readBefore - startBytes;
    const qint64 grew = appended - appendedAtStart;
    bench::row(QStringLiteral("Live view: bytes read after start, 30 sessions, %1 records").arg(grew ? 30 * 12 : 0),
               QString::number(followed) + QStringLiteral(" B"),
               QStringLiteral("bytes appended (master file and index) ") + QString::number(grew) + QStringLiteral(" B"),
               bench::ratio(double(followed), double(grew)), QStringLiteral("—"), std::nullopt);
    bench::row(QStringLiteral("Live view: one look with the page written, 30 sessions, median of 12"),
               bench::ms(bench::median(lookMs)), QStringLiteral("the 5 s it must keep within"), QStringLiteral("—"),
               QStringLiteral("—"), std::nullopt);
    return 0;
}

qint64 sizeOf(const QString& path)
{
    return QFileInfo(path).size();
}

int masterBench(int rounds)
{
    QTemporaryDir dir;
    std::mt19937 random(205);
    const QString master = dir.filePath(QStringLiteral("masterFile.txt"));
    {
        const QByteArray block = recordFile(random, 1 << 20, true);
        QFile f(master);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (qint64 n = 0; n < (205LL << 20); n += block.size()) {
            if (f.write(block) != block.size())
                return 1;
        }
    }
    const QString program = QStringLiteral(REVIEW_PROGRAM);
    const QStringList wc{QStringLiteral("/usr/bin/wc"), QStringLiteral("-l"), master};
    const QStringList csv{program, QStringLiteral("--csv"), master};
    runChild(wc);
    std::vector<double> wcMs, csvMs, ratios;
    for (int i = 0; i < rounds; ++i) {
        const Run a = i % 2 ? runChild(csv) : runChild(wc);
        const Run b = i % 2 ? runChild(wc) : runChild(csv);
        const Run& w = i % 2 ? b : a;
        const Run& c = i % 2 ? a : b;
        if (w.status != 0 || c.status != 0)
            return 1;
        wcMs.push_back(w.ms);
        csvMs.push_back(c.ms);
        ratios.push_back(c.ms / w.ms);
        std::fprintf(stderr, "round %d: wc -l %.1f ms, --csv %.1f ms\n", i, w.ms, c.ms);
    }
    const double ratio = bench::median(ratios);
    bench::row(QStringLiteral("Review --csv, a 205 MB master file, fresh process, median of %1").arg(rounds),
               bench::ms(bench::median(csvMs)), QStringLiteral("wc -l on it ") + bench::ms(bench::median(wcMs)),
               QString::number(ratio, 'f', 2) + QStringLiteral("× (median of pairs)"), QStringLiteral("≤ 10×"),
               ratio <= 10.0);

    const QString page = dir.filePath(QStringLiteral("report.html"));
    const Run html = runChild({program, QStringLiteral("--html"), QStringLiteral("-o"), page, master});
    qint64 largest = 0;
    qint64 total = sizeOf(page);
    const QFileInfoList pages = QDir(dir.filePath(QStringLiteral("report-pages"))).entryInfoList(QDir::Files);
    for (const QFileInfo& p : pages) {
        largest = std::max(largest, p.size());
        total += p.size();
    }
    const double mb = double(sizeOf(page)) / (1 << 20);
    bench::row(QStringLiteral("Review --html -o, the same file: its first page (%1 further, the largest %2 MB, "
                              "%3 MB in all), %4")
                   .arg(pages.size())
                   .arg(double(largest) / (1 << 20), 0, 'f', 1)
                   .arg(double(total) / (1 << 20), 0, 'f', 1)
                   .arg(bench::ms(html.ms)),
               QString::number(mb, 'f', 1) + QStringLiteral(" MB"), QStringLiteral("the master file 205 MB"),
               bench::ratio(mb, 205.0), QStringLiteral("≤ 20 MB"), html.status == 0 && mb <= 20.0);
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--live")
        return liveBench(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    if (argc > 1 && QByteArray(argv[1]) == "--live-history") {
        double small = 0, large = 0;
        if (liveBench({}, 512 << 10, &small) || liveBench({}, 250LL << 20, &large))
            return 1;
        bench::row(QStringLiteral("Live view: CPU of one look, 30 sessions, after a 250 MB master file of earlier "
                                  "days, median of 12"),
                   bench::ms(large), QStringLiteral("after 0.5 MB ") + bench::ms(small), bench::ratio(large, small),
                   QStringLiteral("≤ 2×"), large <= 2 * small);
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "--master")
        return masterBench(argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 5);
    const int rounds = argc > 1 ? std::max(3, QByteArray(argv[1]).toInt()) : 11;
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("send"));
    QDir().mkpath(folder);
    std::mt19937 random(14);
    QStringList files;
    for (int i = 0; i < 1000; ++i) {
        files << QStringLiteral("%1/send_%2.txt").arg(folder).arg(i, 4, 10, QLatin1Char('0'));
        QByteArray bytes = recordFile(random, 100 * 1024, false);
        if (!write(files.last(), bytes))
            return 1;
    }
    const QString program = QStringLiteral(REVIEW_PROGRAM);
    const QStringList wc = QStringList{QStringLiteral("/usr/bin/wc"), QStringLiteral("-l")} + files;
    const QStringList csv = QStringList{program, QStringLiteral("--csv")} + files;
    const QStringList html = QStringList{program, QStringLiteral("--html")} + files;

    runChild(wc);
    std::vector<double> wcMs, csvMs, htmlMs, ratios;
    for (int i = 0; i < rounds; ++i) {
        const Run a = i % 2 ? runChild(csv) : runChild(wc);
        const Run b = i % 2 ? runChild(wc) : runChild(csv);
        const Run& w = i % 2 ? b : a;
        const Run& c = i % 2 ? a : b;
        // Exit status 1 would mean stretches skipped: the files are whole, so it must be 0.
        if (w.status != 0 || c.status != 0) {
            std::fprintf(stderr, "bench_review: wc %d, classnotes-review %d\n", w.status, c.status);
            return 1;
        }
        wcMs.push_back(w.ms);
        csvMs.push_back(c.ms);
        ratios.push_back(c.ms / w.ms);
        htmlMs.push_back(runChild(html).ms);
        std::fprintf(stderr, "round %d: wc -l %.1f ms, --csv %.1f ms, --html %.1f ms\n", i, w.ms, c.ms, htmlMs.back());
    }
    const double ratio = bench::median(ratios);
    const QString n = QStringLiteral(", median of %1").arg(rounds);
    bench::row(
        QStringLiteral("Review --csv, 1,000 send files of 100 KB (100 MB), fresh process") + n,
        bench::ms(bench::median(csvMs)), QStringLiteral("wc -l on the same files ") + bench::ms(bench::median(wcMs)),
        QString::number(ratio, 'f', 2) + QStringLiteral("× (median of pairs)"), QStringLiteral("≤ 3×"), ratio <= 3.0);
    bench::row(QStringLiteral("Review --html, the same files") + n, bench::ms(bench::median(htmlMs)),
               QStringLiteral("wc -l ") + bench::ms(bench::median(wcMs)),
               bench::ratio(bench::median(htmlMs), bench::median(wcMs)), QStringLiteral("—"), std::nullopt);

    // Reading alone, in this process: split into sessions and records, no report.
    struct Count final : review::ReadSink {
        qint64 records = 0;
        void session(const review::Session&) override {}
        void record(const review::Record&) override { ++records; }
        void skipped(const review::Skipped&) override {}
    };
    std::vector<double> readMs, wcAgain;
    qint64 recordsRead = 0;
    for (int i = 0; i < rounds; ++i) {
        wcAgain.push_back(runChild(wc).ms);
        QElapsedTimer t;
        t.start();
        Count count;
        for (const QString& path : files) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
                return 1;
            review::readRecords(f, count);
        }
        readMs.push_back(bench::msSince(t));
        recordsRead = count.records;
    }
    const double readRatio = bench::median(readMs) / bench::median(wcAgain);
    bench::row(QStringLiteral("Review reading alone (%1 records, no report), in process").arg(recordsRead) + n,
               bench::ms(bench::median(readMs)), QStringLiteral("wc -l ") + bench::ms(bench::median(wcAgain)),
               bench::ratio(bench::median(readMs), bench::median(wcAgain)), QStringLiteral("≤ 3×"), readRatio <= 3.0);

    const QString master = dir.filePath(QStringLiteral("masterFile.txt"));
    {
        const QByteArray block = recordFile(random, 1 << 20, true);
        QFile f(master);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (qint64 n = 0; n < (200LL << 20); n += block.size()) {
            if (f.write(block) != block.size())
                return 1;
        }
    }
    std::vector<double> bigMb, smallMb;
    for (int i = 0; i < 3; ++i) {
        bigMb.push_back(runChild({program, master}).peakMb);
        smallMb.push_back(runChild({program, files.first()}).peakMb);
    }
    const double big = bench::median(bigMb);
    const double small = bench::median(smallMb);
    bench::row(QStringLiteral("Review --csv peak memory (max resident set), 200 MB master file, median of 3"),
               QString::number(big, 'f', 1) + QStringLiteral(" MB"),
               QStringLiteral("one 100 KB send file ") + QString::number(small, 'f', 1) + QStringLiteral(" MB"),
               bench::ratio(big, small), QStringLiteral("≤ 1.5×"), big <= 1.5 * small);
    return 0;
}
