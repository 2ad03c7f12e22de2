// Frame blocks lent to GStreamer buffers and taken back when they are freed.
#include "gst/FrameBlocks.h"

#include "platform/RawFile.h"

namespace {

// What a buffer's memory carries back: the block and the blocks it came from.
struct Loan {
    void* pBlock;
    std::shared_ptr<CFrameBlocks> pOwner;
};

}   // namespace

std::shared_ptr<CFrameBlocks> CFrameBlocks::Create(size_t nBytes) {
    std::shared_ptr<CFrameBlocks> p(new CFrameBlocks(nBytes));
    p->m_self = p;
    return p;
}

CFrameBlocks::~CFrameBlocks() {
    for (void* p : m_free) FreeAligned(p);
}

GstBuffer* CFrameBlocks::Acquire() {
    void* pBlock = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_free.empty()) {
            pBlock = m_free.back();
            m_free.pop_back();
        }
    }
    if (!pBlock) pBlock = AllocFrameBlock(m_nBytes);
    if (!pBlock) return nullptr;
    Loan* pLoan = new Loan{pBlock, m_self.lock()};
    return gst_buffer_new_wrapped_full((GstMemoryFlags)0, pBlock, m_nBytes, 0, m_nBytes, pLoan, Release);
}

void CFrameBlocks::Release(gpointer data) {
    Loan* pLoan = static_cast<Loan*>(data);
    {
        std::lock_guard<std::mutex> lock(pLoan->pOwner->m_lock);
        pLoan->pOwner->m_free.push_back(pLoan->pBlock);
    }
    delete pLoan;   // the last loan of blocks no longer used frees them all
}
