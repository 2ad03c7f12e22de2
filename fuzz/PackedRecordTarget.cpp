// One packed record through the reader's steps: the header check on the first
// 512 bytes, the whole-record check, and the decoder into a buffer of exactly
// the frame's pixels. The record sits in a heap block of exactly its stated
// size, so any read past it is caught.
#include <cstring>
#include <memory>
#include <vector>

#include "container/PackedRecord.h"
#include "decoder/PackedDecode.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"

namespace rvofuzz {

int PackedRecordTarget(const uint8_t* p, size_t n) {
    Setup();
    // Two bytes of frame shape, then the record as the file holds it.
    if (n < 2 + rvo::kPackedHeaderBytes) return 0;
    const DWORD cx = 1 + p[0] % 64, cy = 1 + p[1] % 64;
    const DWORD nPixels = cx * cy;
    const uint8_t* pRec = p + 2;
    const size_t nAvail = n - 2;
    const DWORD nMax = (DWORD)rvo::MaxPackedRecordBytes(nPixels);

    const rvo::PackedRecordHeader h = ReadPackedRecordHeader(pRec);
    if (!CheckPackedRecordHeader(h, nPixels, nMax)) return 0;
    Expect(h.recordBytes % 512 == 0 && h.recordBytes >= 512 && h.recordBytes <= nMax && h.pixelCount == nPixels,
           "header check passed a record it should refuse");
    // The reader cannot read more than the file holds.
    if (h.recordBytes > nAvail) return 0;
    std::unique_ptr<BYTE[]> record(new BYTE[h.recordBytes]);
    std::memcpy(record.get(), pRec, h.recordBytes);
    if (!CheckPackedRecord(record.get(), nPixels, nMax)) return 0;

    std::unique_ptr<DWORD[]> pixels(new DWORD[nPixels]);
    DecodePackedRecord(record.get(), pixels.get());
    // Decoding the same record twice gives the same pixels (nothing uninitialised is read).
    std::unique_ptr<DWORD[]> again(new DWORD[nPixels]);
    std::memset(again.get(), 0x5A, 4 * (size_t)nPixels);
    DecodePackedRecord(record.get(), again.get());
    Expect(std::memcmp(pixels.get(), again.get(), 4 * (size_t)nPixels) == 0, "packed decode is not repeatable");
    return 0;
}

}   // namespace rvofuzz
