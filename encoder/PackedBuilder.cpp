// Packed record construction: the alpha pass always, the colour pass only when
// alpha runs do not pay, then the sections of the chosen record type.
#include "encoder/PackedBuilder.h"

#include <cstring>
#include <new>

#include "container/Limits.h"
#include "container/PackedRecord.h"
#include "encoder/ChannelRuns.h"
#include "platform/LastError.h"

namespace {

void ZeroBytes(BYTE* p, ULONGLONG nFrom, ULONGLONG nTo) {
    if (nTo > nFrom) std::memset(p + nFrom, 0, (size_t)(nTo - nFrom));
}

}  // namespace

DWORD BuildPackedRecord(BYTE* pRecord, const DWORD* pPixels, int nStride, const SIZE& size) {
    // The passes need at least one pixel and counts that fit their 32-bit fields.
    if (!pRecord || !pPixels || size.cx <= 0 || size.cy <= 0 || !rvo::FrameSizeAllowed(size.cx, size.cy))
        return Fail(ERROR_INVALID_PARAMETER);
    const ULONGLONG L = (ULONGLONG)size.cx * (ULONGLONG)size.cy;
    // The alpha plane goes straight to where a PackedColourRuns record keeps it;
    // the other types overwrite it with their own sections.
    BYTE* pAlphaPlane = pRecord + rvo::kPackedHeaderBytes;

    AlphaRunList alphaRuns;
    ColourRunList colourRuns;
    BOOL bAlphaPays, bColourPays;
    // The run lists are the only allocations; a frame they cannot hold fails, it does not throw.
    try {
        bAlphaPays = EncodeAlphaRuns(pAlphaPlane, pPixels, nStride, size, alphaRuns);
        bColourPays = !bAlphaPays && EncodeColourRuns(pPixels, nStride, size, colourRuns);
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }

    DWORD dwTag;
    ULONGLONG nSection2, nContent;
    if (bAlphaPays) {
        dwTag = rvo::PackedAlphaRuns;
        nSection2 = rvo::AlphaRunsSection2Offset(alphaRuns.size());
        nContent = rvo::AlphaRunsContentBytes(alphaRuns.size(), L);
        CopyAlphaRuns(pRecord + rvo::kPackedHeaderBytes, alphaRuns);
        ZeroBytes(pRecord, rvo::kPackedHeaderBytes + rvo::kAlphaRunBytes * (ULONGLONG)alphaRuns.size(), nSection2);
        PackColourGroups(pRecord + nSection2, pPixels, nStride, size);
    } else if (bColourPays) {
        dwTag = rvo::PackedColourRuns;
        nSection2 = rvo::ColourRunsSection2Offset(L);
        nContent = rvo::ColourRunsContentBytes(colourRuns.size(), L);
        ZeroBytes(pRecord, rvo::kPackedHeaderBytes + L, nSection2);
        CopyColourRuns(pRecord + nSection2, colourRuns);
    } else {
        dwTag = rvo::PackedRaw;
        nSection2 = rvo::kPackedHeaderBytes;
        nContent = rvo::PackedRawContentBytes(L);
        CopyFrameRows(pRecord + nSection2, pPixels, nStride, size);
    }
    FreeRuns(alphaRuns);
    FreeRuns(colourRuns);

    const ULONGLONG nRecord = RoundUp512_64(nContent);
    ZeroBytes(pRecord, nContent, nRecord);
    const rvo::PackedRecordHeader header = {dwTag, (DWORD)nRecord,
                                            (DWORD)((nSection2 - rvo::kPackedHeaderBytes) / 4), (DWORD)L};
    std::memcpy(pRecord, &header, sizeof header);
    return (DWORD)nRecord;
}
