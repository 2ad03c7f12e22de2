// Page locking over mlock and the memory status from /proc/meminfo.
#include "platform/Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/LastError.h"

namespace {
std::atomic<bool>   g_bOverride{false};
std::atomic<size_t> g_nOverride{0};

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
}  // namespace

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
    s->dwTotalVirtual = sizeof(void*) == 4 ? 0xC0000000u : SIZE_MAX;
    s->dwAvailVirtual = s->dwTotalVirtual;
    if (total) s->dwMemoryLoad = (DWORD)(100 - avail * 100 / total);
    if (g_bOverride) s->dwAvailPhys = g_nOverride;
}

void SetAvailableMemoryOverride(bool bEnable, size_t nBytes) {
    g_nOverride = nBytes;
    g_bOverride = bEnable;
}
