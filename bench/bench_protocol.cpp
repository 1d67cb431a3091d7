// The cost of the shared-folder protocol: one record appended through appendRecord (the
// operating-system locks, the lock folder, the size from the server, the intent, the write, the
// flush, the read-back, the journal, the session index) against the floor, the same bytes
// appended to the same number of files in the same folder with open / append / flush / close;
// and the same protocol without the session index (its entries, their part of the intent), to
// tell what the index costs. The three take turns, record by record, in blocks; each ratio is
// the median of the records' ratios. Two sides more give what the protocol's steps cost at the
// least: each step the protocol keeps (the lock made whole and moved into place, each file opened
// and its size taken, the intent, each file written, flushed and read back, the index, the lock
// let go), as one plain call each and nothing else; `kept` in turn, `together` with each step's
// files at once (a thread per file), which a record step in that order would come to.
//   bench_protocol FOLDER [BLOCKS] [RECORDS_PER_BLOCK] [tutor|bare|floor|kept|together]
// With a side named, only that side runs (to count a file server's requests per record).
//   bench_protocol FOLDER BLOCKS RECORDS_PER_BLOCK batchN[:tutor|:floor|:batch]
// Records that wait in the journal, N at a time, delivered under one hold of the locks
// (appendBatch), against the same records appended one by one (appendRecord) and the floor;
// paired group by group, each ratio the median of the groups'. With a side named, only that side.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

// Runs `step` for each of `count` files, in turn or each on a thread of its own; false if any failed.
template <typename Step> bool eachFile(int count, bool together, Step step)
{
    std::vector<char> ok(size_t(count), 0);
    if (!together) {
        for (int i = 0; i < count; ++i)
            ok[size_t(i)] = step(i);
    } else {
        std::vector<std::thread> threads;
        for (int i = 1; i < count; ++i)
            threads.emplace_back([&, i] { ok[size_t(i)] = step(i); });
        ok[0] = step(0);
        for (std::thread& t : threads)
            t.join();
    }
    return std::all_of(ok.begin(), ok.end(), [](char c) { return c != 0; });
}

// A call on a folder's names, again a few times while the file server says it is busy (an SMB
// server still closing a handle refuses for a moment), as the protocol's own calls are.
template <typename Call> bool whileBusy(Call call)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (call() == 0)
            return true;
        if (errno != EACCES && errno != EBUSY && errno != ENOTEMPTY && errno != EPERM)
            return false;
        ::usleep(1000);
    }
    return false;
}

// Where the kept steps' time goes: the lock made, the files opened and sized, the intent, the
// writes with their flushes, read-backs and closes, the lock let go (ms summed over the records).
enum KeptStep { MakeLock, OpenFiles, Intent, Write, LetGo, kKeptSteps };
std::array<double, kKeptSteps> keptStepMs{};

