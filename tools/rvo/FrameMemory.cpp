#include "tools/rvo/FrameMemory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace {

constexpr size_t kHugePage = 2u << 20;

}  // namespace

CFrameMemory::~CFrameMemory() { std::free(m_p); }

void CFrameMemory::Reserve(size_t nBytes) {
    if (nBytes <= m_nBytes) return;
    std::free(m_p);
    m_p = nullptr;
    m_nBytes = 0;
    // Whole huge pages, so that the block shares none with other allocations.
    const size_t nRounded = (nBytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, nRounded);
    if (!p) throw std::bad_alloc();
    // Only advice: where the kernel has no huge pages to give, ordinary pages serve.
    madvise(p, nRounded, MADV_HUGEPAGE);
    m_p = static_cast<BYTE*>(p);
    m_nBytes = nRounded;
}
