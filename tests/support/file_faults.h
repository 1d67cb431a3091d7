#pragma once

// The C library's file calls, taken over in the test program that includes this header (one
// source file of one test only): a call of one kind on a path that contains a given part
// fails with a given error at its n-th time, or freezes there. A freeze holds every thread but
// the one that armed it at its next file call, the way a computer that sleeps stops all of its
// program at once, while the armed thread acts as another computer. The native file layer is
// used as it is; nothing in the program knows of this.

#include <QByteArray>
#include <QHash>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Where the calls are taken over, every test that needs a fault runs.
#define FILEFAULTS_OR_SKIP() static_cast<void>(0)

namespace filefaults {

enum class Call { Open, Lock, Size, Write, Flush, FolderFlush, Read, Close, Rename, Remove, MakeFolder };

struct Rule {
    Call call = Call::Write;
    QByteArray pathPart;      // in the path the call names, or the path of its descriptor
    int nth = 1;              // the n-th such call from the arming on
    int times = 1;            // and as many after it
    int error = 0;            // the call fails with this, without being made
    bool freeze = false;      // the call waits for thaw(), then is made (a write that arrives late)
    bool freezeAfter = false; // the call is made, then waits (a reply that comes late)
    bool made = false;        // with `error`: the call is made first, and its answer is lost
    bool remote = false;      // every file is on a network file system, as its client says
    int delayMs = 0;          // every call on a path with `pathPart` waits this long first: a slow link
    // With `error`, for writes: the disk behind a client that writes behind (sshfs) is full. A
    // write lands only up to the end of the file's last page and says it was made; `error` comes
    // at the file's next flush or close.
    bool full = false;
    // With `remote`: the mount table, as the program reads it, names this user-space client
    // ("fuse.smbnetfs") for every mount.
    QByteArray client{};
};

struct State {
    std::atomic<bool> armed{false};
    std::mutex mutex;
    std::condition_variable changed;
    Rule rule;
    int seen = 0;
    int truncations = 0;
    bool frozen = false;
    std::thread::id armer;
    QHash<int, int> behind; // a write's failure each descriptor has yet to tell
};

inline State& state()
{
    static State s;
    return s;
}

inline void arm(const Rule& rule)
{
    State& s = state();
    std::lock_guard guard(s.mutex);
    s.rule = rule;
    s.seen = 0;
    s.truncations = 0;
    s.frozen = false;
    s.behind.clear();
    s.armer = std::this_thread::get_id();
    s.armed = true;
}

inline void thaw()
{
    State& s = state();
    {
        std::lock_guard guard(s.mutex);
        s.frozen = false;
    }
    s.changed.notify_all();
}

inline void disarm()
{
    thaw();
    state().armed = false;
}

// How many calls matched the rule since it was armed.
inline int seen()
{
    std::lock_guard guard(state().mutex);
    return state().seen;
}

// How many times a file was cut back since the rule was armed.
inline int truncations()
{
    std::lock_guard guard(state().mutex);
    return state().truncations;
}

inline bool frozen()
{
    std::lock_guard guard(state().mutex);
    return state().frozen;
}

inline QByteArray pathOf(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[4096];
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    return n > 0 ? QByteArray(path, int(n)) : QByteArray();
}

inline bool isFolder(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
}

// Before the call: 0 to make it, or the error to fail it with. `after` is set when the call is
// to wait once made.
inline int before(Call call, const QByteArray& path, bool& after)
{
    after = false;
    State& s = state();
    if (!s.armed)
        return 0;
    std::unique_lock lock(s.mutex);
    // A frozen computer makes no call until it wakes, whatever the call.
    if (std::this_thread::get_id() != s.armer)
        s.changed.wait(lock, [&] { return !s.frozen; });
    if (s.rule.delayMs > 0 && path.contains(s.rule.pathPart)) {
        const int delay = s.rule.delayMs;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        return 0;
    }
    // The thread that armed a freeze is the other computer, and never sleeps.
    const bool freezing = s.rule.freeze || s.rule.freezeAfter;
    if (call != s.rule.call || !path.contains(s.rule.pathPart) || (freezing && std::this_thread::get_id() == s.armer))
        return 0;
    ++s.seen;
    if (s.seen < s.rule.nth || s.seen >= s.rule.nth + s.rule.times)
        return 0;
    if (s.rule.freeze) {
        s.frozen = true;
        s.changed.notify_all();
        s.changed.wait(lock, [&] { return !s.frozen; });
    }
    if (s.rule.freezeAfter) {
        s.frozen = true;
        s.changed.notify_all();
        after = true;
    }
    if (s.rule.made) {
        after = true;
        return 0;
    }
    return s.rule.error;
}

// After a call that was made: 0, or the error its lost answer is to be.
inline int afterCall(bool after)
{
    if (!after)
        return 0;
    State& s = state();
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return !s.frozen; });
    return s.rule.made ? s.rule.error : 0;
}

