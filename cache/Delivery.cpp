// Delivery from the preload cache: one field of a cached frame into a host area,
// copied from a raw frame block or decoded from a field record.
#include "cache/Delivery.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "cache/FieldCodec.h"
#include "container/RvoFile.h"
#include "pixels/PixelRows.h"
#include "platform/ByteOrder.h"
#include "platform/Cpu.h"
#include "platform/LastError.h"

using namespace rvo;

namespace {

// With SSE2, stretches of 4 pixels or more are written with 16-byte stores.
// They are ordinary stores: a field record mixes long and short stretches within
// a cache line, and streaming stores there flush partial lines (several times
// slower on graphics content). Raw frame rows are whole lines and do stream.
constexpr LONG kVectorMin = 4;

// Host areas need not be aligned at all, so every plain access goes through memcpy.
inline void Put1(DWORD* d, DWORD v) { std::memcpy(d, &v, 4); }

void FillPlain(DWORD* d, DWORD v, LONG n) {
    const uint64_t q = (uint64_t)v << 32 | v;
    LONG i = 0;
    for (; n - i >= 2; i += 2) std::memcpy(d + i, &q, 8);
    if (i < n) Put1(d + i, v);
}

// Writes n >= 4 pixels, four at a time from src(i) (pixels i to i + 3). The
// first and last four are stored unaligned and may overlap the others, which
// write the same pixels there; the middle is stored 16-byte aligned, unless the
// destination is not even 4-byte aligned. Few branches per stretch, since
// graphics records are mostly short stretches.
template <typename Src>
inline void StoreVector(DWORD* d, LONG n, Src src) {
    auto put = [&](LONG i) { _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), src(i)); };
    auto putAligned = [&](LONG i) { _mm_store_si128(reinterpret_cast<__m128i*>(d + i), src(i)); };
    put(0);
    put(n - 4);
    if (n <= 8) return;
    if (n <= 16) {
        put(4);
        put(n - 8);
        return;
    }
    const uintptr_t mis = reinterpret_cast<uintptr_t>(d) & 15u;
    if (mis & 3u) {
        for (LONG i = 4; n - i > 4; i += 4) put(i);
        return;
    }
    LONG i = mis ? (LONG)((16u - mis) / 4u) : 4;
    for (; n - i >= 16; i += 16) {
        putAligned(i);
        putAligned(i + 4);
        putAligned(i + 8);
        putAligned(i + 12);
    }
    for (; n - i > 4; i += 4) putAligned(i);
}

void CopySse2(DWORD* d, const DWORD* s, LONG n) {
    StoreVector(d, n, [s](LONG i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)); });
}

void FillSse2(DWORD* d, DWORD v, LONG n) {
    const __m128i q = _mm_set1_epi32((int)v);
    StoreVector(d, n, [q](LONG) { return q; });
}

// One to three pixels (the common literal after a run) without a loop: graphics
// records are mostly such stretches, and a mispredicted loop costs more than the copy.
inline void CopyFew(DWORD* d, const DWORD* s, LONG n) {
    if (n & 2) {
        uint64_t q;
        std::memcpy(&q, s, 8);
        std::memcpy(d, &q, 8);
    }
    if (n & 1) std::memcpy(d + n - 1, s + n - 1, 4);
}

inline void CopyPixels(DWORD* d, const DWORD* s, LONG n, bool bVector) {
    if (n < kVectorMin) CopyFew(d, s, n);
    else if (bVector) CopySse2(d, s, n);
    else CopyPixelsPlain(d, s, n);
}

inline void FillPixels(DWORD* d, DWORD v, LONG n, bool bVector) {
    if (bVector && n >= kVectorMin) FillSse2(d, v, n);
    else FillPlain(d, v, n);
}

}   // namespace

