// PNG reading through libpng's full interface, which applies only the
// transforms asked for: here expansion of palettes, low bit depths and tRNS.
// libpng's errors leave through longjmp, so the functions that call setjmp
// keep their buffers in the shared state, never in locals with destructors.
#include "codec/PngPixels.h"

#include <png.h>

#include <cstdlib>
#include <cstring>

struct PngReadState {
    FILE* pFile = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_bytep pbImage = nullptr;     // the expanded rows, one block
    png_bytepp ppRows = nullptr;     // a pointer per row into pbImage
    char szProblem[160] = {};
};

namespace {

void OnPngError(png_structp png, png_const_charp msg) {
    auto* s = static_cast<PngReadState*>(png_get_error_ptr(png));
    std::snprintf(s->szProblem, sizeof s->szProblem, "%s", msg ? msg : "libpng error");
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// One expanded pixel of nChannels samples (grey, grey+alpha, RGB, RGBA) at
// 8 or 16 bits, to blue, green, red, alpha.
uint32_t ToBgra(const png_byte* p, int nChannels, bool b16) {
    unsigned s[4];
    for (int i = 0; i < nChannels; i++) s[i] = b16 ? RoundSample16((unsigned)p[2 * i] << 8 | p[2 * i + 1]) : p[i];
    unsigned r, g, b, a = 255;
    switch (nChannels) {
        case 1: r = g = b = s[0]; break;
        case 2: r = g = b = s[0]; a = s[1]; break;
        case 3: r = s[0]; g = s[1]; b = s[2]; break;
        default: r = s[0]; g = s[1]; b = s[2]; a = s[3]; break;
    }
    return (uint32_t)a << 24 | (uint32_t)r << 16 | (uint32_t)g << 8 | b;
}

}   // namespace

CPngReader::CPngReader(FILE* f) : m_pState(new PngReadState) { m_pState->pFile = f; }

CPngReader::~CPngReader() {
    if (m_pState->png) png_destroy_read_struct(&m_pState->png, m_pState->info ? &m_pState->info : nullptr, nullptr);
    std::free(m_pState->pbImage);
    std::free(m_pState->ppRows);
    delete m_pState;
}

int CPngReader::ReadHeader() {
    PngReadState* s = m_pState;
    png_byte sig[8];
    if (std::fread(sig, 1, 8, s->pFile) != 8 || png_sig_cmp(sig, 0, 8) != 0) {
        m_strProblem = "Not a PNG file";
        return 0;
    }
    s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s, OnPngError, OnPngWarning);
    if (s->png) s->info = png_create_info_struct(s->png);
    if (!s->png || !s->info) {
        m_strProblem = "out of memory";
        return 0;
    }
    if (setjmp(png_jmpbuf(s->png))) {
        m_strProblem = s->szProblem;
        return 0;
    }
    png_init_io(s->png, s->pFile);
    png_set_sig_bytes(s->png, 8);
    png_read_info(s->png, s->info);
    m_nWidth = png_get_image_width(s->png, s->info);
    m_nHeight = png_get_image_height(s->png, s->info);
    return 1;
}

int CPngReader::ReadPixels(uint32_t* pOut) {
    PngReadState* s = m_pState;
    if (!s->png || !s->info || s->pbImage) return 0;
    if (setjmp(png_jmpbuf(s->png))) {
        m_strProblem = s->szProblem;
        return 0;
    }
    // Palettes to their colours, 1, 2 and 4-bit grey to 8 bits, tRNS to an
    // alpha channel; 16-bit samples stay 16-bit and are rounded below.
    png_set_expand(s->png);
    png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    const int nChannels = png_get_channels(s->png, s->info);
    const int nDepth = png_get_bit_depth(s->png, s->info);
    const unsigned long long nRowBytes = png_get_rowbytes(s->png, s->info);
    const unsigned long long nPixelBytes = (unsigned long long)nChannels * (unsigned long long)(nDepth / 8);
    if (nChannels < 1 || nChannels > 4 || (nDepth != 8 && nDepth != 16) || nRowBytes != nPixelBytes * m_nWidth ||
        nRowBytes * m_nHeight > (unsigned long long)SIZE_MAX / 2)
        png_error(s->png, "unexpected layout after expansion");
    s->pbImage = static_cast<png_bytep>(std::malloc((size_t)(nRowBytes * m_nHeight)));
    s->ppRows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * m_nHeight));
    if (!s->pbImage || !s->ppRows) png_error(s->png, "out of memory");
    for (unsigned y = 0; y < m_nHeight; y++) s->ppRows[y] = s->pbImage + (size_t)(nRowBytes * y);
    png_read_image(s->png, s->ppRows);
    const bool b16 = nDepth == 16;
    for (unsigned y = 0; y < m_nHeight; y++) {
        const png_byte* pRow = s->ppRows[y];
        uint32_t* pDst = pOut + (size_t)y * m_nWidth;
        for (unsigned x = 0; x < m_nWidth; x++) pDst[x] = ToBgra(pRow + x * nPixelBytes, nChannels, b16);
    }
    return 1;
}
