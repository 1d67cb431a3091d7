#pragma once

#include <QtGlobal>

#ifndef _WIN32
#include <sys/resource.h>
#endif

// Holds the process's file size limit while it lives: a write that would take a file past
// it fails with EFBIG, the way a full quota or a size cap on a share does. Windows has no
// such limit for a process: there `supported` is false and the cases that need it skip.
class FileSizeLimit {
public:
#ifdef _WIN32
    static constexpr bool supported = false;
    explicit FileSizeLimit(qint64) {}
#else
    static constexpr bool supported = true;
    explicit FileSizeLimit(qint64 bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
    }
#endif
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

#ifndef _WIN32
private:
    rlimit saved_{};
#endif
};

#define SKIP_WITHOUT_FILE_SIZE_LIMIT()                                                                                 \
    do {                                                                                                               \
        if (!FileSizeLimit::supported)                                                                                 \
            QSKIP("this system has no file size limit for a process (covered under Wine by check-windows)");           \
    } while (false)
