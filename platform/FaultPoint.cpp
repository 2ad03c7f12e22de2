// The failing-disk hook's count, shared by both platform layers; each layer
// asks FaultPointFails at the start of its file calls.
#include "platform/FaultPoint.h"

#include <atomic>
#include <mutex>

#include "platform/LastError.h"

namespace {

struct FaultPoint {
    unsigned nCalls = 0;
    ULONGLONG nth = 0;
    DWORD dwError = 0;
    bool bSticky = false;
    ULONGLONG nCounted = 0;
    ULONGLONG nFailed = 0;
};

std::mutex g_faultLock;
FaultPoint g_fault;
std::atomic<bool> g_bFaultArmed{false};

}   // namespace

void SetFaultPoint(unsigned nCalls, ULONGLONG nth, DWORD dwError, bool bSticky) {
    std::lock_guard<std::mutex> lock(g_faultLock);
    g_fault = FaultPoint{};
    g_fault.nCalls = nCalls;
    g_fault.nth = nth;
    g_fault.dwError = dwError;
    g_fault.bSticky = bSticky;
    g_bFaultArmed = nth != 0 && nCalls != 0;
}

void GetFaultPointCounts(ULONGLONG* pnCalls, ULONGLONG* pnFailed) {
    std::lock_guard<std::mutex> lock(g_faultLock);
    if (pnCalls) *pnCalls = g_fault.nCounted;
    if (pnFailed) *pnFailed = g_fault.nFailed;
}

BOOL FaultPointFails(FaultCall call) {
    if (!g_bFaultArmed) return FALSE;
    std::lock_guard<std::mutex> lock(g_faultLock);
    FaultPoint& f = g_fault;
    if (!(f.nCalls & call)) return FALSE;
    const ULONGLONG n = ++f.nCounted;
    if (n != f.nth && !(f.bSticky && n > f.nth)) return FALSE;
    f.nFailed++;
    SetLastError(f.dwError);
    return TRUE;
}