inline bool remote()
{
    return state().armed && state().rule.remote;
}

template <typename F> F real(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

template <typename R, typename Make> R faulted(Call call, const QByteArray& path, R failed, Make make)
{
    bool after = false;
    if (const int error = before(call, path, after)) {
        errno = error;
        return failed;
    }
    const R result = make();
    const int saved = errno;
    if (const int lost = afterCall(after)) {
        errno = lost;
        return failed;
    }
    errno = saved;
    return result;
}

inline QByteArray fdPath(int fd)
{
    return state().armed ? pathOf(fd) : QByteArray();
}

// The mount table with every mount's type the rule's client, in a file of its own; -1 when the
// rule names none or `path` is not the table.
inline int mountTable(const char* path)
{
    State& s = state();
    if (!s.armed || !s.rule.remote || s.rule.client.isEmpty() || std::strcmp(path, "/proc/self/mountinfo") != 0)
        return -1;
    QByteArray table;
    if (FILE* real = std::fopen(path, "re")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, real)) > 0;)
            table.append(buffer, qsizetype(n));
        std::fclose(real);
    }
    QByteArray faked;
    for (const QByteArray& line : table.split('\n')) {
        const qsizetype dash = line.indexOf(" - ");
        if (dash < 0)
            continue;
        const qsizetype type = dash + 3;
        const qsizetype end = line.indexOf(' ', type);
        faked += line.left(type) + s.rule.client + (end < 0 ? QByteArray() : line.mid(end)) + '\n';
    }
    const int fd = ::memfd_create("mountinfo", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, faked.constData(), size_t(faked.size())) != ssize_t(faked.size()))
        return -1;
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

// A write at `at` (-1: at the descriptor's offset) through `make(bytes)`.
template <typename Make> ssize_t writeFaulted(int fd, size_t size, off_t at, Make make)
{
    State& s = state();
    if (!s.armed || !s.rule.full)
        return faulted(Call::Write, fdPath(fd), ssize_t(-1), [&] { return make(size); });
    bool after = false;
    const int error = before(Call::Write, fdPath(fd), after);
    if (error == 0)
        return make(size);
    struct stat info {};
    const off_t from = at >= 0 ? at : ::lseek(fd, 0, SEEK_CUR);
    if (::fstat(fd, &info) != 0 || from < 0)
        return make(size);
    const off_t room = (info.st_size + 4095) / 4096 * 4096 - from;
    const size_t fits = room <= 0 ? 0 : std::min(size, size_t(room));
    if (fits > 0 && make(fits) != ssize_t(fits))
        return -1;
    if (fits < size) {
        std::lock_guard guard(s.mutex);
        s.behind.insert(fd, error);
    }
    if (at < 0)
        ::lseek(fd, from + off_t(size), SEEK_SET);
    return ssize_t(size);
}

// The failure of a write behind, told once, at the descriptor's next flush or close.
inline int toldBehind(int fd)
{
    State& s = state();
    if (!s.armed)
        return 0;
    std::lock_guard guard(s.mutex);
    return s.behind.take(fd);
}

} // namespace filefaults

#define FILEFAULTS_OPEN(name)                                                                                          \
    extern "C" int name(const char* path, int flags, ...)                                                              \
    {                                                                                                                  \
        mode_t mode = 0;                                                                                               \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                                           \
            va_list args;                                                                                              \
            va_start(args, flags);                                                                                     \
            mode = mode_t(va_arg(args, int));                                                                          \
            va_end(args);                                                                                              \
        }                                                                                                              \
        static const auto next = filefaults::real<int (*)(const char*, int, ...)>(#name);                              \
        if (const int table = filefaults::mountTable(path); table >= 0)                                                \
            return table;                                                                                              \
        return filefaults::faulted(filefaults::Call::Open, path, -1, [&] { return next(path, flags, mode); });         \
    }
