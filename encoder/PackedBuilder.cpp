// Packed record construction: the alpha pass always, the colour pass when the
// rule asks for it, then the sections of the chosen record type.
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

}   // namespace

const char* PackRuleName(RvoPackRule rule) {
    return rule == RvoPackRule::Smallest ? "smallest" : "standard";
}

BOOL PackRuleFromName(const char* pszName, RvoPackRule* pRule) {
    if (!pszName || !pRule) return FALSE;
    for (RvoPackRule rule : {RvoPackRule::Standard, RvoPackRule::Smallest}) {
        if (std::strcmp(pszName, PackRuleName(rule)) == 0) {
            *pRule = rule;
            return TRUE;
        }
    }
    return FALSE;
}

namespace {

// The record type by the module's rule: the colour pass only when alpha runs do not pay.
DWORD StandardChoice(BOOL bAlphaPays, const DWORD* pPixels, int nStride, const SIZE& size,
                     ColourRunList& colourRuns) {
    if (bAlphaPays) return rvo::PackedAlphaRuns;
    return EncodeColourRuns(pPixels, nStride, size, colourRuns) ? rvo::PackedColourRuns : rvo::PackedRaw;
}

// The record type of the smallest record. Where sizes are equal, the record
// the module's rule stores wins, so a frame's record changes only to save
// bytes; of PackedAlphaRuns and PackedRaw of one size, when the rule stores
// neither, PackedRaw. Colour runs must give a record no larger than the better
// of the other two, so the colour pass stops once its list is too long for that.
DWORD SmallestChoice(BOOL bAlphaPays, const AlphaRunList& alphaRuns, ULONGLONG nColourLiterals,
                     const DWORD* pPixels, int nStride, const SIZE& size, ColourRunList& colourRuns) {
    const ULONGLONG L = (ULONGLONG)size.cx * (ULONGLONG)size.cy;
    const ULONGLONG nAlpha = RoundUp512_64(rvo::AlphaRunsContentBytes(alphaRuns.size(), L));
    const ULONGLONG nRaw = rvo::MaxPackedRecordBytes(L);
    const bool bAlphaBetter = bAlphaPays ? nAlpha <= nRaw : nAlpha < nRaw;
    const DWORD dwBest = bAlphaBetter ? rvo::PackedAlphaRuns : rvo::PackedRaw;
    const ULONGLONG nBest = bAlphaBetter ? nAlpha : nRaw;
    // With nBest a multiple of 512, roundup512(c + 16 m) <= nBest when c + 16 m <= nBest;
    // when alpha runs pay, colour runs must be smaller: c + 16 m <= nBest - 512.
    const ULONGLONG nRoom = bAlphaPays ? nBest - rvo::kRecordUnitBytes : nBest;
    const ULONGLONG nSection2 = rvo::ColourRunsSection2Offset(L);
    if (nRoom < nSection2 + rvo::kColourRunBytes) return dwBest;
    const ULONGLONG nMaxRuns = (nRoom - nSection2) / rvo::kColourRunBytes;
    // The literal groups alone already make too many elements (natural video): no colour pass.
    if (nColourLiterals > nMaxRuns) return dwBest;
    BOOL bPaysByLimit = FALSE;
    if (!EncodeColourRunsWithin(pPixels, nStride, size, nMaxRuns, colourRuns, &bPaysByLimit)) return dwBest;
    const ULONGLONG nColour = RoundUp512_64(rvo::ColourRunsContentBytes(colourRuns.size(), L));
    // Of equal sizes, colour runs only where the module's rule stores them.
    if (nColour < nBest || bPaysByLimit) return rvo::PackedColourRuns;
    FreeRuns(colourRuns);
    return dwBest;
}

}   // namespace

DWORD BuildPackedRecord(BYTE* pRecord, const DWORD* pPixels, int nStride, const SIZE& size, RvoPackRule rule) {
    // The passes need at least one pixel and counts that fit their 32-bit fields.
    if (!pRecord || !pPixels || size.cx <= 0 || size.cy <= 0 || !rvo::FrameSizeAllowed(size.cx, size.cy))
        return Fail(ERROR_INVALID_PARAMETER);
    const ULONGLONG L = (ULONGLONG)size.cx * (ULONGLONG)size.cy;
    // The alpha plane goes straight to where a PackedColourRuns record keeps it;
    // the other types overwrite it with their own sections.
    BYTE* pAlphaPlane = pRecord + rvo::kPackedHeaderBytes;

    AlphaRunList alphaRuns;
    ColourRunList colourRuns;
    DWORD dwTag;
    // The run lists are the only allocations; a frame they cannot hold fails, it does not throw.
    try {
        if (rule == RvoPackRule::Smallest) {
            ULONGLONG nColourLiterals = 0;
            const BOOL bAlphaPays = EncodeAlphaRuns(pAlphaPlane, pPixels, nStride, size, alphaRuns, &nColourLiterals);
            dwTag = SmallestChoice(bAlphaPays, alphaRuns, nColourLiterals, pPixels, nStride, size, colourRuns);
        } else {
            const BOOL bAlphaPays = EncodeAlphaRuns(pAlphaPlane, pPixels, nStride, size, alphaRuns);
            dwTag = StandardChoice(bAlphaPays, pPixels, nStride, size, colourRuns);
        }
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }

    ULONGLONG nSection2, nContent;
    if (dwTag == rvo::PackedAlphaRuns) {
        nSection2 = rvo::AlphaRunsSection2Offset(alphaRuns.size());
        nContent = rvo::AlphaRunsContentBytes(alphaRuns.size(), L);
        CopyAlphaRuns(pRecord + rvo::kPackedHeaderBytes, alphaRuns);
        ZeroBytes(pRecord, rvo::kPackedHeaderBytes + rvo::kAlphaRunBytes * (ULONGLONG)alphaRuns.size(), nSection2);
        PackColourGroups(pRecord + nSection2, pPixels, nStride, size);
    } else if (dwTag == rvo::PackedColourRuns) {
        nSection2 = rvo::ColourRunsSection2Offset(L);
        nContent = rvo::ColourRunsContentBytes(colourRuns.size(), L);
        ZeroBytes(pRecord, rvo::kPackedHeaderBytes + L, nSection2);
        CopyColourRuns(pRecord + nSection2, colourRuns);
    } else {
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
