#include "tools/rvo/FrameMemory.h"

#include <new>

#include "platform/RawFile.h"

CFrameMemory::~CFrameMemory() { FreeAligned(m_p); }

void CFrameMemory::Reserve(size_t nBytes) {
    if (nBytes <= m_nBytes) return;
    FreeAligned(m_p);
    m_nBytes = 0;
    m_p = static_cast<BYTE*>(AllocFrameBlock(nBytes));
    if (!m_p) throw std::bad_alloc();
    m_nBytes = nBytes;
}
