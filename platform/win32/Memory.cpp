// Page locking with VirtualLock, growing the working set where a lock needs
// it, and the memory status from GlobalMemoryStatusEx.
#include "platform/Memory.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/LastError.h"
#include "platform/win32/Win32Api.h"

namespace {
std::atomic<bool>   g_bOverride{false};
std::atomic<size_t> g_nOverride{0};

size_t Cap(unsigned long long v) { return v > (unsigned long long)SIZE_MAX ? SIZE_MAX : (size_t)v; }

// Room for nBytes more locked pages (and the pages a range may straddle).
bool GrowWorkingSet(size_t nBytes) {
    w32::HANDLE hProcess = w32::GetCurrentProcess();
    size_t nMin = 0, nMax = 0;
    if (!w32::GetProcessWorkingSetSize(hProcess, &nMin, &nMax)) return false;
    const size_t nMore = nBytes + 2 * 4096;
    if (nMin > SIZE_MAX - nMore || nMax > SIZE_MAX - nMore) return false;
    return w32::SetProcessWorkingSetSize(hProcess, nMin + nMore, nMax + nMore) != 0;
}
}  // namespace

BOOL VirtualLock(void* p, size_t nBytes) {
    if (w32::VirtualLock(p, nBytes)) return TRUE;
    const DWORD dwError = (DWORD)w32::GetLastError();
    if (dwError != w32::kErrorWorkingSetQuota) return FALSE;
    if (!GrowWorkingSet(nBytes)) return Fail(dwError);
    return w32::VirtualLock(p, nBytes) ? TRUE : FALSE;
}

BOOL VirtualUnlock(void* p, size_t nBytes) { return w32::VirtualUnlock(p, nBytes) ? TRUE : FALSE; }

void GlobalMemoryStatus(MEMORYSTATUS* s) {
    std::memset(s, 0, sizeof *s);
    s->dwLength = sizeof *s;
    w32::MEMORYSTATUSEX ms;
    std::memset(&ms, 0, sizeof ms);
    ms.dwLength = sizeof ms;
    if (w32::GlobalMemoryStatusEx(&ms)) {
        s->dwMemoryLoad = (DWORD)ms.dwMemoryLoad;
        s->dwTotalPhys = Cap(ms.ullTotalPhys);
        s->dwAvailPhys = Cap(ms.ullAvailPhys);
        s->dwTotalPageFile = Cap(ms.ullTotalPageFile);
        s->dwAvailPageFile = Cap(ms.ullAvailPageFile);
        s->dwTotalVirtual = Cap(ms.ullTotalVirtual);
        s->dwAvailVirtual = Cap(ms.ullAvailVirtual);
    }
    if (g_bOverride) s->dwAvailPhys = g_nOverride;
}

void SetAvailableMemoryOverride(bool bEnable, size_t nBytes) {
    g_nOverride = nBytes;
    g_bOverride = bEnable;
}
