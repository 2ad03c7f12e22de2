// Unbuffered files: Win32 handles opened with FILE_FLAG_NO_BUFFERING. On
// Windows they are the system's (a transfer that does not fit the volume's
// sector size goes through an aligned bounce block); on Linux reads and writes
// go through O_DIRECT when the file system takes it, and where it refuses
// (tmpfs, or a transfer the device cannot align) the same call is served
// buffered, with identical bytes.
#pragma once

#include "platform/Types.h"

#define GENERIC_READ            0x80000000u
#define GENERIC_WRITE           0x40000000u
#define FILE_SHARE_READ         0x00000001u
#define CREATE_NEW              1u
#define CREATE_ALWAYS           2u
#define OPEN_EXISTING           3u
#define OPEN_ALWAYS             4u
#define FILE_ATTRIBUTE_NORMAL   0x00000080u
#define FILE_FLAG_NO_BUFFERING  0x20000000u
#define FILE_BEGIN              0u
#define FILE_CURRENT            1u
#define FILE_END                2u
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

// Sector size that buffers, offsets and lengths of unbuffered transfers respect.
constexpr DWORD kSectorBytes = 512;
// Alignment of buffers handed to unbuffered transfers (a page satisfies every device).
constexpr size_t kDirectAlignment = 4096;

HANDLE CreateFileW(const WCHAR* pszPath, DWORD dwAccess, DWORD dwShare, void* pSecurity,
                   DWORD dwDisposition, DWORD dwFlags, HANDLE hTemplate);
BOOL   ReadFile(HANDLE h, void* pBuf, DWORD nBytes, DWORD* pnRead, void* pOverlapped);
BOOL   WriteFile(HANDLE h, const void* pBuf, DWORD nBytes, DWORD* pnWritten, void* pOverlapped);
// Low half of the new position; INVALID_SET_FILE_POINTER with a last error on failure.
DWORD  SetFilePointer(HANDLE h, LONG lDistance, LONG* plDistanceHigh, DWORD dwMethod);
// Cuts the file at the current position.
BOOL   SetEndOfFile(HANDLE h);
BOOL   CloseHandle(HANDLE h);
// Whether the handle's transfers currently bypass the page cache (for tests and reports).
BOOL   IsDirectIo(HANDLE h);

// Page-aligned heap blocks for unbuffered transfers; contents zeroed.
void* AllocAligned(size_t nBytes);
void  FreeAligned(void* p);
