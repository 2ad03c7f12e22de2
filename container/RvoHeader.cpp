// The header's byte form.
#include "container/RvoHeader.h"

#include "platform/ByteOrder.h"
#include "platform/ByteReader.h"

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
    // The fields in their order in the file: each read lands on its offset.
    CByteReader r(in, kHeaderBytes);
    r.ReadBytes(m_szMagic, 8);
    m_dwIndexOffset = r.ReadU32LE();
    m_nEntryCount = r.ReadS32LE();
    m_nFrameCount = r.ReadS32LE();
    m_nMode = r.ReadS32LE();
    m_nWidth = r.ReadS32LE();
    m_nHeight = r.ReadS32LE();
    m_dwReserved32 = r.ReadU32LE();
    m_dwReserved36 = r.ReadU32LE();
    m_dwSizeTableFlag = r.ReadU32LE();
    m_dwSizeTableBytes = r.ReadU32LE();
    m_dwSizeTableOffsetHigh = r.ReadU32LE();
    m_dwSizeTableOffsetLow = r.ReadU32LE();
    r.ReadBytes(m_abReserved, sizeof m_abReserved);
    static_assert(kOffReserved + sizeof m_abReserved == kHeaderBytes, "the reserved bytes end the header");
}
