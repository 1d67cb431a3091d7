#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <memory>

#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "review/live_view.h"
#include "review/review_command.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
#ifdef _WIN32
    // Windows opens both in text mode, which drops the CR of every CR LF read and writes CR CR LF
    // for the report's own CR LF: the records are bytes, both ways.
    _setmode(STDIN_FILENO, _O_BINARY);
    _setmode(STDOUT_FILENO, _O_BINARY);
#endif
    // By descriptor, not through stdio's buffer: a write that the device refuses (a full disk,
    // /dev/full) then fails at once, where the report can still say so.
    QFile out;
    if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        std::fputs("classnotes-review: standard output cannot be written\n", stderr);
        return review::kBadUsage;
    }
    QFile in;
    const bool inOpen = in.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered);
    bool progressShown = false;
    review::Console console;
    console.in = inOpen ? &in : nullptr;
    console.out = &out;
    console.error = [&](const QString& line) {
        // A message takes the progress line's place; the next progress line comes below it.
        std::fprintf(stderr, "%s%s\n", progressShown ? "\r\033[K" : "", line.toLocal8Bit().constData());
        progressShown = false;
    };
    if (::isatty(STDERR_FILENO)) {
        console.progress = [&](const QString& line) {
            std::fprintf(stderr, "\r\033[K%s", line.toLocal8Bit().constData());
            std::fflush(stderr);
            progressShown = !line.isEmpty();
        };
    }
    SystemClock clock;
    std::unique_ptr<review::LiveView> live;
    auto runLive = [&](const review::Options& options) {
        const QString page = review::livePage(options, console);
        if (page.isEmpty())
            return int(review::kBadUsage);
        review::LiveOptions liveOptions;
        liveOptions.folder = options.paths.first();
        liveOptions.page = page;
        liveOptions.quietSeconds = options.quietMinutes * 60;
        live = std::make_unique<review::LiveView>(liveOptions, clock);
        if (!live->poll()) {
            console.error(QStringLiteral("classnotes-review: %1: cannot be written: %2")
                              .arg(review::shownOnTerminal(page), live->writeProblem()));
            return int(review::kBadUsage);
        }
        std::printf("%s\n", QDir::toNativeSeparators(page).toLocal8Bit().constData());
        std::fflush(stdout);
        console.error(QStringLiteral("classnotes-review: following %1 read-only; the page above is kept current "
                                     "until interrupted (Ctrl+C)")
                          .arg(review::shownOnTerminal(liveOptions.folder)));
        live->start();
        return app.exec();
    };
    return review::reviewMain(app.arguments().mid(1), console, runLive);
}
