// The check that makes a packed record read from a file safe to expand: its
// header, both sections inside the record, run lists that cover the frame.
#include "container/PackedRecord.h"

#include "platform/ByteOrder.h"
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

// The alpha-run section, walked as the decoder walks it, within nSectionBytes.
bool AlphaRunsCover(const BYTE* pRuns, ULONGLONG nSectionBytes, DWORD nPixelCount) {
    ULONGLONG nCovered = 0;
    for (ULONGLONG off = 0; nCovered < nPixelCount; off += 16) {
        if (off + 8 > nSectionBytes) return false;
        if (!TakeRun(LoadLe32(pRuns + off), nCovered, nPixelCount)) return false;
        if (nCovered == nPixelCount) break;
        if (off + 16 > nSectionBytes) return false;
        const DWORD dwSecond = LoadLe32(pRuns + off + 8);
        if (dwSecond != 0 && !TakeRun(dwSecond, nCovered, nPixelCount)) return false;
    }
    return true;
}

bool ColourRunsCover(const BYTE* pRuns, ULONGLONG nSectionBytes, DWORD nPixelCount) {
    ULONGLONG nCovered = 0;
    for (ULONGLONG off = 0; nCovered < nPixelCount; off += kColourRunBytes) {
        if (off + kColourRunBytes > nSectionBytes) return false;
        // A record just read from the disk is in no cache: fetch ahead of the walk.
        if (off % 64 == 0) __builtin_prefetch(pRuns + off + 1024);
        if (!TakeRun(LoadLe32(pRuns + off), nCovered, nPixelCount)) return false;
    }
    return true;
}

}   // namespace

PackedRecordHeader ReadPackedRecordHeader(const BYTE* pRecord) {
    PackedRecordHeader h;
    h.tag = LoadLe32(pRecord + kOffPackedTag);
    h.recordBytes = LoadLe32(pRecord + kOffPackedRecordBytes);
    h.section1Dwords = LoadLe32(pRecord + kOffPackedSection1Dwords);
    h.pixelCount = LoadLe32(pRecord + kOffPackedPixelCount);
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
