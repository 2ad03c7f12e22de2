// Page locking over mlock; the memory status from /proc/meminfo, RLIMIT_AS
// and /proc/self/maps.
#include "platform/Memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/LastError.h"

namespace {
std::atomic<bool> g_bOverride{false};
std::atomic<size_t> g_nOverride{0};
std::atomic<bool> g_bLimitOverride{false};
std::atomic<unsigned long long> g_nLimitOverride{0};

constexpr unsigned long long kNoLimit = ~0ull;
// The most a process of this build can address.
constexpr unsigned long long kAddressable = sizeof(void*) == 4 ? 1ull << 32 : kNoLimit;

// The process's address-space limit in bytes; kNoLimit when there is none.
unsigned long long AddressSpaceLimit() {
    if (g_bLimitOverride) return std::min(kAddressable, g_nLimitOverride.load());
    rlimit lim{};
    if (getrlimit(RLIMIT_AS, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return kAddressable;
    return std::min<unsigned long long>(kAddressable, lim.rlim_cur);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes the process has mapped: the sum of the ranges in /proc/self/maps
// ("start-end ..." a line, in hex). statm would give the same natively, but
// under user-mode emulation (the 32-bit tests) it describes the emulator and
// only maps the emulated process. Read with plain system calls into a stack
// buffer, so that taking the figure maps nothing. 0 when it cannot be read.
unsigned long long MappedBytes() {
    int fd;
    do {
        fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return 0;
    char buf[4096];
    unsigned long long total = 0, start = 0, value = 0;
    enum { kStart,
           kEnd,
           kRest } state = kStart;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; i++) {
            const char c = buf[i];
            if (c == '\n') {
                state = kStart;
                value = 0;
            } else if (state != kRest) {
                const int d = HexDigit(c);
                if (d >= 0) {
                    value = value << 4 | (unsigned)d;
                } else if (state == kStart && c == '-') {
                    start = value;
                    value = 0;
                    state = kEnd;
                } else {
                    if (state == kEnd && value > start) total += value - start;
                    state = kRest;
                }
            }
        }
    }
    ::close(fd);
    return total;
}

// A /proc/meminfo figure in bytes, or 0.
unsigned long long MemInfo(const char* key) {
    FILE* f = std::fopen("/proc/meminfo", "r");
    if (!f) return 0;
    char line[256];
    unsigned long long kb = 0;
    size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, key, n) == 0 && line[n] == ':') {
            std::sscanf(line + n + 1, "%llu", &kb);
            break;
        }
    }
    std::fclose(f);
    return kb * 1024ull;
}

size_t Cap(unsigned long long v) {
    return v > (unsigned long long)SIZE_MAX ? SIZE_MAX : (size_t)v;
}
}   // namespace

BOOL VirtualLock(void* p, size_t nBytes) {
    if (mlock(p, nBytes) != 0) return Fail(errno == ENOMEM || errno == EPERM ? ERROR_NOT_ENOUGH_MEMORY
                                                                             : ERROR_INVALID_PARAMETER);
    return TRUE;
}

BOOL VirtualUnlock(void* p, size_t nBytes) {
    if (munlock(p, nBytes) != 0) return Fail(ERROR_NOT_LOCKED);
    return TRUE;
}

void GlobalMemoryStatus(MEMORYSTATUS* s) {
    std::memset(s, 0, sizeof *s);
    s->dwLength = sizeof *s;
    unsigned long long total = MemInfo("MemTotal");
    unsigned long long avail = MemInfo("MemAvailable");
    s->dwTotalPhys = Cap(total);
    s->dwAvailPhys = Cap(avail);
    s->dwTotalPageFile = Cap(MemInfo("SwapTotal") + total);
    s->dwAvailPageFile = Cap(MemInfo("SwapFree") + avail);
    const unsigned long long limit = AddressSpaceLimit();
    if (limit == kNoLimit) {
        s->dwTotalVirtual = SIZE_MAX;
        s->dwAvailVirtual = SIZE_MAX;
    } else {
        const unsigned long long mapped = MappedBytes();
        s->dwTotalVirtual = Cap(limit);
        s->dwAvailVirtual = Cap(mapped < limit ? limit - mapped : 0);
    }
    if (total) s->dwMemoryLoad = (DWORD)(100 - avail * 100 / total);
    if (g_bOverride) s->dwAvailPhys = g_nOverride;
}

void SetAvailableMemoryOverride(bool bEnable, size_t nBytes) {
    g_nOverride = nBytes;
    g_bOverride = bEnable;
}

void SetAddressSpaceLimitOverride(bool bEnable, ULONGLONG nLimit) {
    g_nLimitOverride = nLimit;
    g_bLimitOverride = bEnable;
}

// Linux has no working-set limits to raise: nothing to count.
WorkingSetCalls GetWorkingSetCalls() { return WorkingSetCalls{0, 0, 0}; }
void SetLockQuotaOverride(bool) {}
