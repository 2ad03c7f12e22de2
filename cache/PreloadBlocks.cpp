// Allocation and page locking of the preload cache's blocks.
#include "cache/PreloadBlocks.h"

#include "platform/LastError.h"
#include "platform/Memory.h"
#include "platform/RawFile.h"

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
