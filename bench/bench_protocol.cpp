// The cost of the shared-folder protocol: one record appended through appendRecord (the
// operating-system locks, the lock file, the size from the server, the write, the flush, the
// read-back, the journal) against the floor, the same bytes appended to the same number of
// files in the same folder with open / append / flush / close. The two alternate, record by
// record, in blocks; the ratio is the median of the pairs' ratios.
//   bench_protocol FOLDER [BLOCKS] [RECORDS_PER_BLOCK] [tutor|floor]
// With `tutor` or `floor` only that side runs (to count a file server's requests per record).

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "reliability/record_checker.h"
#include "storage/record_files.h"

namespace {

bool floorAppend(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
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
        std::fprintf(stderr, "usage: bench_protocol FOLDER [BLOCKS] [RECORDS_PER_BLOCK]\n");
        return 2;
    }
    const QString folder = args[1];
    const int blocks = args.size() > 2 ? args[2].toInt() : 6;
    const int perBlock = args.size() > 3 ? args[3].toInt() : 300;
    const QString only = args.size() > 4 ? args[4] : QString();
    QTemporaryDir local;
    AppendSettings settings;
    settings.journalFolder = local.path() + QStringLiteral("/journal");
    std::mt19937_64 random(1);
    std::vector<double> tutor;
    std::vector<double> floor;
    std::vector<double> ratios;
    for (int b = 0; b < blocks; ++b) {
        for (int n = 0; n < perBlock; ++n) {
            const bool note = random() % 3 == 0;
            const QByteArray body(recordcheck::pickBodySize(random), 'a' + char(n % 26));
            const QByteArray record = QByteArray(400, '.') + "\r\n" + body + "\r\n";
            QList<FileAppend> files{{QStringLiteral("masterFile"), folder + QStringLiteral("/masterFile.txt"), record},
                                    {QStringLiteral("send"), folder + QStringLiteral("/send_1208.txt"), record}};
            if (note)
                files << FileAppend{QStringLiteral("notes"), folder + QStringLiteral("/notes_.txt"), record};
            double protocolMs = 0;
            double floorMs = 0;
            // Alternating which goes first, so that neither always meets a warm cache.
            for (int side = 0; side < 2; ++side) {
                QElapsedTimer t;
                t.start();
                const bool protocolSide = (side == 0) == (n % 2 == 0);
                if (!only.isEmpty() && protocolSide != (only == QLatin1String("tutor")))
                    continue;
                if (protocolSide) {
                    const AppendOutcome outcome = appendRecord(files, settings);
                    protocolMs = double(t.nsecsElapsed()) / 1e6;
                    if (!outcome.ok()) {
                        std::fprintf(stderr, "bench_protocol: %s\n", qPrintable(outcome.reason));
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
                    floorMs = double(t.nsecsElapsed()) / 1e6;
                }
            }
            tutor.push_back(protocolMs);
            floor.push_back(floorMs);
            ratios.push_back(protocolMs / std::max(floorMs, 1e-6));
        }
    }
    std::printf("bench_protocol: %d blocks of %d records into %s\n", blocks, perBlock, qPrintable(folder));
    std::printf("  record through the protocol: median %.3f ms, p99 %.3f ms\n", percentile(tutor, 0.5),
                percentile(tutor, 0.99));
    std::printf("  floor (open/append/flush/close): median %.3f ms, p99 %.3f ms\n", percentile(floor, 0.5),
                percentile(floor, 0.99));
    std::printf("  ratio, median of pairs: %.2fx\n", percentile(ratios, 0.5));
    return 0;
}
