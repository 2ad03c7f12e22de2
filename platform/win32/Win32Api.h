// The Win32 functions the platform layer calls, declared here in the system's
// own terms (wchar_t strings, 32-bit unsigned long words) inside namespace w32,
// so that a file can use them beside the module's platform headers, whose
// names (WCHAR as char16_t, DWORD, RECT, the stand-in functions) would clash
// with <windows.h>. Strings are converted at this boundary: WCHAR and wchar_t
// are both UTF-16 code units on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#define RVO_W32 extern "C" __attribute__((dllimport, stdcall))

namespace w32 {

typedef unsigned long ULONG;
typedef int WINBOOL;
typedef void* HANDLE;

struct MEMORYSTATUSEX {
    ULONG dwLength;
    ULONG dwMemoryLoad;
    unsigned long long ullTotalPhys;
    unsigned long long ullAvailPhys;
    unsigned long long ullTotalPageFile;
    unsigned long long ullAvailPageFile;
    unsigned long long ullTotalVirtual;
    unsigned long long ullAvailVirtual;
    unsigned long long ullAvailExtendedVirtual;
};

struct CRITICAL_SECTION {
    void* DebugInfo;
    long LockCount;
    long RecursionCount;
    HANDLE OwningThread;
    HANDLE LockSemaphore;
    uintptr_t SpinCount;
};

struct CONDITION_VARIABLE {
    void* Ptr;
};

// GetFileInformationByHandleEx's FileStorageInfo record.
struct FILE_STORAGE_INFO {
    ULONG LogicalBytesPerSector;
    ULONG PhysicalBytesPerSectorForAtomicity;
    ULONG PhysicalBytesPerSectorForPerformance;
    ULONG FileSystemEffectivePhysicalBytesPerSectorForAtomicity;
    ULONG Flags;
    ULONG ByteOffsetForSectorAlignment;
    ULONG ByteOffsetForPartitionAlignment;
};
constexpr int kFileStorageInfo = 16;

constexpr ULONG kErrorWorkingSetQuota = 1453;
constexpr ULONG kErrorNoUnicodeTranslation = 1113;
constexpr unsigned kCpAcp = 0;
constexpr ULONG kInfinite = 0xFFFFFFFFu;
constexpr ULONG kShareRead = 0x1, kShareWrite = 0x2;
constexpr ULONG kErrorSharingViolation = 32;

inline const wchar_t* Wide(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is a UTF-16 code unit on Windows");

RVO_W32 HANDLE CreateFileW(const wchar_t* pszPath, ULONG dwAccess, ULONG dwShare, void* pSecurity,
                           ULONG dwDisposition, ULONG dwFlags, HANDLE hTemplate);
RVO_W32 WINBOOL ReadFile(HANDLE h, void* pBuf, ULONG nBytes, ULONG* pnRead, void* pOverlapped);
RVO_W32 WINBOOL WriteFile(HANDLE h, const void* pBuf, ULONG nBytes, ULONG* pnWritten, void* pOverlapped);
RVO_W32 WINBOOL SetFilePointerEx(HANDLE h, long long llDistance, long long* pllNew, ULONG dwMethod);
RVO_W32 WINBOOL GetFileSizeEx(HANDLE h, long long* pllSize);
RVO_W32 WINBOOL SetEndOfFile(HANDLE h);
RVO_W32 WINBOOL FlushFileBuffers(HANDLE h);
RVO_W32 WINBOOL CloseHandle(HANDLE h);
RVO_W32 WINBOOL GetVolumePathNameW(const wchar_t* pszPath, wchar_t* pszVolume, ULONG nChars);
RVO_W32 WINBOOL GetFileInformationByHandleEx(HANDLE h, int nClass, void* pInfo, ULONG nBytes);
RVO_W32 WINBOOL GetDiskFreeSpaceW(const wchar_t* pszRoot, ULONG* pnSectorsPerCluster, ULONG* pnBytesPerSector,
                                  ULONG* pnFreeClusters, ULONG* pnClusters);

RVO_W32 HANDLE GlobalAlloc(unsigned uFlags, size_t nBytes);
RVO_W32 void* GlobalLock(HANDLE h);
RVO_W32 WINBOOL GlobalUnlock(HANDLE h);
RVO_W32 HANDLE GlobalFree(HANDLE h);
RVO_W32 unsigned GlobalFlags(HANDLE h);
RVO_W32 size_t GlobalSize(HANDLE h);

RVO_W32 WINBOOL VirtualLock(void* p, size_t nBytes);
RVO_W32 WINBOOL VirtualUnlock(void* p, size_t nBytes);
RVO_W32 HANDLE GetCurrentProcess();
RVO_W32 WINBOOL GetProcessWorkingSetSize(HANDLE hProcess, size_t* pnMin, size_t* pnMax);
RVO_W32 WINBOOL SetProcessWorkingSetSize(HANDLE hProcess, size_t nMin, size_t nMax);
RVO_W32 WINBOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* pStatus);

RVO_W32 WINBOOL IsBadReadPtr(const void* p, uintptr_t nBytes);
RVO_W32 void SetLastError(ULONG dwError);
RVO_W32 ULONG GetLastError();
RVO_W32 int MultiByteToWideChar(unsigned nCodePage, ULONG dwFlags, const char* p, int n, wchar_t* pOut,
                                int nOut);

RVO_W32 void InitializeCriticalSection(CRITICAL_SECTION* p);
RVO_W32 void DeleteCriticalSection(CRITICAL_SECTION* p);
RVO_W32 void EnterCriticalSection(CRITICAL_SECTION* p);
RVO_W32 void LeaveCriticalSection(CRITICAL_SECTION* p);
RVO_W32 void InitializeConditionVariable(CONDITION_VARIABLE* p);
RVO_W32 WINBOOL SleepConditionVariableCS(CONDITION_VARIABLE* p, CRITICAL_SECTION* pcs, ULONG dwMilliseconds);
RVO_W32 void WakeConditionVariable(CONDITION_VARIABLE* p);

RVO_W32 WINBOOL IntersectRect(void* pOut, const void* a, const void* b);   // user32

RVO_W32 HANDLE GetModuleHandleW(const wchar_t* pszName);
RVO_W32 WINBOOL GetModuleHandleExW(ULONG dwFlags, const wchar_t* pszName, HANDLE* phModule);
RVO_W32 WINBOOL FreeLibrary(HANDLE hModule);
RVO_W32 void* GetProcAddress(HANDLE hModule, const char* pszName);

}   // namespace w32

#undef RVO_W32
