// PNG files read into 8-bit pixels exactly as they are stored, for the tool's
// frames and the module's still images alike. Palettes become their colours,
// grey widens to grey, grey and colour-key transparency (tRNS) become alpha,
// 16-bit samples are rounded to 8 bits ((v * 255 + 32767) / 65535). Nothing
// else changes a sample: gamma (gAMA), chromaticities (cHRM), sRGB and ICC
// profiles (iCCP) are not applied, as a video frame is shown as it was stored.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct PngReadState;

class CPngReader {
public:
    // Reads from f, which stays the caller's to close.
    explicit CPngReader(FILE* f);
    ~CPngReader();
    CPngReader(const CPngReader&) = delete;
    CPngReader& operator=(const CPngReader&) = delete;

    // The signature and the chunks before the pixels; 0 when f holds no PNG.
    int ReadHeader();
    unsigned Width() const { return m_nWidth; }
    unsigned Height() const { return m_nHeight; }
    // Width() x Height() pixels into pOut (row step Width()), bytes blue, green,
    // red, alpha, straight (not premultiplied) alpha; 0 when the data is damaged.
    int ReadPixels(uint32_t* pOut);
    // libpng's words for the last failure.
    const std::string& Problem() const { return m_strProblem; }

private:
    PngReadState* m_pState;
    unsigned m_nWidth = 0;
    unsigned m_nHeight = 0;
    std::string m_strProblem;
};

// (v * 255 + 32767) / 65535: a 16-bit sample rounded to the nearest 8-bit one.
inline uint8_t RoundSample16(unsigned v) { return (uint8_t)((v * 255u + 32767u) / 65535u); }
