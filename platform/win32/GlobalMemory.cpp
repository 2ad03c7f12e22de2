// Movable global-memory blocks: the system's own, with the bytes they hold
// counted as the POSIX registry counts them.
#include "platform/GlobalMemory.h"

#include <atomic>

#include "platform/win32/Win32Api.h"

namespace {
std::atomic<size_t> g_nLiveBytes{0};
std::atomic<size_t> g_nPeakBytes{0};
}   // namespace

HGLOBAL GlobalAlloc(UINT uFlags, size_t dwBytes) {
    HGLOBAL h = w32::GlobalAlloc(uFlags, dwBytes);
    if (h) {
        const size_t nLive = g_nLiveBytes += w32::GlobalSize(h);
        size_t nPeak = g_nPeakBytes;
        while (nLive > nPeak && !g_nPeakBytes.compare_exchange_weak(nPeak, nLive)) {
        }
    }
    return h;
}

void* GlobalLock(HGLOBAL hMem) { return w32::GlobalLock(hMem); }
BOOL GlobalUnlock(HGLOBAL hMem) { return w32::GlobalUnlock(hMem); }

HGLOBAL GlobalFree(HGLOBAL hMem) {
    const size_t nBytes = hMem ? w32::GlobalSize(hMem) : 0;
    HGLOBAL hLeft = w32::GlobalFree(hMem);
    if (hMem && !hLeft) g_nLiveBytes -= nBytes;
    return hLeft;
}

UINT GlobalFlags(HGLOBAL hMem) { return w32::GlobalFlags(hMem); }
size_t GlobalSize(HGLOBAL hMem) { return w32::GlobalSize(hMem); }
size_t GlobalBytesInUse() { return g_nLiveBytes; }
size_t GlobalPeakBytes() { return g_nPeakBytes; }
void GlobalResetPeak() { g_nPeakBytes = g_nLiveBytes.load(); }
