// Page locking with VirtualLock, growing the working set where a lock needs
// it (and giving the growth back when the block is unlocked), and the memory
// status from GlobalMemoryStatusEx.
#include "platform/Memory.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/LastError.h"
#include "platform/win32/Win32Api.h"

namespace {
std::atomic<bool> g_bOverride{false};
std::atomic<size_t> g_nOverride{0};
std::atomic<bool> g_bLimitOverride{false};
std::atomic<unsigned long long> g_nLimitOverride{0};

size_t Cap(unsigned long long v) { return v > (unsigned long long)SIZE_MAX ? SIZE_MAX : (size_t)v; }

// One change of the process's working-set limits at a time: each is a read
// then a set, and two threads locking at once would lose one's growth.
std::mutex g_mtxWorkingSet;
// The blocks whose lock grew the limits, and by how much: given back at unlock.
struct Growth {
    void* p;
    size_t nBytes;
};
std::vector<Growth> g_arrGrowth;
WorkingSetCalls g_calls;
bool g_bQuotaOverride = false;

// Adds nMore (or, negative, takes it back) to both limits.
bool ChangeWorkingSet(size_t nMore, bool bGrow) {
    w32::HANDLE hProcess = w32::GetCurrentProcess();
    size_t nMin = 0, nMax = 0;
    if (!w32::GetProcessWorkingSetSize(hProcess, &nMin, &nMax)) return false;
    if (bGrow && (nMin > SIZE_MAX - nMore || nMax > SIZE_MAX - nMore)) return false;
    if (!bGrow && (nMin < nMore || nMax < nMore)) return false;
    return w32::SetProcessWorkingSetSize(hProcess, bGrow ? nMin + nMore : nMin - nMore,
                                         bGrow ? nMax + nMore : nMax - nMore) != 0;
}

// The growth recorded for p given back; the caller holds g_mtxWorkingSet.
void GiveBack(void* p) {
    for (size_t i = 0; i < g_arrGrowth.size(); i++) {
        if (g_arrGrowth[i].p != p) continue;
        const size_t nBytes = g_arrGrowth[i].nBytes;
        g_arrGrowth.erase(g_arrGrowth.begin() + (ptrdiff_t)i);
        if (g_bQuotaOverride || ChangeWorkingSet(nBytes, false)) {
            g_calls.nShrinks++;
            g_calls.nAdded -= nBytes;
        }
        return;
    }
}

// The test hook's stand-in for a full working set: the first try fails.
bool LockPages(void* p, size_t nBytes, bool bFirstTry) {
    if (g_bQuotaOverride && bFirstTry) {
        w32::SetLastError(w32::kErrorWorkingSetQuota);
        return false;
    }
    return w32::VirtualLock(p, nBytes) != 0;
}
}   // namespace

BOOL VirtualLock(void* p, size_t nBytes) {
    if (LockPages(p, nBytes, true)) return TRUE;
    const DWORD dwError = (DWORD)w32::GetLastError();
    if (dwError != w32::kErrorWorkingSetQuota) return FALSE;
    std::lock_guard<std::mutex> lock(g_mtxWorkingSet);
    // Room for nBytes more locked pages (and the pages a range may straddle).
    const size_t nMore = nBytes + 2 * 4096;
    // Room in the record first, so that a growth made is always recorded.
    try {
        g_arrGrowth.reserve(g_arrGrowth.size() + 1);
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (!(g_bQuotaOverride || ChangeWorkingSet(nMore, true))) return Fail(dwError);
    g_arrGrowth.push_back({p, nMore});
    g_calls.nGrows++;
    g_calls.nAdded += nMore;
    if (LockPages(p, nBytes, false)) return TRUE;
    const DWORD dwLockError = (DWORD)w32::GetLastError();
    GiveBack(p);
    return Fail(dwLockError);
}

BOOL VirtualUnlock(void* p, size_t nBytes) {
    const BOOL bOk = w32::VirtualUnlock(p, nBytes) ? TRUE : FALSE;
    std::lock_guard<std::mutex> lock(g_mtxWorkingSet);
    GiveBack(p);
    return bOk;
}

void SetLockQuotaOverride(bool bEnable) {
    std::lock_guard<std::mutex> lock(g_mtxWorkingSet);
    g_bQuotaOverride = bEnable;
}

WorkingSetCalls GetWorkingSetCalls() {
    std::lock_guard<std::mutex> lock(g_mtxWorkingSet);
    return g_calls;
}

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
    if (g_bLimitOverride) {
        // A lower limit on the address space: what is mapped now stays mapped.
        const unsigned long long nUsed = ms.ullTotalVirtual - ms.ullAvailVirtual;
        const unsigned long long nLimit = std::min<unsigned long long>(g_nLimitOverride, ms.ullTotalVirtual);
        s->dwTotalVirtual = Cap(nLimit);
        s->dwAvailVirtual = Cap(nLimit > nUsed ? nLimit - nUsed : 0);
    }
}

void SetAddressSpaceLimitOverride(bool bEnable, ULONGLONG nLimit) {
    g_nLimitOverride = nLimit;
    g_bLimitOverride = bEnable;
}

void SetAvailableMemoryOverride(bool bEnable, size_t nBytes) {
    g_nOverride = nBytes;
    g_bOverride = bEnable;
}
