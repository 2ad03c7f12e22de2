// Row copies and zero fills: non-temporal 16-byte stores after aligning the
// destination when g_bSse2 is set, plain 8- and 4-byte moves otherwise.
#include "pixels/PixelRows.h"

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "platform/Cpu.h"

namespace {

// Pixels to write one at a time before the destination reaches 16-byte
// alignment; a destination that is not even 4-byte aligned never does.
inline LONG HeadPixels(const DWORD* p, LONG n) {
    const uintptr_t mis = (uintptr_t)p & 15u;
    if (mis == 0) return 0;
    if (mis & 3u) return n;
    const LONG head = (LONG)((16u - mis) / 4u);
    return head < n ? head : n;
}

void CopyRowSse2(DWORD* d, const DWORD* s, LONG n) {
    const LONG head = HeadPixels(d, n);
    std::memcpy(d, s, 4 * (size_t)head);
    LONG i = head;
    for (; n - i >= 4; i += 4)
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
    std::memcpy(d + i, s + i, 4 * (size_t)(n - i));
}

void ZeroRowSse2(DWORD* d, LONG n) {
    const LONG head = HeadPixels(d, n);
    std::memset(d, 0, 4 * (size_t)head);
    LONG i = head;
    const __m128i z = _mm_setzero_si128();
    for (; n - i >= 4; i += 4) _mm_stream_si128(reinterpret_cast<__m128i*>(d + i), z);
    std::memset(d + i, 0, 4 * (size_t)(n - i));
}

void ZeroRowPlain(DWORD* d, LONG n) {
    LONG i = 0;
    const uint64_t z = 0;
    for (; n - i >= 2; i += 2) std::memcpy(d + i, &z, 8);
    if (i < n) std::memset(d + i, 0, 4);
}

}   // namespace

void CopyPixelsPlain(DWORD* pDst, const DWORD* pSrc, LONG nPixels) {
    LONG i = 0;
    for (; nPixels - i >= 2; i += 2) {
        uint64_t v;
        std::memcpy(&v, pSrc + i, 8);
        std::memcpy(pDst + i, &v, 8);
    }
    if (i < nPixels) std::memcpy(pDst + i, pSrc + i, 4);   // host areas need not be 4-byte aligned
}

void CopyPixelRows(DWORD* pDst, ptrdiff_t nDstStep, const DWORD* pSrc, ptrdiff_t nSrcStep, LONG nPixels,
                   LONG nRows) {
    if (nPixels <= 0 || nRows <= 0) return;
    for (LONG y = 0; y < nRows; y++) {
        DWORD* d = pDst + y * nDstStep;
        const DWORD* s = pSrc + y * nSrcStep;
        if (g_bSse2) CopyRowSse2(d, s, nPixels);
        else CopyPixelsPlain(d, s, nPixels);
    }
    // Streaming stores are weakly ordered; make them visible before the caller reads.
    if (g_bSse2) _mm_sfence();
}

void ZeroPixelRows(DWORD* pDst, ptrdiff_t nDstStep, LONG nPixels, LONG nRows) {
    if (nPixels <= 0 || nRows <= 0) return;
    for (LONG y = 0; y < nRows; y++) {
        if (g_bSse2) ZeroRowSse2(pDst + y * nDstStep, nPixels);
        else ZeroRowPlain(pDst + y * nDstStep, nPixels);
    }
    if (g_bSse2) _mm_sfence();
}
