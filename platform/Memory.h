// Page locking and the memory status (VirtualLock/VirtualUnlock/GlobalMemoryStatus
// roles): mlock and /proc/meminfo on Linux, the system calls on Windows.
#pragma once

#include "platform/Types.h"

struct MEMORYSTATUS {
    DWORD dwLength;
    DWORD dwMemoryLoad;
    size_t dwTotalPhys;
    size_t dwAvailPhys;
    size_t dwTotalPageFile;
    size_t dwAvailPageFile;
    size_t dwTotalVirtual;
    size_t dwAvailVirtual;
};

// FALSE with a last error when the system refuses (RLIMIT_MEMLOCK on Linux; on
// Windows the working set is grown once before the lock is given up).
BOOL VirtualLock(void* p, size_t nBytes);
BOOL VirtualUnlock(void* p, size_t nBytes);
// The system's physical memory (MemAvailable from /proc/meminfo), and the
// process's address space: dwTotalVirtual is its limit (RLIMIT_AS, and at
// most 4 GiB on the 32-bit build), dwAvailVirtual what of it is not mapped
// yet. Both are SIZE_MAX when nothing limits the space (a 64-bit process
// without RLIMIT_AS). Figures beyond SIZE_MAX are given as SIZE_MAX.
void GlobalMemoryStatus(MEMORYSTATUS* pStatus);

// Test hooks. While set, GlobalMemoryStatus reports nBytes as dwAvailPhys, and
// takes nLimit as the process's address-space limit in place of RLIMIT_AS
// (still at most what the build can address).
void SetAvailableMemoryOverride(bool bEnable, size_t nBytes);
void SetAddressSpaceLimitOverride(bool bEnable, ULONGLONG nLimit);

// Windows: a lock the working set has no room for raises the process's minimum
// and maximum working set by the block (one change at a time), and unlocking
// the block lowers them by as much again. The changes made so far, counted:
struct WorkingSetCalls {
    unsigned nGrows;
    unsigned nShrinks;
    size_t nAdded;   // what the module's locked blocks add to the limits now
};
WorkingSetCalls GetWorkingSetCalls();
// Test hook (Windows): while set, every lock first meets a full working set,
// and the limits are counted but not changed.
void SetLockQuotaOverride(bool bEnable);
