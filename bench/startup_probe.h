#pragma once

// What both start-up children measure, the same way: the monotonic clock, the process's
// private memory, and the moment the window's first paint is done.

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace bench {

// Resident memory of the process's own (not file-backed) pages, in kB.
inline long long privateKb()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    long long kb = 0;
    char line[256];
    while (status && std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "RssAnon: %lld", &kb) == 1)
            break;
    }
    if (status)
        std::fclose(status);
    return kb;
}

inline long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

class FirstPaint : public QObject {
public:
    long long at = 0;
    long long kb = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && at == 0) {
            at = 1;
            QTimer::singleShot(0, [this] {
                at = monotonicNs();
                kb = privateKb();
                QCoreApplication::quit();
            });
        }
        return false;
    }
};

} // namespace bench
