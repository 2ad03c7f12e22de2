// The preload cache's blocks: kept, and unlocked and freed with the cache.
#include "container/PreloadCache.h"

#include "platform/Memory.h"
#include "platform/RawFile.h"

namespace {

void FreeBlock(void* p, UINT nBytes) {
    if (!p) return;
    VirtualUnlock(p, nBytes);
    FreeAligned(p);
}

}   // namespace

void CPreloadCache::Add(void* pBlock, UINT nBytes) {
    // The block is the cache's from here, even when the arrays cannot grow.
    try {
        m_arrPreloadedSizes.Add(nBytes);
        m_arrPreloaded.Add(pBlock);
    } catch (...) {
        m_arrPreloadedSizes.SetSize(m_arrPreloaded.GetSize());
        FreeBlock(pBlock, nBytes);
        throw;
    }
}

void CPreloadCache::DropLast() {
    const int n = m_arrPreloaded.GetSize() - 1;
    if (n < 0) return;
    FreeBlock(m_arrPreloaded.GetAt(n), m_arrPreloadedSizes.GetAt(n));
    m_arrPreloaded.SetSize(n);
    m_arrPreloadedSizes.SetSize(n);
}

void CPreloadCache::Clear() {
    for (int i = 0; i < m_arrPreloaded.GetSize(); i++) FreeBlock(m_arrPreloaded.GetAt(i), m_arrPreloadedSizes.GetAt(i));
    m_arrPreloaded.RemoveAll();
    m_arrPreloadedSizes.RemoveAll();
}
