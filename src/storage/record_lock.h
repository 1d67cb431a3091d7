#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

// The lock file of a record folder: created atomically while one record is appended, so
// that computers whose file-system clients keep operating-system locks to themselves still
// take turns. It names its holder, so that a lock left by a dead program can be told apart.
namespace recordlock {

inline const QString kFileName = QStringLiteral("records.lock");

struct Holder {
    QString computer;
    qint64 process = 0;
    QDateTime since; // UTC

    friend bool operator==(const Holder&, const Holder&) = default;
};

QByteArray text(const Holder& holder);
std::optional<Holder> parse(const QByteArray& text);
Holder thisProgram(const QDateTime& now);
QString thisComputer();

enum class Verdict { Held, StaleProcessGone, StaleByAge, StaleNameless };

struct Judgement {
    Verdict verdict = Verdict::Held;
    QString holder; // who holds it and since when, in words
};

struct Facts {
    QByteArray content;
    bool readable = true;
    QDateTime fileTime; // when the file was last written, for a lock that names nobody
    QDateTime now;
    QString thisComputer;
    qint64 thisProcess = 0;
    qint64 staleAfterSecs = 600;
    std::function<bool(qint64)> processAlive;
    // How long this program has watched the same nameless lock, and how long a holder may
    // take between creating the lock and naming itself in it.
    qint64 unchangedForMs = 0;
    qint64 namelessGraceMs = 5000;
};

// A lock is broken only when plainly stale: its process is gone on this computer, or it is
// older than a limit far above any real append, or it has named nobody for far longer than a
// holder takes to write its name (a program killed right after creating it). One that cannot
// be read, or names nobody, counts its age from its file time.
Judgement judge(const Facts& facts);

struct Timing {
    int waitMs = 15000;
    qint64 staleAfterSecs = 600;
    qint64 namelessGraceMs = 5000;
};

// Holds the lock file of one folder while it lives; never left behind on a path the program
// controls.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Nothing when held, otherwise why not in plain words. Waits at most until the deadline
    // (milliseconds since the epoch) for a holder to let go.
    std::optional<QString> acquire(const QString& folder, const Timing& timing, qint64 deadline);
    void release();

private:
    QString path_;
    QByteArray ours_;
};

} // namespace recordlock
