// One field record through DrawFieldRecord into a canary-ringed area, once with
// the vector stores and once with the plain ones: both must write the same
// pixels and nothing outside the field's rows within the given width.
#include <cstring>
#include <memory>

#include "cache/Delivery.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "platform/Cpu.h"

namespace rvofuzz {

int FieldRecordTarget(const uint8_t* p, size_t n) {
    Setup();
    // Three bytes of destination shape (width, rows, stride slack), then the record.
    if (n < 3) return 0;
    const LONG nWidth = p[0] % 80;
    const LONG nRows = p[1] % 40;
    const int nStride = (int)nWidth + p[2] % 5;
    const size_t nRecordBytes = n - 3;
    // The record in a block of exactly its size (the allocator's alignment is the
    // 8 bytes records are kept at).
    std::unique_ptr<BYTE[]> record(new BYTE[nRecordBytes ? nRecordBytes : 1]);
    std::memcpy(record.get(), p + 3, nRecordBytes);

    const int nHeight = 2 * (int)nRows;
    CanaryBuffer vec(nStride ? nStride : 1, nHeight ? nHeight : 1);
    CanaryBuffer plain(nStride ? nStride : 1, nHeight ? nHeight : 1);
    const BOOL bSaved = g_bSse2;
    const BOOL bVec = DrawFieldRecord(vec.At(0, 0), nStride, nWidth, nRows, record.get(), nRecordBytes);
    g_bSse2 = FALSE;
    const BOOL bPlain = DrawFieldRecord(plain.At(0, 0), nStride, nWidth, nRows, record.get(), nRecordBytes);
    g_bSse2 = bSaved;
    Expect(bVec == bPlain, "vector and plain delivery disagree on the result");
    // Only even rows, within the width, may change; both paths give the same pixels.
    for (int y = 0; y < (nHeight ? nHeight : 1); y++)
        for (int x = 0; x < (nStride ? nStride : 1); x++) {
            const DWORD a = *vec.At(x, y), b = *plain.At(x, y);
            Expect(a == b, "vector and plain delivery wrote different pixels");
            if (y % 2 == 1 || x >= nWidth) Expect(a == CanaryBuffer::kCanary, "field delivery wrote outside its rows");
        }
    vec.Check(0, 0, nStride ? nStride : 1, nHeight ? nHeight : 1, "field delivery wrote outside the area");
    plain.Check(0, 0, nStride ? nStride : 1, nHeight ? nHeight : 1, "field delivery wrote outside the area");
    return 0;
}

}   // namespace rvofuzz