// The kept steps of one record into `paths` (the index last), one plain call each.
bool keptSteps(const std::vector<QByteArray>& paths, const std::vector<QByteArray>& bytes, const QByteArray& folder,
               bool together, int n)
{
    QElapsedTimer clock;
    clock.start();
    std::array<double, kKeptSteps> took{};
    auto stepDone = [&](KeptStep step) { took[step] = double(clock.nsecsElapsed()) / 1e6; };
    const QByteArray lock = folder + "/kept.lock";
    const QByteArray staged = lock + "." + QByteArray::number(n) + ".new";
    const QByteArray aside = lock + "." + QByteArray::number(n) + ".old";
    const QByteArray holder(188, 'h');
    QByteArray intent(64, 'i');
    for (const QByteArray& b : bytes)
        intent += b;
    auto writeNew = [](const QByteArray& path, const QByteArray& text) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
        return ::close(fd) == 0 && ok;
    };
    if (::mkdir(staged.constData(), 0777) != 0 || !writeNew(staged + "/holder", holder) ||
        !whileBusy([&] { return ::rename(staged.constData(), lock.constData()); }))
        return false;
    stepDone(MakeLock);
    // Asked once: it costs a request of its own over SFTP.
    static const bool onFuse = [&] {
        struct statfs kind {};
        return ::statfs(folder.constData(), &kind) == 0 && kind.f_type == 0x65735546;
    }();
    const int count = int(paths.size());
    std::vector<int> fds(size_t(count), -1);
    std::vector<off_t> ends(size_t(count), 0);
    bool ok = eachFile(count, together, [&](int i) {
        fds[size_t(i)] = ::open(paths[size_t(i)].constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        // Past the page cache on a network client, as the protocol's own files.
        if (fds[size_t(i)] >= 0 && onFuse)
            ::fcntl(fds[size_t(i)], F_SETFL, ::fcntl(fds[size_t(i)], F_GETFL) | O_DIRECT);
        struct stat st {};
        if (fds[size_t(i)] < 0 || ::fstat(fds[size_t(i)], &st) != 0)
            return false;
        ends[size_t(i)] = st.st_size;
        return true;
    });
    stepDone(OpenFiles);
    ok = ok && writeNew(lock + "/intent", intent);
    stepDone(Intent);
    // The index is written once the records are in their files.
    ok = ok && eachFile(count - 1, together, [&](int i) {
             const QByteArray& b = bytes[size_t(i)];
             QByteArray back(b.size(), '\0');
             const int fd = fds[size_t(i)];
             return ::pwrite(fd, b.constData(), size_t(b.size()), ends[size_t(i)]) == b.size() && ::fsync(fd) == 0 &&
                    ::pread(fd, back.data(), size_t(back.size()), ends[size_t(i)]) == b.size() && back == b;
         });
    const int index = fds[size_t(count - 1)];
    ok = ok &&
         ::pwrite(index, bytes.back().constData(), size_t(bytes.back().size()), ends.back()) == bytes.back().size() &&
         ::fsync(index) == 0;
    ok = eachFile(count, together, [&](int i) { return ::close(fds[size_t(i)]) == 0; }) && ok;
    stepDone(Write);
    if (!whileBusy([&] { return ::rename(lock.constData(), aside.constData()); }))
        return false;
    const std::array<QByteArray, 2> inside{aside + "/holder", aside + "/intent"};
    ok = eachFile(2, together,
                  [&](int i) { return whileBusy([&] { return ::unlink(inside[size_t(i)].constData()); }); }) &&
         ok;
    ok = whileBusy([&] { return ::rmdir(aside.constData()); }) && ok;
    stepDone(LetGo);
    for (size_t step = 0; step < kKeptSteps && !together; ++step)
        keptStepMs[step] += took[step] - (step > 0 ? took[step - 1] : 0.0);
    return ok;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// One record of the run, two or three files as a tutor's.
QList<FileAppend> recordFiles(const QString& folder, std::mt19937_64& random, int n)
{
    const QByteArray body(recordcheck::pickBodySize(random), 'a' + char(n % 26));
    const QByteArray record = QByteArray(400, '.') + "\r\n" + body + "\r\n";
    QList<FileAppend> files{{QStringLiteral("masterFile"), folder + QStringLiteral("/masterFile.txt"), record},
                            {QStringLiteral("send"), folder + QStringLiteral("/send_1208.txt"), record}};
    if (random() % 3 == 0)
        files << FileAppend{QStringLiteral("notes"), folder + QStringLiteral("/notes_.txt"), record};
    return files;
}

int runBatches(const QString& folder, int blocks, int perBlock, int size, const QString& only, AppendSettings settings)
{
    enum Side { Batch, OneByOne, Floor, kSides };
    const std::array<const char*, kSides> names{"batch", "tutor", "floor"};
    settings.index.start.reset(); // the session's entry is no part of what is measured
    std::mt19937_64 random(1);
    std::array<std::vector<double>, kSides> perRecord;
    std::array<std::vector<double>, 2> ratios; // batch / floor, batch / one by one
    for (int group = 0; group < blocks * perBlock / size; ++group) {
        QList<QList<FileAppend>> records;
        for (int n = 0; n < size; ++n)
            records << recordFiles(folder, random, group * size + n);
        std::array<double, kSides> took{};
        for (int turn = 0; turn < kSides; ++turn) {
            const Side side = Side((turn + group) % kSides);
            if (!only.isEmpty() && only != QLatin1String(names[side]))
                continue;
            // Kept in the journal first, as the tutor does at the click: on this computer's disk.
            QList<BatchRecord> waiting;
            for (const QList<FileAppend>& files : records) {
                if (side == Batch)
                    waiting << BatchRecord{files, keepInJournal(files, settings, nullptr), settings.index};
            }
            QElapsedTimer t;
            t.start();
            bool ok = true;
            if (side == Batch) {
                for (const AppendOutcome& outcome : appendBatch(waiting, settings))
                    ok = ok && outcome.ok();
            }
            for (const QList<FileAppend>& files : records) {
                if (side == OneByOne)
                    ok = ok && appendRecord(files, settings).ok();
                for (const FileAppend& f : side == Floor ? files : QList<FileAppend>())
                    ok = ok && floorAppend(QFileInfo(f.path).absolutePath() + QStringLiteral("/floor-") +
                                               QFileInfo(f.path).fileName(),
                                           f.bytes);
            }
            if (!ok) {
                std::fprintf(stderr, "bench_protocol: the %s side failed\n", names[side]);
                return 1;
            }
            took[side] = double(t.nsecsElapsed()) / 1e6;
            perRecord[side].push_back(took[side] / size);
        }
        ratios[0].push_back(took[Batch] / std::max(took[Floor], 1e-6));
        ratios[1].push_back(took[Batch] / std::max(took[OneByOne], 1e-6));
    }
    std::printf("bench_protocol: %d groups of %d waiting records into %s\n", blocks * perBlock / size, size,
                qPrintable(folder));
    for (int side = 0; side < kSides; ++side)
        std::printf("  %-5s per record: median %.3f ms, p99 %.3f ms\n", names[side], percentile(perRecord[side], 0.5),
                    percentile(perRecord[side], 0.99));
    std::printf("  a batch against the floor, median of the groups: %.2fx; against one by one: %.2fx\n",
                percentile(ratios[0], 0.5), percentile(ratios[1], 0.5));
    return 0;
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
    if (only.startsWith(QLatin1String("batch"))) {
        const QString sizeAndSide = only.mid(5);
        const int size = std::max(1, sizeAndSide.section(u':', 0, 0).toInt());
        return runBatches(folder, blocks, perBlock, size, sizeAndSide.section(u':', 1), indexed);
    }
    enum Side { Tutor, Bare, Floor, Kept, Together, kSides };
    const std::array<const char*, kSides> names{"tutor", "bare", "floor", "kept", "together"};
    std::mt19937_64 random(1);
    std::array<std::vector<double>, kSides> ms;
    std::vector<double> ratios;                    // tutor / floor
    std::vector<double> bareRatios;                // bare / floor
    std::vector<double> indexRatios;               // tutor / bare
    std::array<std::vector<double>, 2> keptRatios; // kept / floor, together / floor
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
                if (side == Tutor || side == Bare) {
                    const AppendOutcome outcome = appendRecord(files, side == Tutor ? indexed : settings);
                    if (side == Tutor)
                        indexed.index.start.reset();
                    if (!outcome.ok() || !outcome.indexFailure.isEmpty()) {
                        std::fprintf(stderr, "bench_protocol: %s%s\n", qPrintable(outcome.reason),
                                     qPrintable(outcome.indexFailure));
                        return 1;
                    }
                } else if (side != Floor) {
                    std::vector<QByteArray> paths;
                    std::vector<QByteArray> bytes;
                    for (const FileAppend& f : files) {
                        paths.push_back(
                            QFile::encodeName(folder + QStringLiteral("/kept-") + QFileInfo(f.path).fileName()));
                        bytes.push_back(f.bytes);
                    }
                    paths.push_back(QFile::encodeName(folder + QStringLiteral("/kept-records.index")));
                    bytes.push_back(QByteArray(100, 'x') + "\n");
                    if (!keptSteps(paths, bytes, QFile::encodeName(folder), side == Together, b * perBlock + n)) {
                        std::fprintf(stderr, "bench_protocol: a kept step failed: %s\n", std::strerror(errno));
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
            keptRatios[0].push_back(took[Kept] / std::max(took[Floor], 1e-6));
            keptRatios[1].push_back(took[Together] / std::max(took[Floor], 1e-6));
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
    std::printf("  the kept steps alone, in turn:   median %.3f ms, %.2fx the floor\n", percentile(ms[Kept], 0.5),
                percentile(keptRatios[0], 0.5));
    std::printf("  the kept steps alone, together:  median %.3f ms, %.2fx the floor\n", percentile(ms[Together], 0.5),
                percentile(keptRatios[1], 0.5));
    const double records = std::max<double>(1, double(ms[Kept].size()));
    std::printf("  the kept steps in turn, by step (mean ms): make the lock %.2f, open and size the files %.2f, "
                "intent %.2f, write, flush, read back and close %.2f, let go %.2f\n",
                keptStepMs[MakeLock] / records, keptStepMs[OpenFiles] / records, keptStepMs[Intent] / records,
                keptStepMs[Write] / records, keptStepMs[LetGo] / records);
    return 0;
}
