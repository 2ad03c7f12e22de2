// The header's byte form.
#include "container/RvoHeader.h"

#include "platform/ByteOrder.h"

using namespace rvo;

void CRvoHeader::StoreHeader(BYTE out[160]) const {
    std::memcpy(out + kOffMagic, m_szMagic, 8);
    StoreLe32(out + kOffIndexOffset, m_dwIndexOffset);
    StoreLe32(out + kOffEntryCount, (DWORD)m_nEntryCount);
    StoreLe32(out + kOffFrameCount, (DWORD)m_nFrameCount);
    StoreLe32(out + kOffMode, (DWORD)m_nMode);
    StoreLe32(out + kOffWidth, (DWORD)m_nWidth);
    StoreLe32(out + kOffHeight, (DWORD)m_nHeight);
    StoreLe32(out + kOffReserved32, m_dwReserved32);
    StoreLe32(out + kOffReserved36, m_dwReserved36);
    StoreLe32(out + kOffSizeTableFlag, m_dwSizeTableFlag);
    StoreLe32(out + kOffSizeTableBytes, m_dwSizeTableBytes);
    StoreLe32(out + kOffSizeTableOffsetHigh, m_dwSizeTableOffsetHigh);
    StoreLe32(out + kOffSizeTableOffsetLow, m_dwSizeTableOffsetLow);
    std::memcpy(out + kOffReserved, m_abReserved, sizeof m_abReserved);
}

void CRvoHeader::LoadHeader(const BYTE in[160]) {
    std::memcpy(m_szMagic, in + kOffMagic, 8);
    m_dwIndexOffset = LoadLe32(in + kOffIndexOffset);
    m_nEntryCount = (LONG)LoadLe32(in + kOffEntryCount);
    m_nFrameCount = (LONG)LoadLe32(in + kOffFrameCount);
    m_nMode = (LONG)LoadLe32(in + kOffMode);
    m_nWidth = (LONG)LoadLe32(in + kOffWidth);
    m_nHeight = (LONG)LoadLe32(in + kOffHeight);
    m_dwReserved32 = LoadLe32(in + kOffReserved32);
    m_dwReserved36 = LoadLe32(in + kOffReserved36);
    m_dwSizeTableFlag = LoadLe32(in + kOffSizeTableFlag);
    m_dwSizeTableBytes = LoadLe32(in + kOffSizeTableBytes);
    m_dwSizeTableOffsetHigh = LoadLe32(in + kOffSizeTableOffsetHigh);
    m_dwSizeTableOffsetLow = LoadLe32(in + kOffSizeTableOffsetLow);
    std::memcpy(m_abReserved, in + kOffReserved, sizeof m_abReserved);
}
