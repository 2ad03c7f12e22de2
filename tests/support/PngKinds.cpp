// PNG kinds written sample by sample with libpng's full interface.
#include "tests/support/PngKinds.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

namespace rvotest {

namespace {

constexpr int kPaletteSize = 37;
constexpr int kTrnsEntries = 11;   // palette entries with their own alpha; the rest are opaque

unsigned Hash(unsigned x, unsigned y, unsigned c) {
    unsigned h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 1) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

int Channels(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY: return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: return 1;   // palette index
    }
}

png_color PaletteColour(int i) {
    const unsigned h = Hash((unsigned)i, 999, 0);
    return png_color{(png_byte)h, (png_byte)(h >> 8), (png_byte)(h >> 16)};
}
png_byte PaletteAlpha(int i) { return (png_byte)(i * 23 + 1); }

// Stored sample c of pixel (x, y); a third of the pixels of a colour-keyed
// picture carry the key.
unsigned Sample(const PngKind& k, int x, int y, int c) {
    if (k.colourType == PNG_COLOR_TYPE_PALETTE) return Hash((unsigned)x, (unsigned)y, 0) % kPaletteSize;
    const unsigned mask = (1u << k.bitDepth) - 1;
    const bool keyed = (k.extras & kPngTrns) && (x + 2 * y) % 3 == 0;
    return keyed ? (unsigned)(c * 0x3F1D + 5) & mask : Hash((unsigned)x, (unsigned)y, (unsigned)c) & mask;
}
unsigned KeySample(const PngKind& k, int c) { return Sample(k, 0, 0, c); }

unsigned To8(unsigned v, int depth) {
    if (depth == 16) return (v * 255u + 32767u) / 65535u;
    return v * 255u / ((1u << depth) - 1);
}

}   // namespace

