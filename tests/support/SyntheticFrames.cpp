// The generators of synthetic frames, one per kind of content.
#include "tests/support/SyntheticFrames.h"

#include <cmath>

namespace rvotest {

namespace {

uint32_t Clamp(int c) { return (uint32_t)(c < 0 ? 0 : c > 255 ? 255
                                                              : c); }

uint32_t GradientPixel(int x, int y, int w, int h, int nShift) {
    const uint32_t b = (uint32_t)(((x + y) * 255) / (w + h) + nShift) & 0xFF;
    const uint32_t g = (uint32_t)((y * 255) / (h > 1 ? h - 1 : 1)) & 0xFF;
    const uint32_t r = (uint32_t)(128 + 100 * std::sin((x + y + nShift) * 0.05));
    const uint32_t a = (uint32_t)(((x + 2 * y) * 255) / (w + 2 * h)) & 0xFF;
    return b | (g << 8) | (r << 16) | (a << 24);
}

uint32_t BlocksPixel(int x, int y, int w) {
    if ((x / 8 + y / 5) % 3 == 0) return 0x80FF0000u;
    return x < w / 2 ? 0xFF00FF00u : 0x000000FFu;
}

uint32_t GraphicsPixel(int x, int y, int w, int h, int v) {
    const int cx = w / 3 + v * 16, cy = h / 2;
    const double d = std::sqrt((double)(x - cx) * (x - cx) + (double)(y - cy) * (y - cy)) - h / 4.0;
    if (d < 1.0) return ((d <= 0 ? 255u : Clamp((int)(255 * (1.0 - d)))) << 24) | 0x2060C0u;
    if (x > w / 2 && x < w - w / 8 && y > h / 8 && y < h / 3 + v)
        return 0xFF000000u | (Clamp(x * 255 / w) << 16) | 0x8000u;   // the bar
    if (y > h - h / 6 && (x / 24) % 2 == 0) return 0xC0FFFFFFu;      // the caption band
    return 0;
}

uint32_t NaturalPixel(int x, int y, int w, int h, int v, XorShift32& rng) {
    const int n = (int)(rng() % 9) - 4;
    const uint32_t b = Clamp(x * 200 / w + 20 + n), g = Clamp(y * 200 / h + 30 + n);
    const uint32_t r = Clamp((int)(128 + 90 * std::sin((x + 2 * y + 8 * v) * 0.01)) + n);
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// One row of flat runs; the lengths straddle the field coder's run threshold
// (10) and its longest run (4095).
void RunsRow(uint32_t* row, int w, XorShift32& rng) {
    static const int kLengths[] = {1, 2, 3, 8, 9, 10, 11, 12, 40, 300, 4097, 4098, 5000};
    int x = 0;
    while (x < w) {
        int n = kLengths[rng() % 13];
        const uint32_t v = (rng() % 4 == 0) ? 0xFF000000u : (rng() | 0xFF000000u);
        for (; n > 0 && x < w; n--) row[x++] = v;
    }
}

}   // namespace

const char* ContentName(Content c) {
    switch (c) {
    case Content::Flat: return "flat";
    case Content::Gradient: return "gradient";
    case Content::Noise: return "noise";
    case Content::AlphaNoise: return "alpha noise";
    case Content::Blocks: return "blocks";
    case Content::Runs: return "runs";
    case Content::Graphics: return "graphics+alpha";
    case Content::Natural: return "natural video";
    }
    return "?";
}

void FillFrame(uint32_t* p, int w, int h, ptrdiff_t nStride, Content c, uint32_t nSeed) {
    XorShift32 rng(nSeed);
    const int nShift = (int)(nSeed & 0xFFFF), nVariant = (int)(nSeed % 16);
    const uint32_t nFlat = 0xFF000000u | ((0x336699u + 0x111111u * nSeed) & 0x00FFFFFFu);
    for (int y = 0; y < h; y++) {
        uint32_t* row = p + (ptrdiff_t)y * nStride;
        if (c == Content::Runs) {
            RunsRow(row, w, rng);
            continue;
        }
        for (int x = 0; x < w; x++) {
            switch (c) {
            case Content::Flat: row[x] = nFlat; break;
            case Content::Gradient: row[x] = GradientPixel(x, y, w, h, nShift); break;
            case Content::Noise: row[x] = rng(); break;
            case Content::AlphaNoise: row[x] = 0x00204060u | ((rng() & 0xFF) << 24); break;
            case Content::Blocks: row[x] = BlocksPixel(x, y, w); break;
            case Content::Graphics: row[x] = GraphicsPixel(x, y, w, h, nVariant); break;
            case Content::Natural: row[x] = NaturalPixel(x, y, w, h, nVariant, rng); break;
            case Content::Runs: break;
            }
        }
    }
}

std::vector<uint32_t> MakeFrame(int w, int h, Content c, uint32_t nSeed) {
    std::vector<uint32_t> v((size_t)w * (size_t)h);
    FillFrame(v.data(), w, h, w, c, nSeed);
    return v;
}

}   // namespace rvotest
