// Construction and clearing of index entries; an entry owns its blob and extra items.
#include "container/IndexEntry.h"

#include <cstring>

#include "platform/GlobalMemory.h"

RvoIndexEntry::RvoIndexEntry() : m_hBlob(nullptr), m_nExtraCount(0), m_pExtra(nullptr) { Clear(); }

RvoIndexEntry::~RvoIndexEntry() { Clear(); }

void RvoIndexEntry::Clear() {
    // A handle the registry no longer knows was freed elsewhere; freeing it again would be a double free.
    if (m_hBlob && !(GlobalFlags(m_hBlob) & GMEM_INVALID_HANDLE)) GlobalFree(m_hBlob);
    m_hBlob = nullptr;
    delete[] m_pExtra;
    m_pExtra = nullptr;
    m_nExtraCount = 0;
    m_dwReserved0 = 0;
    m_nKind = 0;
    m_strName.Empty();
    m_dwReserved12 = 0;
    m_dwReserved16 = 0;
    m_nStartFrame = 0;
    m_nLastFrame = 0;
    m_dwFlags = 0;
    m_dwBlobOffset = 0;
    m_nIndexBlobAt = 0;
    m_dwIndexBlobBytes = 0;
    m_nWidth = 0;
    m_nHeight = 0;
    std::memset(m_abReserved48, 0, sizeof m_abReserved48);
    std::memset(m_abReserved80, 0, sizeof m_abReserved80);
    std::memset(m_abReserved120, 0, sizeof m_abReserved120);
}
