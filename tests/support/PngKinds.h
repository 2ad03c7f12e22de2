// A table of PNG kinds (colour types, bit depths, transparency, gamma and
// colour chunks, interlacing) written with libpng's full interface, and the
// 8-bit BGRA pixels each must read as: the stored samples, 16-bit ones
// rounded, no gamma or colour conversion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rvotest {

struct PngKind {
    const char* name;
    int colourType;   // PNG_COLOR_TYPE_*
    int bitDepth;
    unsigned extras;  // PngExtra flags
};

enum PngExtra : unsigned {
    kPngTrns = 1,        // palette alpha, or a colour key for grey and RGB
    kPngGamma10 = 2,     // gAMA 1.0
    kPngGamma18 = 4,     // gAMA 1/1.8
    kPngSrgb = 8,        // sRGB (and the gAMA and cHRM that go with it)
    kPngChrm = 16,       // cHRM of other primaries
    kPngInterlace = 32,  // Adam7
};

// Every kind the readers must take as stored.
const std::vector<PngKind>& PngKinds();
// Writes a w x h picture of that kind; false when libpng cannot.
bool WritePngKind(const std::string& path, const PngKind& kind, int w, int h);
// Its pixels as they must be read: bytes blue, green, red, alpha, top row first.
std::vector<uint32_t> PngKindPixels(const PngKind& kind, int w, int h);

}   // namespace rvotest
