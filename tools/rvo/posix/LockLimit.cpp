// The page-lock limit of rvo preload on Linux: RLIMIT_MEMLOCK, and the
// CAP_IPC_LOCK privilege that lifts it.
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "tools/rvo/HostSession.h"

namespace {

std::string LimitText(rlim_t n) {
    if (n == RLIM_INFINITY) return "unlimited";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f KiB", (double)n / 1024.0);
    return buf;
}


// CAP_IPC_LOCK (capability 14) lets a process lock pages past RLIMIT_MEMLOCK.
bool HasIpcLockCapability() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return false;
    char line[256];
    unsigned long long caps = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "CapEff: %llx", &caps) == 1) break;
    std::fclose(f);
    return (caps >> 14) & 1;
}

}   // namespace

// Common defaults (64 KiB, 8 MiB) are far below a movie's frames.
std::string RaiseLockLimit() {
    if (HasIpcLockCapability()) return "page locking not limited (CAP_IPC_LOCK)";
    rlimit lim{};
    if (getrlimit(RLIMIT_MEMLOCK, &lim) != 0) return "page-lock limit unknown";
    if (lim.rlim_cur == RLIM_INFINITY) return "page-lock limit unlimited";
    const rlim_t old = lim.rlim_cur;
    rlimit want{RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_MEMLOCK, &want) == 0) return "page-lock limit raised from " + LimitText(old) + " to unlimited";
    if (lim.rlim_max != old) {
        want = rlimit{lim.rlim_max, lim.rlim_max};
        if (setrlimit(RLIMIT_MEMLOCK, &want) == 0)
            return "page-lock limit raised from " + LimitText(old) + " to the hard limit " + LimitText(lim.rlim_max);
    }
    return "page-lock limit " + LimitText(old) + " (not allowed to raise it)";
}

std::string CurrentLockLimit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_MEMLOCK, &lim) != 0) return "unknown";
    return LimitText(lim.rlim_cur);
}

