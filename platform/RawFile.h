// File handles in the manner of Win32's, buffered or, with
// FILE_FLAG_NO_BUFFERING, unbuffered. On Windows they are the system's (an
// unbuffered transfer that does not fit the volume's sector size goes through
// an aligned bounce block); on Linux unbuffered reads and writes go through
// O_DIRECT when the file system takes it, and where it refuses (tmpfs, or a
// transfer the device cannot align) the same call is served buffered, with
// identical bytes.
//
// Share modes hold between handles, in one process or in several: a handle
// opened with FILE_SHARE_READ lets others read and keeps writers out, one
// opened with share mode 0 keeps every other handle out, and one that shares
// writing keeps nobody out. An open that a share mode refuses fails with
// ERROR_SHARING_VIOLATION and changes nothing: CREATE_ALWAYS empties an
// existing file only once the handle has been admitted.
#pragma once

#include "platform/Types.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

// Sector size that buffers, offsets and lengths of unbuffered transfers respect.
constexpr DWORD kSectorBytes = 512;
// Alignment of buffers handed to unbuffered transfers (a page satisfies every device).
constexpr size_t kDirectAlignment = 4096;

HANDLE CreateFileW(const WCHAR* pszPath, DWORD dwAccess, DWORD dwShare, void* pSecurity,
                   DWORD dwDisposition, DWORD dwFlags, HANDLE hTemplate);
BOOL ReadFile(HANDLE h, void* pBuf, DWORD nBytes, DWORD* pnRead, void* pOverlapped);
BOOL WriteFile(HANDLE h, const void* pBuf, DWORD nBytes, DWORD* pnWritten, void* pOverlapped);
// Low half of the new position; INVALID_SET_FILE_POINTER with a last error on failure.
DWORD SetFilePointer(HANDLE h, LONG lDistance, LONG* plDistanceHigh, DWORD dwMethod);
// Cuts the file at the current position.
BOOL SetEndOfFile(HANDLE h);
BOOL CloseHandle(HANDLE h);
// Whether the handle's transfers currently bypass the page cache (for tests and reports).
BOOL IsDirectIo(HANDLE h);
// The sector size an unbuffered handle aligns its transfers to: on Windows the
// volume's, asked of the open handle (of the path's volume where the handle
// cannot say; 512 where neither can), on Linux 512 (a device that wants more
// refuses the transfer, which is then served buffered). Transfers that do not
// fit go through a bounce block (Windows) or the page cache (Linux): the bytes
// in the file are the same whatever the size.
DWORD SectorSizeOf(HANDLE h);
// Test hook: while nBytes is not 0, unbuffered handles opened take it as their
// sector size (a power of two from 512 to 4096), as on a volume of such sectors.
void SetSectorSizeOverride(DWORD nBytes);
// Test hook: a crash while writing. Armed (bEnable), the writes of every handle
// (a CFile's too) count against nWrites whole writes and nBytes bytes; the write
// that would pass either limit is cut there (the bytes within the byte limit
// reach the file, the rest do not), and from then on nothing reaches any file:
// writes and SetEndOfFile report success and change nothing, as if the process
// had died at that point. Disarmed, files are written as usual. TRUE (both
// platforms offer it; platform/CrashPoint.cpp).
BOOL SetCrashPointOverride(bool bEnable, ULONGLONG nWrites = ~0ull, ULONGLONG nBytes = ~0ull);
// The writes and bytes that reached files since the hook was armed.
void GetCrashPointCounts(ULONGLONG* pnWrites, ULONGLONG* pnBytes);

// Page-aligned heap blocks for unbuffered transfers; contents zeroed.
void* AllocAligned(size_t nBytes);
void FreeAligned(void* p);
// A working block for whole frames (a file's frame buffers, a tool's frames in
// flight): as AllocAligned, and on Linux a block of 2 MiB or more is aligned to
// and rounded up to 2 MiB and offered for huge pages (MADV_HUGEPAGE), so that
// an unbuffered transfer pins a few pages rather than thousands and touching
// the block faults a few times. Not for blocks kept by the thousand (the
// rounding) or locked (whole huge pages would be). Freed with FreeAligned.
void* AllocFrameBlock(size_t nBytes);
