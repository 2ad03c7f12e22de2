// The preload cache's memory check, and the allocation and page locking of its blocks.
#include "cache/PreloadBlocks.h"

#include <algorithm>

#include "pixels/PixelRows.h"
#include "platform/LastError.h"
#include "platform/Memory.h"
#include "platform/RawFile.h"

namespace {
constexpr ULONGLONG kHostReserveBytes = 256ull << 20;
}   // namespace

BOOL PreloadMemoryAllows(ULONGLONG nBytes, const MEMORYSTATUS* pStatus) {
    MEMORYSTATUS ms;
    if (pStatus)
        ms = *pStatus;
    else
        GlobalMemoryStatus(&ms);
    if ((ULONGLONG)ms.dwAvailPhys < nBytes) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    const ULONGLONG nReserve = std::min<ULONGLONG>(kHostReserveBytes, (ULONGLONG)ms.dwTotalVirtual / 4);
    if ((ULONGLONG)ms.dwAvailVirtual < nBytes + nReserve) return Fail(ERROR_COMMITMENT_LIMIT);
    return TRUE;
}

BYTE* NewLockedBlock(size_t nBytes) {
    BYTE* p = static_cast<BYTE*>(AllocAligned(nBytes ? nBytes : 1));
    if (!p) {
        SetLastError(ERROR_OUTOFMEMORY);
        return nullptr;
    }
    if (!VirtualLock(p, nBytes)) {
        FreeAligned(p);
        SetLastError(ERROR_WORKING_SET_QUOTA);
        return nullptr;
    }
    return p;
}

void FreeLockedBlock(void* p, size_t nBytes) {
    if (!p) return;
    VirtualUnlock(p, nBytes);
    FreeAligned(p);
}

BYTE* NewRawFrameBlock(const DWORD* pFrame, LONG cx, LONG cy) {
    BYTE* pBlock = NewLockedBlock(4 * (size_t)cx * (size_t)cy);
    if (!pBlock) return nullptr;
    DWORD* pEven = reinterpret_cast<DWORD*>(pBlock);
    const LONG nEven = (cy + 1) / 2;
    CopyPixelRows(pEven, cx, pFrame, 2 * (ptrdiff_t)cx, cx, nEven);
    CopyPixelRows(pEven + (ptrdiff_t)nEven * cx, cx, pFrame + cx, 2 * (ptrdiff_t)cx, cx, cy / 2);
    return pBlock;
}
