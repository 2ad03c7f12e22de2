// The crash point: the limits left, what reached files, and whether the crash came.
#include "platform/CrashPoint.h"

#include <atomic>
#include <mutex>

#include "platform/RawFile.h"

namespace {

struct CrashPoint {
    bool bArmed = false;
    bool bCrashed = false;
    ULONGLONG nWritesLeft = 0, nBytesLeft = 0;
    ULONGLONG nWrites = 0, nBytes = 0;
};
std::mutex g_crashLock;
CrashPoint g_crash;
std::atomic<bool> g_bCrashArmed{false};

}   // namespace

DWORD CrashGate(DWORD nBytes) {
    if (!g_bCrashArmed) return nBytes;
    std::lock_guard<std::mutex> lock(g_crashLock);
    CrashPoint& c = g_crash;
    if (c.bCrashed) return 0;
    DWORD n = nBytes;
    if (c.nWritesLeft == 0) n = 0;
    if (n > c.nBytesLeft) n = (DWORD)c.nBytesLeft;
    if (n < nBytes || c.nWritesLeft == 0) c.bCrashed = true;
    if (!c.bCrashed || n > 0) {
        c.nWritesLeft--;
        c.nWrites++;
    }
    c.nBytesLeft -= n;
    c.nBytes += n;
    return n;
}

bool Crashed() {
    if (!g_bCrashArmed) return false;
    std::lock_guard<std::mutex> lock(g_crashLock);
    return g_crash.bCrashed;
}

BOOL SetCrashPointOverride(bool bEnable, ULONGLONG nWrites, ULONGLONG nBytes) {
    std::lock_guard<std::mutex> lock(g_crashLock);
    g_crash = CrashPoint{};
    g_crash.bArmed = bEnable;
    g_crash.nWritesLeft = nWrites;
    g_crash.nBytesLeft = nBytes;
    g_bCrashArmed = bEnable;
    return TRUE;
}

void GetCrashPointCounts(ULONGLONG* pnWrites, ULONGLONG* pnBytes) {
    std::lock_guard<std::mutex> lock(g_crashLock);
    if (pnWrites) *pnWrites = g_crash.nWrites;
    if (pnBytes) *pnBytes = g_crash.nBytes;
}
