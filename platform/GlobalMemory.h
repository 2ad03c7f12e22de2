// Movable global-memory blocks (the HGLOBAL family): handles that stay valid
// while the block moves, lock counts, and a validity test that never touches
// freed memory. The system's on Windows; on Linux over malloc, with live
// handles kept in a registry.
#pragma once

#include "platform/Types.h"

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GMEM_INVALID_HANDLE 0x8000u
#define GMEM_LOCKCOUNT 0x00FFu

// Returns null (last error ERROR_NOT_ENOUGH_MEMORY) when the block cannot be had.
HGLOBAL GlobalAlloc(UINT uFlags, size_t dwBytes);
// Null for an unknown handle (last error ERROR_INVALID_HANDLE).
void* GlobalLock(HGLOBAL hMem);
// Non-zero while the block stays locked; 0 with last error 0 when the count
// reaches 0; 0 with ERROR_NOT_LOCKED for an unlocked block and
// ERROR_INVALID_HANDLE for an unknown handle.
BOOL GlobalUnlock(HGLOBAL hMem);
// Null on success; the handle itself when it is not a live block.
HGLOBAL GlobalFree(HGLOBAL hMem);
// The lock count in the low byte, or GMEM_INVALID_HANDLE for anything not live.
UINT GlobalFlags(HGLOBAL hMem);
// Size in bytes of a live block; 0 otherwise.
size_t GlobalSize(HGLOBAL hMem);
// Bytes held by live blocks now, and the most they held since the last reset.
size_t GlobalBytesInUse();
size_t GlobalPeakBytes();
void GlobalResetPeak();
