// Memory of the preload cache: how much it may take, and page-locked blocks
// for raw frames and field records. A raw frame block holds the frame's width x height pixels in field
// order: the even rows 0, 2, 4, ... one after the other, then the odd rows
// 1, 3, 5, ..., so that delivering one field reads its block sequentially. Every block in m_arrPreloaded and both field codec work arrays are
// AllocAligned blocks (page aligned, so no two blocks share a locked page);
// m_arrPreloadedSizes holds each block's locked byte count, and the container's
// reset unlocks and frees them with it.
#pragma once

#include <cstddef>

#include "platform/Memory.h"
#include "platform/Types.h"

// Whether a further block of nBytes may be preloaded: free physical memory
// must hold it, or the system would start paging, and the process's free
// address space must keep a reserve for the host after it, or the host's next
// allocation would fail. The reserve is 256 MiB, or a quarter of the address
// space when that is less. FALSE with ERROR_NOT_ENOUGH_MEMORY (physical
// memory) or ERROR_COMMITMENT_LIMIT (address space) when it may not. The
// figures are pStatus's, or GlobalMemoryStatus's now when it is null.
BOOL PreloadMemoryAllows(ULONGLONG nBytes, const MEMORYSTATUS* pStatus = nullptr);
// A new block of nBytes (at least 1), locked in physical memory; null with
// ERROR_OUTOFMEMORY when it cannot be allocated, ERROR_WORKING_SET_QUOTA when it
// cannot be locked (on Linux the process's RLIMIT_MEMLOCK; the block is freed).
BYTE* NewLockedBlock(size_t nBytes);
// Unlocks nBytes of a block from NewLockedBlock and frees it; null is ignored.
void FreeLockedBlock(void* p, size_t nBytes);
// A new locked raw frame block (4 x cx x cy bytes, field order) holding the
// packed frame pFrame; null as for NewLockedBlock.
BYTE* NewRawFrameBlock(const DWORD* pFrame, LONG cx, LONG cy);
