// The cost of the shared-folder protocol: one record appended through appendRecord (the
// operating-system locks, the lock folder, the size from the server, the intent, the write, the
// flush, the read-back, the journal, the session index) against the floor, the same bytes
// appended to the same number of files in the same folder with open / append / flush / close;
// and the same protocol without the session index (its entries, their part of the intent), to
// tell what the index costs. The three take turns, record by record, in blocks; each ratio is
// the median of the records' ratios.
//   bench_protocol FOLDER [BLOCKS] [RECORDS_PER_BLOCK] [tutor|bare|floor]
// With `tutor`, `bare` (the protocol without the index) or `floor` only that side runs (to count
// a file server's requests per record).

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "reliability/record_checker.h"
#include "storage/record_files.h"
#include "storage/session_index.h"

namespace {

// Read-write: a client that only emulates append (smbnetfs) needs read access.
bool floorAppend(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_protocol FOLDER [BLOCKS] [RECORDS_PER_BLOCK] [tutor|bare|floor]\n");
        return 2;
    }
    const QString folder = args[1];
    const int blocks = args.size() > 2 ? args[2].toInt() : 6;
    const int perBlock = args.size() > 3 ? args[3].toInt() : 300;
    const QString only = args.size() > 4 ? args[4] : QString();
    QTemporaryDir local;
    AppendSettings settings;
    settings.journalFolder = local.path() + QStringLiteral("/journal");
    // One session through the whole run, named in the index at its first record, as a tutor's.
    AppendSettings indexed = settings;
    indexed.index = {"0123456789abcdef", sessionindex::PlaceEntry::Kind::Record,
                     sessionindex::SessionEntry{"0123456789abcdef", QStringLiteral("005"), QStringLiteral("bench"),
                                                QStringLiteral("12-08-2026"), QStringLiteral("10:15:30"),
                                                QStringLiteral("Bench Student")}};
    enum Side { Tutor, Bare, Floor, kSides };
    const std::array<const char*, kSides> names{"tutor", "bare", "floor"};
    std::mt19937_64 random(1);
    std::array<std::vector<double>, kSides> ms;
    std::vector<double> ratios;      // tutor / floor
    std::vector<double> bareRatios;  // bare / floor
    std::vector<double> indexRatios; // tutor / bare
    for (int b = 0; b < blocks; ++b) {
        for (int n = 0; n < perBlock; ++n) {
            const bool note = random() % 3 == 0;
            const QByteArray body(recordcheck::pickBodySize(random), 'a' + char(n % 26));
            const QByteArray record = QByteArray(400, '.') + "\r\n" + body + "\r\n";
            QList<FileAppend> files{{QStringLiteral("masterFile"), folder + QStringLiteral("/masterFile.txt"), record},
                                    {QStringLiteral("send"), folder + QStringLiteral("/send_1208.txt"), record}};
            if (note)
                files << FileAppend{QStringLiteral("notes"), folder + QStringLiteral("/notes_.txt"), record};
            std::array<double, kSides> took{};
            // Each side first in turn, so that none always meets a warm cache.
            for (int turn = 0; turn < kSides; ++turn) {
                const Side side = Side((turn + n) % kSides);
                if (!only.isEmpty() && only != QLatin1String(names[side]))
                    continue;
                QElapsedTimer t;
                t.start();
                if (side != Floor) {
                    const AppendOutcome outcome = appendRecord(files, side == Tutor ? indexed : settings);
                    if (side == Tutor)
                        indexed.index.start.reset();
                    if (!outcome.ok() || !outcome.indexFailure.isEmpty()) {
                        std::fprintf(stderr, "bench_protocol: %s%s\n", qPrintable(outcome.reason),
                                     qPrintable(outcome.indexFailure));
                        return 1;
                    }
                } else {
                    for (const FileAppend& f : files) {
                        if (!floorAppend(QFileInfo(f.path).absolutePath() + QStringLiteral("/floor-") +
                                             QFileInfo(f.path).fileName(),
                                         f.bytes)) {
                            std::fprintf(stderr, "bench_protocol: the floor's append failed\n");
                            return 1;
                        }
                    }
                }
                took[side] = double(t.nsecsElapsed()) / 1e6;
            }
            for (int side = 0; side < kSides; ++side)
                ms[side].push_back(took[side]);
            ratios.push_back(took[Tutor] / std::max(took[Floor], 1e-6));
            bareRatios.push_back(took[Bare] / std::max(took[Floor], 1e-6));
            indexRatios.push_back(took[Tutor] / std::max(took[Bare], 1e-6));
        }
    }
    std::printf("bench_protocol: %d blocks of %d records into %s\n", blocks, perBlock, qPrintable(folder));
    std::printf("  record through the protocol with the session index: median %.3f ms, p99 %.3f ms\n",
                percentile(ms[Tutor], 0.5), percentile(ms[Tutor], 0.99));
    std::printf("  record through the protocol without the index:      median %.3f ms, p99 %.3f ms\n",
                percentile(ms[Bare], 0.5), percentile(ms[Bare], 0.99));
    std::printf("  floor (open/append/flush/close):                    median %.3f ms, p99 %.3f ms\n",
                percentile(ms[Floor], 0.5), percentile(ms[Floor], 0.99));
    std::printf("  ratio to the floor, median of the records: with the index %.2fx, without it %.2fx\n",
                percentile(ratios, 0.5), percentile(bareRatios, 0.5));
    std::printf("  with the index against without it, median of the records: %.2fx\n", percentile(indexRatios, 0.5));
    return 0;
}
