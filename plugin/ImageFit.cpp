// Bilinear fitting of still images to the requested frame size.
#include "plugin/ImageFit.h"

#include <cstring>
#include <vector>

namespace {

constexpr unsigned kMaxImageDimension = 16384;
constexpr unsigned long long kMaxImagePixels = 8192ull * 8192ull;

// Source coordinate of each destination column or row: index and weight (0-256)
// of the next sample.
struct Tap {
    unsigned i0, i1, w1;
};

std::vector<Tap> Taps(unsigned nSrc, unsigned nDst) {
    std::vector<Tap> taps(nDst);
    for (unsigned d = 0; d < nDst; d++) {
        const double s = (d + 0.5) * nSrc / nDst - 0.5;
        if (s <= 0) {
            taps[d] = {0, 0, 0};
            continue;
        }
        const unsigned i0 = (unsigned)s;
        const unsigned i1 = i0 + 1 < nSrc ? i0 + 1 : nSrc - 1;
        taps[d] = {i0 < nSrc ? i0 : nSrc - 1, i1, (unsigned)((s - i0) * 256.0 + 0.5)};
    }
    return taps;
}

}   // namespace

bool ImageSizeAllowed(unsigned nWidth, unsigned nHeight) {
    return nWidth > 0 && nHeight > 0 && nWidth <= kMaxImageDimension && nHeight <= kMaxImageDimension &&
           (unsigned long long)nWidth * nHeight <= kMaxImagePixels;
}

void FitImage(const uint32_t* pSrc, unsigned nSrcWidth, unsigned nSrcHeight, uint32_t* pOut, unsigned nWidth,
              unsigned nHeight) {
    if (nSrcWidth == nWidth && nSrcHeight == nHeight) {
        std::memcpy(pOut, pSrc, 4 * (size_t)nWidth * nHeight);
        return;
    }
    const std::vector<Tap> tx = Taps(nSrcWidth, nWidth), ty = Taps(nSrcHeight, nHeight);
    for (unsigned y = 0; y < nHeight; y++) {
        const uint32_t* r0 = pSrc + (size_t)ty[y].i0 * nSrcWidth;
        const uint32_t* r1 = pSrc + (size_t)ty[y].i1 * nSrcWidth;
        const unsigned wy = ty[y].w1;
        for (unsigned x = 0; x < nWidth; x++) {
            const Tap& t = tx[x];
            uint32_t v = 0;
            for (unsigned k = 0; k < 32; k += 8) {
                const unsigned a = (r0[t.i0] >> k) & 0xFF, b = (r0[t.i1] >> k) & 0xFF;
                const unsigned c = (r1[t.i0] >> k) & 0xFF, d = (r1[t.i1] >> k) & 0xFF;
                const unsigned top = a * (256 - t.w1) + b * t.w1, bottom = c * (256 - t.w1) + d * t.w1;
                v |= ((top * (256 - wy) + bottom * wy + 32768) >> 16) << k;
            }
            pOut[(size_t)y * nWidth + x] = v;
        }
    }
}
