// The record type of every frame of a packed file, from the tag in the first
// unit of each record the size table places.
#include <algorithm>

#include "container/AlignedBuffer.h"
#include "container/PackedRecord.h"
#include "container/RvoFile.h"

using namespace rvo;

RvoRecordTypes CRvoFile::CountRecordTypes() {
    RvoRecordTypes t;
    if (m_header.m_nMode != PackedFrames || !m_store.m_pFrameSizeTable || !m_store.m_hRawFile) return t;
    t.bPacked = true;
    CAlignedBuffer<BYTE> unit;
    unit.Reset(AllocAligned(kRecordUnitBytes));
    const long long nFrames = std::min<long long>(std::max<LONG>(m_header.m_nFrameCount, 0), m_header.m_dwSizeTableBytes / 4);
    for (long long i = 0; i < nFrames; i++) {
        DWORD nRead = 0;
        const bool bRead = unit && SeekToFrame((unsigned)i) &&
                           ReadFile(m_store.m_hRawFile, unit.Get(), kRecordUnitBytes, &nRead, nullptr) &&
                           nRead == kRecordUnitBytes;
        switch (bRead ? ReadPackedRecordHeader(unit.Get()).tag : 0) {
        case PackedRaw: t.nRaw++; break;
        case PackedAlphaRuns: t.nAlphaRuns++; break;
        case PackedColourRuns: t.nColourRuns++; break;
        default: t.nUnreadable++; break;
        }
    }
    return t;
}
