// Page locking and the memory status (VirtualLock/VirtualUnlock/GlobalMemoryStatus
// roles): mlock and /proc/meminfo on Linux, the system calls on Windows.
#pragma once

#include "platform/Types.h"

struct MEMORYSTATUS {
    DWORD  dwLength;
    DWORD  dwMemoryLoad;
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
// Physical memory figures from /proc/meminfo (MemAvailable), capped to what a
// 32-bit process can address on the 32-bit build.
void GlobalMemoryStatus(MEMORYSTATUS* pStatus);

// Test hook: when set, GlobalMemoryStatus reports this figure as dwAvailPhys.
void SetAvailableMemoryOverride(bool bEnable, size_t nBytes);
