// Movable global-memory blocks over malloc, with a registry of live handles so
// that a stale or forged handle is recognised without being dereferenced.
#include "platform/GlobalMemory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/LastError.h"

namespace {

struct GlobalBlock {
    void* pData;
    size_t nBytes;
    UINT nLocks;
};

std::mutex& RegistryLock() {
    static std::mutex m;
    return m;
}
std::unordered_set<const void*>& Registry() {
    static std::unordered_set<const void*> s;
    return s;
}
// Bytes of the live blocks and their peak; guarded by RegistryLock.
size_t g_nLiveBytes = 0;
size_t g_nPeakBytes = 0;

// The block behind a live handle, or null; the caller holds RegistryLock.
GlobalBlock* Find(HGLOBAL h) {
    if (!h || !Registry().count(h)) return nullptr;
    return static_cast<GlobalBlock*>(h);
}

}   // namespace

HGLOBAL GlobalAlloc(UINT uFlags, size_t dwBytes) {
    GlobalBlock* b = static_cast<GlobalBlock*>(std::malloc(sizeof(GlobalBlock)));
    void* p = b ? std::malloc(dwBytes ? dwBytes : 1) : nullptr;
    if (!p) {
        std::free(b);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (uFlags & GMEM_ZEROINIT) std::memset(p, 0, dwBytes);
    b->pData = p;
    b->nBytes = dwBytes;
    b->nLocks = 0;
    std::lock_guard<std::mutex> g(RegistryLock());
    Registry().insert(b);
    g_nLiveBytes += dwBytes;
    if (g_nLiveBytes > g_nPeakBytes) g_nPeakBytes = g_nLiveBytes;
    return b;
}

void* GlobalLock(HGLOBAL hMem) {
    std::lock_guard<std::mutex> g(RegistryLock());
    GlobalBlock* b = Find(hMem);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (b->nLocks < GMEM_LOCKCOUNT) b->nLocks++;
    return b->pData;
}

BOOL GlobalUnlock(HGLOBAL hMem) {
    std::lock_guard<std::mutex> g(RegistryLock());
    GlobalBlock* b = Find(hMem);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (b->nLocks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    b->nLocks--;
    if (b->nLocks == 0) {
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    return TRUE;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
    GlobalBlock* b;
    {
        std::lock_guard<std::mutex> g(RegistryLock());
        b = Find(hMem);
        if (!b) {
            SetLastError(ERROR_INVALID_HANDLE);
            return hMem;
        }
        Registry().erase(b);
        g_nLiveBytes -= b->nBytes;
    }
    std::free(b->pData);
    std::free(b);
    return nullptr;
}

UINT GlobalFlags(HGLOBAL hMem) {
    std::lock_guard<std::mutex> g(RegistryLock());
    GlobalBlock* b = Find(hMem);
    return b ? b->nLocks : GMEM_INVALID_HANDLE;
}

size_t GlobalSize(HGLOBAL hMem) {
    std::lock_guard<std::mutex> g(RegistryLock());
    GlobalBlock* b = Find(hMem);
    return b ? b->nBytes : 0;
}

size_t GlobalBytesInUse() {
    std::lock_guard<std::mutex> g(RegistryLock());
    return g_nLiveBytes;
}

size_t GlobalPeakBytes() {
    std::lock_guard<std::mutex> g(RegistryLock());
    return g_nPeakBytes;
}

void GlobalResetPeak() {
    std::lock_guard<std::mutex> g(RegistryLock());
    g_nPeakBytes = g_nLiveBytes;
}
