// The preload cache's memory for one file: page-locked blocks (raw frames in
// field order for modes 4 and 5, field records otherwise; cache/ makes and
// reads them), each with its locked byte count. The cache owns its blocks:
// they are unlocked and freed when it is cleared or dies.
#pragma once

#include "platform/Collections.h"
#include "platform/Types.h"

class CPreloadCache {
public:
    CPreloadCache() = default;
    ~CPreloadCache() { Clear(); }
    CPreloadCache(const CPreloadCache&) = delete;
    CPreloadCache& operator=(const CPreloadCache&) = delete;

    int GetSize() const { return m_arrPreloaded.GetSize(); }
    const void* GetAt(int i) const { return m_arrPreloaded.GetAt(i); }
    // The locked byte count of block i.
    UINT GetBytesAt(int i) const { return m_arrPreloadedSizes.GetAt(i); }
    // Takes a block of AllocAligned memory, nBytes of it locked (NewLockedBlock).
    void Add(void* pBlock, UINT nBytes);
    // Unlocks and frees the last block.
    void DropLast();
    void Clear();

private:
    CPtrArray m_arrPreloaded;         // AllocAligned blocks, owned
    CUIntArray m_arrPreloadedSizes;   // locked byte count of each block
};