BOOL DrawFieldRecord(DWORD* pDst, ptrdiff_t nDstStride, LONG nDstWidth, LONG nRows, const BYTE* pRecord,
                     size_t nRecordBytes) {
    if (!pRecord || nRecordBytes < kFieldHeaderBytes || (reinterpret_cast<uintptr_t>(pRecord) & 3u))
        return Fail(ERROR_INVALID_DATA);
    const ULONGLONG nTokens = LoadLe32(pRecord + kFieldTokenCountAt);
    const ULONGLONG nLiteralOffset = LoadLe32(pRecord + kFieldLiteralOffsetAt);
    // The slots end at the record's stated length or its real size, whichever is less.
    const ULONGLONG nWords = std::min<ULONGLONG>(LoadLe32(pRecord + kFieldTotalWordsAt), nRecordBytes / 4);
    // Tokens must lie between the header and the slots, and the slots inside the record.
    if (kFieldHeaderBytes + 2 * nTokens > 4 * nLiteralOffset || nLiteralOffset > nWords)
        return Fail(ERROR_INVALID_DATA);
    const WORD* tok = reinterpret_cast<const WORD*>(pRecord + kFieldHeaderBytes);
    const DWORD* slot = reinterpret_cast<const DWORD*>(pRecord + 4 * (size_t)nLiteralOffset);
    const ULONGLONG nSlots = nWords - nLiteralOffset;

    const bool bVector = g_bSse2 != 0;
    const LONG nWidth = std::max<LONG>(nDstWidth, 0);
    DWORD* row = nullptr;
    LONG nBegun = 0;
    ULONGLONG v = 0;   // slot cursor
    LONGLONG x = 0;    // pixel within the current row; may pass its end
    for (ULONGLONG i = 0; i < nTokens; i++) {
        const WORD w = tok[i];
        const LONG n = w & kFieldCountMask;
        if (w & kFieldRowStart) {
            if (nBegun >= nRows) return TRUE;
            row = pDst + 2 * nDstStride * (ptrdiff_t)nBegun;
            nBegun++;
            x = 0;
        } else if (!row) {
            return Fail(ERROR_INVALID_DATA);   // no row to write into
        }
        if (w & kFieldSkip) {
            x += n;
            continue;
        }
        // Runs and literals are cut at the row's end; the slot cursor still
        // moves over every slot of the token, so later rows stay in step.
        const LONG m = x < nWidth ? (LONG)std::min<LONGLONG>(n, nWidth - x) : 0;
        if (w & kFieldRun) {
            if (v >= nSlots) return Fail(ERROR_INVALID_DATA);
            if (m > 0) FillPixels(row + x, slot[v], m, bVector);
            v++;
        } else {
            const ULONGLONG nUsed = n ? (ULONGLONG)n : 1;   // a pad uses one slot
            if (nUsed > nSlots - v) return Fail(ERROR_INVALID_DATA);
            if (m > 0) CopyPixels(row + x, slot + v, m, bVector);
            v += nUsed;
        }
        x += n;
    }
    return TRUE;
}

int CRvoFile::DeliverField(unsigned field, DWORD* pDst, int nDstStride, int nDstHeight, int nDstWidth) {
    return DeliverCachedField(m_cache, IsRecordMode(m_header.m_nMode), m_sizeFrame, field, pDst, nDstStride, nDstHeight,
                              nDstWidth);
}

int DeliverCachedField(const CPreloadCache& cache, bool bRecords, SIZE sizeFrame, unsigned field, DWORD* pDst,
                       int nDstStride, int nDstHeight, int nDstWidth) {
    const unsigned nCached = (unsigned)cache.GetSize();
    const unsigned parity = field & 1u;
    const LONG nWidth = std::max(0, nDstWidth < 0 ? nDstStride : std::min(nDstWidth, nDstStride));
    // Both fields of an odd-height area get the same number of rows, so its last row stays as it was.
    const LONG nRows = nDstHeight > 0 ? nDstHeight / 2 : 0;

    if (bRecords) {
        const unsigned frame = field / 2;
        if (frame >= nCached) return 0;
        const DWORD* src = static_cast<const DWORD*>(cache.GetAt((int)frame));
        const LONG cx = sizeFrame.cx;
        const LONG cy = sizeFrame.cy;
        // A block holds the even rows, then the odd rows (see PreloadBlocks.h);
        // one that does not match the frame size is not read.
        if (!src || cx <= 0 || cy <= 0 || cache.GetBytesAt((int)frame) != 4ull * cx * cy) return 1;
        const LONG nEven = (cy + 1) / 2;
        const LONG nCopy = std::min(nRows, parity ? cy / 2 : nEven);
        if (nCopy > 0 && nWidth > 0 && pDst)
            CopyPixelRows(pDst + parity * (ptrdiff_t)nDstStride, 2 * (ptrdiff_t)nDstStride,
                          src + parity * (ptrdiff_t)nEven * cx, cx, std::min(cx, nWidth), nCopy);
        return 1;
    }

    if (field >= nCached) return 0;
    const BYTE* rec = static_cast<const BYTE*>(cache.GetAt((int)field));
    // Delivered even when the record turns out damaged: the field is cached, so the file is not read instead.
    if (rec && nRows > 0 && nWidth > 0 && pDst)
        DrawFieldRecord(parity ? pDst + nDstStride : pDst, nDstStride, nWidth, nRows, rec,
                        cache.GetBytesAt((int)field));
    return 1;
}