#define FILEFAULTS_OPENAT(name)                                                                                        \
    extern "C" int name(int dir, const char* path, int flags, ...)                                                     \
    {                                                                                                                  \
        mode_t mode = 0;                                                                                               \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                                           \
            va_list args;                                                                                              \
            va_start(args, flags);                                                                                     \
            mode = mode_t(va_arg(args, int));                                                                          \
            va_end(args);                                                                                              \
        }                                                                                                              \
        static const auto next = filefaults::real<int (*)(int, const char*, int, ...)>(#name);                         \
        if (const int table = filefaults::mountTable(path); table >= 0)                                                \
            return table;                                                                                              \
        return filefaults::faulted(filefaults::Call::Open, path, -1, [&] { return next(dir, path, flags, mode); });    \
    }
#define FILEFAULTS_PWRITE(name)                                                                                        \
    extern "C" ssize_t name(int fd, const void* data, size_t size, off_t at)                                           \
    {                                                                                                                  \
        static const auto next = filefaults::real<ssize_t (*)(int, const void*, size_t, off_t)>(#name);                \
        return filefaults::writeFaulted(fd, size, at, [&](size_t n) { return next(fd, data, n, at); });                \
    }
#define FILEFAULTS_PREAD(name)                                                                                         \
    extern "C" ssize_t name(int fd, void* data, size_t size, off_t at)                                                 \
    {                                                                                                                  \
        static const auto next = filefaults::real<ssize_t (*)(int, void*, size_t, off_t)>(#name);                      \
        return filefaults::faulted(filefaults::Call::Read, filefaults::fdPath(fd), ssize_t(-1),                        \
                                   [&] { return next(fd, data, size, at); });                                          \
    }
#define FILEFAULTS_FCNTL(name)                                                                                         \
    extern "C" int name(int fd, int command, ...)                                                                      \
    {                                                                                                                  \
        va_list args;                                                                                                  \
        va_start(args, command);                                                                                       \
        void* arg = va_arg(args, void*);                                                                               \
        va_end(args);                                                                                                  \
        static const auto next = filefaults::real<int (*)(int, int, ...)>(#name);                                      \
        /* Files the program took for a network's keep their kind for the run, armed or not: */                        \
        /* the test's own disk would refuse their unaligned writes past the cache. */                                  \
        if (command == F_SETFL)                                                                                        \
            arg = reinterpret_cast<void*>(reinterpret_cast<intptr_t>(arg) & ~intptr_t(O_DIRECT));                      \
        const bool locking = command == F_OFD_SETLK || command == F_SETLK;                                             \
        if (!locking)                                                                                                  \
            return next(fd, command, arg);                                                                             \
        return filefaults::faulted(filefaults::Call::Lock, filefaults::fdPath(fd), -1,                                 \
                                   [&] { return next(fd, command, arg); });                                            \
    }

FILEFAULTS_OPEN(open)
FILEFAULTS_OPEN(open64)
FILEFAULTS_OPENAT(openat)
FILEFAULTS_OPENAT(openat64)
FILEFAULTS_PWRITE(pwrite)
FILEFAULTS_PWRITE(pwrite64)
FILEFAULTS_PREAD(pread)
FILEFAULTS_PREAD(pread64)
FILEFAULTS_FCNTL(fcntl)
FILEFAULTS_FCNTL(fcntl64)

extern "C" ssize_t write(int fd, const void* data, size_t size)
{
    static const auto next = filefaults::real<ssize_t (*)(int, const void*, size_t)>("write");
    return filefaults::writeFaulted(fd, size, -1, [&](size_t n) { return next(fd, data, n); });
}

extern "C" int fsync(int fd)
{
    static const auto next = filefaults::real<int (*)(int)>("fsync");
    const auto call =
        filefaults::state().armed && filefaults::isFolder(fd) ? filefaults::Call::FolderFlush : filefaults::Call::Flush;
    if (const int error = filefaults::toldBehind(fd)) {
        errno = error;
        return -1;
    }
    return filefaults::faulted(call, filefaults::fdPath(fd), -1, [&] { return next(fd); });
}

extern "C" int fstatfs(int fd, struct statfs* out)
{
    static const auto next = filefaults::real<int (*)(int, struct statfs*)>("fstatfs");
    const int rc = next(fd, out);
    if (rc == 0 && filefaults::remote())
        out->f_type = 0x65735546; // FUSE
    return rc;
}

extern "C" int fstatfs64(int fd, struct statfs64* out)
{
    static const auto next = filefaults::real<int (*)(int, struct statfs64*)>("fstatfs64");
    const int rc = next(fd, out);
    if (rc == 0 && filefaults::remote())
        out->f_type = 0x65735546;
    return rc;
}

extern "C" int ftruncate(int fd, off_t size) noexcept
{
    static const auto next = filefaults::real<int (*)(int, off_t)>("ftruncate");
    if (filefaults::state().armed) {
        std::lock_guard guard(filefaults::state().mutex);
        ++filefaults::state().truncations;
    }
    return next(fd, size);
}

extern "C" int close(int fd)
{
    static const auto next = filefaults::real<int (*)(int)>("close");
    if (const int error = filefaults::toldBehind(fd)) {
        next(fd);
        errno = error;
        return -1;
    }
    return filefaults::faulted(filefaults::Call::Close, filefaults::fdPath(fd), -1, [&] { return next(fd); });
}

extern "C" int statx(int dir, const char* path, int flags, unsigned int mask, struct statx* out)
{
    static const auto next = filefaults::real<int (*)(int, const char*, int, unsigned int, struct statx*)>("statx");
    const QByteArray named = path && *path ? QByteArray(path) : filefaults::fdPath(dir);
    return filefaults::faulted(filefaults::Call::Size, named, -1, [&] { return next(dir, path, flags, mask, out); });
}

// A look at a path by name, as statx is (the C library's own calls of statx do not come here).
extern "C" int stat(const char* path, struct stat* out) noexcept
{
    static const auto next = filefaults::real<int (*)(const char*, struct stat*)>("stat");
    return filefaults::faulted(filefaults::Call::Size, path, -1, [&] { return next(path, out); });
}

extern "C" int rename(const char* from, const char* to)
{
    static const auto next = filefaults::real<int (*)(const char*, const char*)>("rename");
    return filefaults::faulted(filefaults::Call::Rename, QByteArray(from) + '\n' + to, -1,
                               [&] { return next(from, to); });
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags)
{
    static const auto next = filefaults::real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    return filefaults::faulted(filefaults::Call::Rename, QByteArray(from) + '\n' + to, -1,
                               [&] { return next(fromDir, from, toDir, to, flags); });
}

extern "C" int unlink(const char* path)
{
    static const auto next = filefaults::real<int (*)(const char*)>("unlink");
    return filefaults::faulted(filefaults::Call::Remove, path, -1, [&] { return next(path); });
}

extern "C" int rmdir(const char* path)
{
    static const auto next = filefaults::real<int (*)(const char*)>("rmdir");
    return filefaults::faulted(filefaults::Call::Remove, path, -1, [&] { return next(path); });
}

extern "C" int mkdir(const char* path, mode_t mode)
{
    static const auto next = filefaults::real<int (*)(const char*, mode_t)>("mkdir");
    return filefaults::faulted(filefaults::Call::MakeFolder, path, -1, [&] { return next(path, mode); });
}

#else

// Windows: no C library calls are taken over. The types are here so that the tests build;
// a test that needs a fault skips (FILEFAULTS_OR_SKIP).
namespace filefaults {
enum class Call { Open, Lock, Size, Write, Flush, FolderFlush, Read, Close, Rename, Remove, MakeFolder };
struct Rule {
    Call call = Call::Write;
    QByteArray pathPart;
    int nth = 1;
    int times = 1;
    int error = 0;
    bool freeze = false;
    bool freezeAfter = false;
    bool made = false;
    bool remote = false;
    int delayMs = 0;
    bool full = false;
    QByteArray client{};
};
inline void arm(const Rule&) {}
inline void disarm() {}
inline int seen()
{
    return 0;
}
inline int truncations()
{
    return 0;
}
inline bool frozen()
{
    return false;
}
} // namespace filefaults

#define FILEFAULTS_OR_SKIP() QSKIP("the C library's file calls are taken over only on POSIX systems")

#endif
