// Start-up, side by side, each run a fresh process: a bare Qt window of the tutor's size,
// the same window with one label in it, the same window with the same kinds of controls as
// the tutor's, the tutor on an empty record folder, and (offscreen only) the tutor on a
// 200 MB master file and a 50 MB send file. Runs are interleaved, so the machine's mood
// falls on all alike. On the platform QT_QPA_PLATFORM names (offscreen when unset); xcb is
// an X server. Wall time from just before the process is spawned to the end
// of its first paint; peak memory is the child's maximum resident set, private memory its
// own (not file-backed) resident pages at that first paint. The tutor writes its session header
// after that paint: "header" is the time from the first paint until it is in the files.
//   bench_startup [RUNS]   (default 21)

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <ctime>
#include <map>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "bench_support.h"

extern char** environ;

namespace {

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

struct Run {
    double shownMs = 0;  // spawn to the end of the first paint
    double appMs = 0;    // spawn to QApplication made
    double buildMs = 0;  // the window built, its controls and fonts
    double loadMs = 0;   // start-up: content, positioning, session header flushed
    double paintMs = 0;  // shown and painted
    double headerMs = 0; // then the session header in the files
    double peakMb = 0;
    double privateMb = 0;
};

std::optional<Run> runChild(const QStringList& command)
{
    std::vector<QByteArray> args;
    for (const QString& a : command)
        args.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe(out) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const long long start = monotonicNs();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return std::nullopt;
    }
    QByteArray text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, n);
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    long long app = 0, built = 0, loaded = 0, shown = 0, privateKb = 0, flushed = 0;
    const int fields =
        std::sscanf(text.constData(), "app %lld built %lld loaded %lld shown %lld private %lld flushed %lld", &app,
                    &built, &loaded, &shown, &privateKb, &flushed);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || fields < 5) {
        std::fprintf(stderr, "bench_startup: %s failed (status %d): %s\n", argv[0], status, text.constData());
        return std::nullopt;
    }
    auto ms = [](long long from, long long to) { return double(to - from) / 1e6; };
    return Run{ms(start, shown),
               ms(start, app),
               ms(app, built),
               ms(built, loaded),
               ms(loaded, shown),
               fields == 6 ? ms(shown, flushed) : 0.0,
               double(usage.ru_maxrss) / 1024.0,
               double(privateKb) / 1024.0};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 21;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool underX = qgetenv("QT_QPA_PLATFORM") == "xcb";
    const QString where = underX ? QStringLiteral(", under X (Xvfb)") : QStringLiteral(", offscreen");
    const QString here = QCoreApplication::applicationDirPath();

    bench::Drives empty;
    bench::Drives big;
    if (!underX && (!bench::fillRecordFile(big.home(QStringLiteral("masterFile.txt")), 200LL << 20, true) ||
                    !bench::fillRecordFile(big.home(QStringLiteral("send_1208.txt")), 50LL << 20, false))) {
        std::fputs("bench_startup: cannot write the large record files\n", stderr);
        return 1;
    }
    const qint64 masterBefore = QFileInfo(big.home(QStringLiteral("masterFile.txt"))).size();

    std::vector<std::pair<QString, QStringList>> variants{
        {QStringLiteral("bare"), {here + QStringLiteral("/startup_bare")}},
        {QStringLiteral("label"), {here + QStringLiteral("/startup_bare"), QStringLiteral("--text")}},
        {QStringLiteral("alike"), {here + QStringLiteral("/startup_bare"), QStringLiteral("--widgets")}},
        {QStringLiteral("designed"),
         {here + QStringLiteral("/startup_bare"), QStringLiteral("--widgets"), QStringLiteral("--designed")}},
        {QStringLiteral("empty"),
         {here + QStringLiteral("/startup_tutor"), QStringLiteral("--drives"), empty.root.path()}},
    };
    if (!underX)
        variants.push_back({QStringLiteral("big"),
                            {here + QStringLiteral("/startup_tutor"), QStringLiteral("--drives"), big.root.path()}});
    std::map<QString, std::vector<Run>> results;
    // One unmeasured round brings the libraries and fonts into the page cache for all.
    for (int round = -1; round < runs; ++round) {
        for (std::size_t i = 0; i < variants.size(); ++i) {
            const auto& [name, command] = variants[(std::size_t(round + 1) + i) % variants.size()];
            const auto run = runChild(command);
            if (!run)
                return 1;
            if (round >= 0)
                results[name].push_back(*run);
        }
    }
    if (!underX && QFileInfo(big.home(QStringLiteral("masterFile.txt"))).size() <= masterBefore) {
        std::fputs("bench_startup: the tutor wrote no session header\n", stderr);
        return 1;
    }

    auto pick = [&](const QString& name, double Run::*field) {
        std::vector<double> v;
        for (const Run& r : results[name])
            v.push_back(r.*field);
        return bench::median(v);
    };
    for (const auto& [name, command] : variants)
        std::fprintf(
            stderr,
            "bench_startup %-9s %-8s  shown %6.1f ms = to app %5.1f + build %5.1f + start-up %5.1f + paint %5.1f ms"
            ", then header %5.1f ms   peak %5.1f MB   private %4.1f MB   (medians of %d)\n",
            underX ? "X server" : "offscreen", qPrintable(name), pick(name, &Run::shownMs), pick(name, &Run::appMs),
            pick(name, &Run::buildMs), pick(name, &Run::loadMs), pick(name, &Run::paintMs), pick(name, &Run::headerMs),
            pick(name, &Run::peakMb), pick(name, &Run::privateMb), runs);

    const double bare = pick(QStringLiteral("bare"), &Run::shownMs);
    const double label = pick(QStringLiteral("label"), &Run::shownMs);
    const double alike = pick(QStringLiteral("alike"), &Run::shownMs);
    const double designed = pick(QStringLiteral("designed"), &Run::shownMs);
    const double tutor = pick(QStringLiteral("empty"), &Run::shownMs);
    auto mb = [](double v) { return QString::number(v, 'f', 1) + QStringLiteral(" MB"); };
    const QString n = where + QStringLiteral(", median of %1").arg(runs);
    bench::row(QStringLiteral("Start-up to window shown") + n, bench::ms(tutor),
               QStringLiteral("bare window, same kinds of controls ") + bench::ms(alike), bench::ratio(tutor, alike),
               QStringLiteral("≤ 1.2×"), tutor <= 1.2 * alike);
    // What the tutor does beyond looking as designed: content, record folder, flushed header.
    bench::row(QStringLiteral("Start-up to window shown") + n, bench::ms(tutor),
               QStringLiteral("same controls in the tutor's fonts, scroll bars and caption lines ") +
                   bench::ms(designed),
               bench::ratio(tutor, designed), QStringLiteral("—"), std::nullopt);
    // The header follows the first paint: the whole start-up, for what it costs beside the window.
    std::vector<double> whole;
    for (const Run& r : results[QStringLiteral("empty")])
        whole.push_back(r.shownMs + r.headerMs);
    const double settled = bench::median(whole);
    bench::row(QStringLiteral("Start-up to the session header in the files") + n, bench::ms(settled),
               QStringLiteral("same controls in the tutor's fonts, window shown ") + bench::ms(designed),
               bench::ratio(settled, designed), QStringLiteral("—"), std::nullopt);
    bench::row(QStringLiteral("Start-up to window shown") + n, bench::ms(tutor),
               QStringLiteral("empty Qt window ") + bench::ms(bare) + QStringLiteral("; with one label ") +
                   bench::ms(label),
               bench::ratio(tutor, bare) + QStringLiteral("; ") + bench::ratio(tutor, label), QStringLiteral("—"),
               std::nullopt);
    for (const auto& [what, field, goal] : {std::tuple{"Peak memory (max resident set)", &Run::peakMb, true},
                                            std::tuple{"Private memory at window shown", &Run::privateMb, false}}) {
        const double t = pick(QStringLiteral("empty"), field);
        const double b = pick(QStringLiteral("bare"), field);
        const double a = pick(QStringLiteral("alike"), field);
        bench::row(QLatin1String(what) + n, mb(t),
                   QStringLiteral("empty Qt window ") + mb(b) + QStringLiteral("; same kinds of controls ") + mb(a),
                   bench::ratio(t, b) + QStringLiteral("; ") + bench::ratio(t, a),
                   goal ? QStringLiteral("≤ 1.3× empty window") : QStringLiteral("—"),
                   goal ? std::optional<bool>(t <= 1.3 * b) : std::nullopt);
    }
    if (!underX) {
        const double big200 = pick(QStringLiteral("big"), &Run::shownMs);
        bench::row(QStringLiteral("Start-up, 200 MB master + 50 MB send file") + n, bench::ms(big200),
                   QStringLiteral("empty files ") + bench::ms(tutor), bench::ratio(big200, tutor),
                   QStringLiteral("≤ 1.1×"), big200 <= 1.1 * tutor);
    }
    return 0;
}