const std::vector<PngKind>& PngKinds() {
    static const std::vector<PngKind> kinds = {
        {"grey1", PNG_COLOR_TYPE_GRAY, 1, 0},
        {"grey2", PNG_COLOR_TYPE_GRAY, 2, 0},
        {"grey4", PNG_COLOR_TYPE_GRAY, 4, 0},
        {"grey8", PNG_COLOR_TYPE_GRAY, 8, 0},
        {"grey16", PNG_COLOR_TYPE_GRAY, 16, 0},
        {"grey8-key", PNG_COLOR_TYPE_GRAY, 8, kPngTrns},
        {"grey16-key", PNG_COLOR_TYPE_GRAY, 16, kPngTrns},
        {"grey-alpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, 0},
        {"grey-alpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, 0},
        {"rgb8", PNG_COLOR_TYPE_RGB, 8, 0},
        {"rgb16", PNG_COLOR_TYPE_RGB, 16, 0},
        {"rgb8-key", PNG_COLOR_TYPE_RGB, 8, kPngTrns},
        {"rgb16-key", PNG_COLOR_TYPE_RGB, 16, kPngTrns},
        {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, 0},
        {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, 0},
        {"palette", PNG_COLOR_TYPE_PALETTE, 8, 0},
        {"palette-trns", PNG_COLOR_TYPE_PALETTE, 8, kPngTrns},
        {"rgb8-gamma1.0", PNG_COLOR_TYPE_RGB, 8, kPngGamma10},
        {"rgb8-gamma1.8", PNG_COLOR_TYPE_RGB, 8, kPngGamma18},
        {"rgba16-gamma1.8", PNG_COLOR_TYPE_RGB_ALPHA, 16, kPngGamma18},
        {"palette-gamma1.8", PNG_COLOR_TYPE_PALETTE, 8, kPngGamma18 | kPngTrns},
        {"grey-alpha16-gamma1.0", PNG_COLOR_TYPE_GRAY_ALPHA, 16, kPngGamma10},
        {"rgb8-srgb", PNG_COLOR_TYPE_RGB, 8, kPngSrgb},
        {"rgba16-srgb", PNG_COLOR_TYPE_RGB_ALPHA, 16, kPngSrgb},
        {"rgb8-chrm-gamma1.8", PNG_COLOR_TYPE_RGB, 8, kPngChrm | kPngGamma18},
        {"rgba8-interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 8, kPngInterlace},
        {"grey2-interlaced", PNG_COLOR_TYPE_GRAY, 2, kPngInterlace},
        {"rgb16-interlaced-key", PNG_COLOR_TYPE_RGB, 16, kPngInterlace | kPngTrns},
    };
    return kinds;
}

bool WritePngKind(const std::string& path, const PngKind& k, int w, int h) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const int nChannels = Channels(k.colourType);
    // One byte per sample below 8 bits (png_set_packing packs them), two above.
    const size_t nSampleBytes = k.bitDepth == 16 ? 2 : 1;
    std::vector<png_byte> image((size_t)w * h * nChannels * nSampleBytes);
    std::vector<png_bytep> rows((size_t)h);
    for (int y = 0; y < h; y++) {
        rows[(size_t)y] = image.data() + (size_t)y * w * nChannels * nSampleBytes;
        for (int x = 0; x < w; x++)
            for (int c = 0; c < nChannels; c++) {
                const unsigned v = Sample(k, x, y, c);
                png_bytep p = rows[(size_t)y] + ((size_t)x * nChannels + c) * nSampleBytes;
                if (nSampleBytes == 2) {
                    p[0] = (png_byte)(v >> 8);
                    p[1] = (png_byte)v;
                } else {
                    p[0] = (png_byte)v;
                }
            }
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, k.bitDepth, k.colourType,
                 (k.extras & kPngInterlace) ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color palette[kPaletteSize];
    png_byte alphas[kTrnsEntries];
    if (k.colourType == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < kPaletteSize; i++) palette[i] = PaletteColour(i);
        png_set_PLTE(png, info, palette, kPaletteSize);
        if (k.extras & kPngTrns) {
            for (int i = 0; i < kTrnsEntries; i++) alphas[i] = PaletteAlpha(i);
            png_set_tRNS(png, info, alphas, kTrnsEntries, nullptr);
        }
    } else if (k.extras & kPngTrns) {
        png_color_16 key = {};
        if (k.colourType == PNG_COLOR_TYPE_GRAY) {
            key.gray = (png_uint_16)KeySample(k, 0);
        } else {
            key.red = (png_uint_16)KeySample(k, 0);
            key.green = (png_uint_16)KeySample(k, 1);
            key.blue = (png_uint_16)KeySample(k, 2);
        }
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    if (k.extras & kPngGamma10) png_set_gAMA_fixed(png, info, 100000);
    if (k.extras & kPngGamma18) png_set_gAMA_fixed(png, info, 55556);
    if (k.extras & kPngSrgb) png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (k.extras & kPngChrm)   // wide primaries, D50 white
        png_set_cHRM_fixed(png, info, 34570, 35850, 73470, 26530, 15960, 84040, 3660, 100);
    png_write_info(png, info);
    if (k.bitDepth < 8) png_set_packing(png);
    png_set_interlace_handling(png);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

std::vector<uint32_t> PngKindPixels(const PngKind& k, int w, int h) {
    std::vector<uint32_t> out((size_t)w * h);
    const int nChannels = Channels(k.colourType);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            unsigned r, g, b, a = 255;
            if (k.colourType == PNG_COLOR_TYPE_PALETTE) {
                const int i = (int)Sample(k, x, y, 0);
                const png_color c = PaletteColour(i);
                r = c.red;
                g = c.green;
                b = c.blue;
                if ((k.extras & kPngTrns) && i < kTrnsEntries) a = PaletteAlpha(i);
            } else {
                unsigned s[4];
                bool isKey = (k.extras & kPngTrns) != 0;
                for (int c = 0; c < nChannels; c++) {
                    s[c] = To8(Sample(k, x, y, c), k.bitDepth);
                    if (Sample(k, x, y, c) != KeySample(k, c)) isKey = false;
                }
                if (nChannels <= 2) {
                    r = g = b = s[0];
                    if (nChannels == 2) a = s[1];
                } else {
                    r = s[0];
                    g = s[1];
                    b = s[2];
                    if (nChannels == 4) a = s[3];
                }
                if (isKey) a = 0;
            }
            out[(size_t)y * w + x] = a << 24 | r << 16 | g << 8 | b;
        }
    return out;
}

}   // namespace rvotest
