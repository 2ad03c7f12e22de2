// The check that makes a packed record read from a file safe to expand: its
// header, both sections inside the record, run lists that cover the frame.
#include "container/PackedRecord.h"

#include "platform/ByteReader.h"
#include "platform/LastError.h"

using namespace rvo;

namespace {

// One run element of a list that must cover nPixelCount pixels exactly: not
// empty, within the frame, and a multiple of 4 unless it ends the frame.
inline bool TakeRun(DWORD dwCount, ULONGLONG& nCovered, DWORD nPixelCount) {
    if (dwCount == 0 || nCovered + dwCount > nPixelCount) return false;
    nCovered += dwCount;
    return dwCount % 4 == 0 || nCovered == nPixelCount;
}

// The alpha-run section, walked as the decoder walks it, within nSectionBytes:
// runs in pairs of {count, pattern}, where a second count of 0 is padding.
bool AlphaRunsCover(const BYTE* pRuns, ULONGLONG nSectionBytes, DWORD nPixelCount) {
    CByteReader r(pRuns, (size_t)nSectionBytes);
    ULONGLONG nCovered = 0;
    while (nCovered < nPixelCount) {
        const DWORD dwFirst = r.ReadU32LE();
        r.Skip(4);
        if (!r.Ok() || !TakeRun(dwFirst, nCovered, nPixelCount)) return false;
        if (nCovered == nPixelCount) break;
        const DWORD dwSecond = r.ReadU32LE();
        r.Skip(4);
        if (!r.Ok()) return false;
        if (dwSecond != 0 && !TakeRun(dwSecond, nCovered, nPixelCount)) return false;
    }
    return true;
}

// The colour-run section: runs of {count, three patterns}.
bool ColourRunsCover(const BYTE* pRuns, ULONGLONG nSectionBytes, DWORD nPixelCount) {
    CByteReader r(pRuns, (size_t)nSectionBytes);
    ULONGLONG nCovered = 0;
    while (nCovered < nPixelCount) {
        // A record just read from the disk is in no cache: fetch ahead of the walk.
        if (r.Tell() % 64 == 0) __builtin_prefetch(pRuns + r.Tell() + 1024);
        const DWORD dwCount = r.ReadU32LE();
        r.Skip(kColourRunBytes - 4);
        if (!r.Ok() || !TakeRun(dwCount, nCovered, nPixelCount)) return false;
    }
    return true;
}

}   // namespace

PackedRecordHeader ReadPackedRecordHeader(const BYTE* pRecord) {
    CByteReader r(pRecord, kPackedHeaderBytes);
    PackedRecordHeader h;
    h.tag = r.ReadU32LE();
    h.recordBytes = r.ReadU32LE();
    h.section1Dwords = r.ReadU32LE();
    h.pixelCount = r.ReadU32LE();
    static_assert(kOffPackedPixelCount + 4 == kPackedHeaderBytes, "the header is read in its order");
    return h;
}

BOOL CheckPackedRecordHeader(const PackedRecordHeader& h, DWORD nPixelCount, DWORD nMaxRecordBytes) {
    if (h.tag != PackedRaw && h.tag != PackedAlphaRuns && h.tag != PackedColourRuns)
        return Fail(ERROR_INVALID_DATA);
    if (h.recordBytes < kRecordUnitBytes || h.recordBytes % kRecordUnitBytes != 0 ||
        h.recordBytes > nMaxRecordBytes || (ULONGLONG)h.recordBytes > MaxPackedRecordBytes(nPixelCount))
        return Fail(ERROR_INVALID_DATA);
    // The decoders write exactly pixelCount pixels into a buffer sized for the frame.
    if (nPixelCount == 0 || h.pixelCount != nPixelCount) return Fail(ERROR_INVALID_DATA);
    return TRUE;
}

BOOL CheckPackedRecord(const BYTE* pRecord, DWORD nPixelCount, DWORD nMaxRecordBytes) {
    const PackedRecordHeader h = ReadPackedRecordHeader(pRecord);
    if (!CheckPackedRecordHeader(h, nPixelCount, nMaxRecordBytes)) return FALSE;
    const ULONGLONG nRecord = h.recordBytes;
    const ULONGLONG c = kPackedHeaderBytes + 4ull * h.section1Dwords;
    switch (h.tag) {
    case PackedRaw:
        if (PackedRawContentBytes(nPixelCount) > nRecord) return Fail(ERROR_INVALID_DATA);
        return TRUE;
    case PackedAlphaRuns:
        if (c + kColourGroupBytes * ColourGroupCount(nPixelCount) > nRecord) return Fail(ERROR_INVALID_DATA);
        if (!AlphaRunsCover(pRecord + kPackedHeaderBytes, c - kPackedHeaderBytes, nPixelCount))
            return Fail(ERROR_INVALID_DATA);
        return TRUE;
    default:   // PackedColourRuns
        if (kPackedHeaderBytes + (ULONGLONG)nPixelCount > c || c > nRecord) return Fail(ERROR_INVALID_DATA);
        if (!ColourRunsCover(pRecord + c, nRecord - c, nPixelCount)) return Fail(ERROR_INVALID_DATA);
        return TRUE;
    }
}
