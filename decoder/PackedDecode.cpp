// Packed-record expansion with SSE2: four pixels (one 16-byte store) per group,
// sixteen per step where a run is long enough.
#include "decoder/PackedDecode.h"

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/LastError.h"

using namespace rvo;

namespace {

template <bool bAligned>
inline void Store(BYTE* p, __m128i v) {
    if (bAligned) _mm_store_si128(reinterpret_cast<__m128i*>(p), v);
    else _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Four pixels from the low 4 bytes of each channel vector (byte k = pixel k).
inline __m128i Pixels4(__m128i b, __m128i g, __m128i r, __m128i a) {
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(b, g), _mm_unpacklo_epi8(r, a));
}

// Sixteen pixels from full channel vectors (byte i = pixel i).
template <bool bAligned>
inline void Store16Pixels(BYTE* p, __m128i b, __m128i g, __m128i r, __m128i a) {
    const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i raLo = _mm_unpacklo_epi8(r, a), raHi = _mm_unpackhi_epi8(r, a);
    Store<bAligned>(p, _mm_unpacklo_epi16(bgLo, raLo));
    Store<bAligned>(p + 16, _mm_unpackhi_epi16(bgLo, raLo));
    Store<bAligned>(p + 32, _mm_unpacklo_epi16(bgHi, raHi));
    Store<bAligned>(p + 48, _mm_unpackhi_epi16(bgHi, raHi));
}

// The last group of a frame may hold fewer than four pixels: only they are written.
inline void StorePartial(BYTE* p, __m128i v, DWORD nPixels) {
    alignas(16) BYTE tmp[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(tmp), v);
    std::memcpy(p, tmp, 4u * nPixels);
}

// Pixels a run element yields: whole groups of four while its count stays
// positive, at least one group, never past the frame.
inline DWORD RunEnd(DWORD dwDone, DWORD dwCount, DWORD nPixelCount) {
    const LONG nCount = (LONG)dwCount;
    const ULONGLONG nGroups = nCount <= 0 ? 1 : ((ULONGLONG)nCount + 3) / 4;
    const ULONGLONG nEnd = dwDone + 4 * nGroups;
    return nEnd < nPixelCount ? (DWORD)nEnd : nPixelCount;
}

inline __m128i Cvt(const BYTE* p) { return _mm_cvtsi32_si128((int)LoadLe32(p)); }

template <bool bAligned>
void AlphaRuns(BYTE* pOut, const BYTE* pGroups, const BYTE* pRuns, DWORD nPixelCount) {
    DWORD done = 0;
    const BYTE* pBlock = pRuns;
    bool bSecond = false;
    while (done < nPixelCount) {
        const BYTE* pRun = pBlock + (bSecond ? 8 : 0);
        const DWORD end = RunEnd(done, LoadLe32(pRun), nPixelCount);
        const __m128i a = _mm_set1_epi32((int)LoadLe32(pRun + 4));
        // Four groups are 48 bytes: G0 B0 R0 G1 | B1 R1 G2 B2 | R2 G3 B3 R3;
        // gather each channel's four words, then interleave.
        while (end - done >= 16) {
            const BYTE* pg = pGroups + 3 * (size_t)done;
            const __m128 v0 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pg)));
            const __m128 v1 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pg + 16)));
            const __m128 v2 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pg + 32)));
            const __m128 gHi = _mm_shuffle_ps(v1, v2, _MM_SHUFFLE(1, 1, 2, 2));
            const __m128 g = _mm_shuffle_ps(v0, gHi, _MM_SHUFFLE(2, 0, 3, 0));
            const __m128 bLo = _mm_shuffle_ps(v0, v1, _MM_SHUFFLE(0, 0, 1, 1));
            const __m128 bHi = _mm_shuffle_ps(v1, v2, _MM_SHUFFLE(2, 2, 3, 3));
            const __m128 b = _mm_shuffle_ps(bLo, bHi, _MM_SHUFFLE(2, 0, 2, 0));
            const __m128 rLo = _mm_shuffle_ps(v0, v1, _MM_SHUFFLE(1, 1, 2, 2));
            const __m128 r = _mm_shuffle_ps(rLo, v2, _MM_SHUFFLE(3, 0, 2, 0));
            Store16Pixels<bAligned>(pOut + 4 * (size_t)done, _mm_castps_si128(b), _mm_castps_si128(g),
                                    _mm_castps_si128(r), a);
            done += 16;
        }
        while (done < end) {
            const BYTE* pg = pGroups + 3 * (size_t)done;
            const __m128i v = Pixels4(Cvt(pg + 4), Cvt(pg), Cvt(pg + 8), a);
            if (end - done >= 4) {
                Store<bAligned>(pOut + 4 * (size_t)done, v);
                done += 4;
            } else {
                StorePartial(pOut + 4 * (size_t)done, v, end - done);
                done = end;
            }
        }
        if (done >= nPixelCount) break;
        // Runs come two to a 16-byte block; a second run of count 0 is an empty slot.
        if (!bSecond && LoadLe32(pBlock + 8) != 0) {
            bSecond = true;
        } else {
            bSecond = false;
            pBlock += 16;
        }
    }
}

template <bool bAligned>
void ColourRuns(BYTE* pOut, const BYTE* pRuns, const BYTE* pAlpha, DWORD nPixelCount) {
    DWORD done = 0;
    const BYTE* pRun = pRuns;
    while (done < nPixelCount) {
        const DWORD end = RunEnd(done, LoadLe32(pRun), nPixelCount);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pRun));
        const __m128i g = _mm_shuffle_epi32(v, 0x55);
        const __m128i b = _mm_shuffle_epi32(v, 0xAA);
        const __m128i r = _mm_shuffle_epi32(v, 0xFF);
        pRun += 16;
        while (end - done >= 16) {
            // The alpha plane comes straight from the disk, in no cache: fetch ahead.
            _mm_prefetch(reinterpret_cast<const char*>(pAlpha + done + 1024), _MM_HINT_T0);
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pAlpha + done));
            Store16Pixels<bAligned>(pOut + 4 * (size_t)done, b, g, r, a);
            done += 16;
        }
        while (end - done >= 4) {
            Store<bAligned>(pOut + 4 * (size_t)done, Pixels4(b, g, r, Cvt(pAlpha + done)));
            done += 4;
        }
        if (done < end) {
            // Only the alpha bytes of existing pixels are read.
            BYTE ab[4] = {0, 0, 0, 0};
            std::memcpy(ab, pAlpha + done, end - done);
            StorePartial(pOut + 4 * (size_t)done, Pixels4(b, g, r, Cvt(ab)), end - done);
            done = end;
        }
    }
}

inline bool IsAligned16(const void* p) { return ((uintptr_t)p & 15u) == 0; }

}   // namespace

void DecodePackedRecord(const BYTE* pRecord, DWORD* pTarget) {
    const PackedRecordHeader h = ReadPackedRecordHeader(pRecord);
    const BYTE* pSection1 = pRecord + kPackedHeaderBytes;
    const BYTE* pSection2 = pSection1 + 4 * (size_t)h.section1Dwords;
    switch (h.tag) {
    case PackedRaw:
        std::memcpy(pTarget, pSection1, 4 * (size_t)h.pixelCount);
        break;
    case PackedAlphaRuns:
        DecodeAlphaRunRecord(pTarget, pSection2, pSection1, h.pixelCount);
        break;
    case PackedColourRuns:
        DecodeColourRunRecord(pTarget, pSection2, pSection1, h.pixelCount);
        break;
    default:
        break;
    }
}

void DecodeAlphaRunRecord(DWORD* pTarget, const BYTE* pColourGroups, const BYTE* pAlphaRuns,
                          DWORD nPixelCount) {
    BYTE* pOut = reinterpret_cast<BYTE*>(pTarget);
    if (IsAligned16(pOut)) AlphaRuns<true>(pOut, pColourGroups, pAlphaRuns, nPixelCount);
    else AlphaRuns<false>(pOut, pColourGroups, pAlphaRuns, nPixelCount);
}

void DecodeColourRunRecord(DWORD* pTarget, const BYTE* pColourRuns, const BYTE* pAlphaPlane,
                           DWORD nPixelCount) {
    BYTE* pOut = reinterpret_cast<BYTE*>(pTarget);
    if (IsAligned16(pOut)) ColourRuns<true>(pOut, pColourRuns, pAlphaPlane, nPixelCount);
    else ColourRuns<false>(pOut, pColourRuns, pAlphaPlane, nPixelCount);
}
