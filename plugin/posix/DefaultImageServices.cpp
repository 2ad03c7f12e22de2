// PNG and JPEG still images read with libpng (as stored, codec/PngPixels.h)
// and libjpeg, stretched to the size the caller asks for.
#include "plugin/DefaultImageServices.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// libjpeg's header needs size_t and FILE declared first.
#include <jpeglib.h>

#include "codec/PngPixels.h"
#include "platform/CString.h"
#include "platform/HostImageServices.h"
#include "platform/LastError.h"
#include "plugin/ImageFit.h"

namespace {

// A decoded image in malloc'd memory (the JPEG path may leave by longjmp).
struct Picture {
    DWORD* pPixels = nullptr;
    unsigned nWidth = 0;
    unsigned nHeight = 0;
    ~Picture() { std::free(pPixels); }
};

bool IsPng(const BYTE* sig) {
    static const BYTE kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return std::memcmp(sig, kSignature, 8) == 0;
}
bool IsJpeg(const BYTE* sig) { return sig[0] == 0xFF && sig[1] == 0xD8 && sig[2] == 0xFF; }

bool ReadPng(FILE* f, Picture* pic, bool bSizeOnly) {
    CPngReader reader(f);
    if (!reader.ReadHeader() || !ImageSizeAllowed(reader.Width(), reader.Height())) return false;
    pic->nWidth = reader.Width();
    pic->nHeight = reader.Height();
    if (bSizeOnly) return true;
    pic->pPixels = static_cast<DWORD*>(std::malloc(sizeof(DWORD) * (size_t)pic->nWidth * pic->nHeight));
    return pic->pPixels && reader.ReadPixels(pic->pPixels);
}

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf env;
};

void JpegErrorExit(j_common_ptr c) { longjmp(reinterpret_cast<JpegError*>(c->err)->env, 1); }
void JpegSilent(j_common_ptr) {}

// Holds nothing with a destructor: libjpeg errors leave through longjmp.
bool ReadJpeg(FILE* f, Picture* pic, bool bSizeOnly) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    err.mgr.output_message = JpegSilent;
    BYTE* volatile pRow = nullptr;
    if (setjmp(err.env)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(pRow);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    if (!ImageSizeAllowed(cinfo.image_width, cinfo.image_height)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    pic->nWidth = cinfo.image_width;
    pic->nHeight = cinfo.image_height;
    if (bSizeOnly) {
        jpeg_destroy_decompress(&cinfo);
        return true;
    }
    cinfo.out_color_space = JCS_RGB;   // grey-scale pictures are widened too
    jpeg_start_decompress(&cinfo);
    const size_t w = cinfo.output_width;
    pRow = static_cast<BYTE*>(std::malloc(3 * w));
    pic->pPixels = static_cast<DWORD*>(std::malloc(4 * w * cinfo.output_height));
    if (!pRow || !pic->pPixels || cinfo.output_width != pic->nWidth || cinfo.output_height != pic->nHeight) {
        jpeg_destroy_decompress(&cinfo);
        std::free(pRow);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        const size_t y = cinfo.output_scanline;
        JSAMPROW rows[1] = {pRow};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
        DWORD* pOut = pic->pPixels + y * w;
        for (size_t x = 0; x < w; x++)
            pOut[x] = 0xFF000000u | ((DWORD)pRow[3 * x] << 16) | ((DWORD)pRow[3 * x + 1] << 8) | pRow[3 * x + 2];
    }
    const bool bRead = cinfo.output_scanline == cinfo.output_height;
    if (bRead) jpeg_finish_decompress(&cinfo);
    // A warning means damaged data (a cut stream is padded with grey): refuse it.
    const bool bComplete = bRead && err.mgr.num_warnings == 0;
    jpeg_destroy_decompress(&cinfo);
    std::free(pRow);
    return bComplete;
}

bool Load(const WCHAR* pszPath, Picture* pic, bool bSizeOnly) {
    if (!pszPath) return false;
    FILE* f = std::fopen(ToUtf8(pszPath).c_str(), "rb");
    if (!f) return false;
    BYTE sig[8] = {};
    bool bOk = false;
    if (std::fread(sig, 1, 8, f) == 8 && std::fseek(f, 0, SEEK_SET) == 0) {
        if (IsPng(sig)) bOk = ReadPng(f, pic, bSizeOnly);
        else if (IsJpeg(sig)) bOk = ReadJpeg(f, pic, bSizeOnly);
    }
    std::fclose(f);
    return bOk;
}

}   // namespace

int DefaultReadImage(const WCHAR* pszPath, DWORD* pPixels, int nWidth, int nHeight) {
    if (!pPixels || nWidth <= 0 || nHeight <= 0) return Fail(ERROR_INVALID_PARAMETER);
    Picture pic;
    if (!Load(pszPath, &pic, false)) return Fail(ERROR_BAD_FORMAT);
    FitImage(pic.pPixels, pic.nWidth, pic.nHeight, pPixels, (unsigned)nWidth, (unsigned)nHeight);
    return 1;
}

int DefaultGetImgInfo(const WCHAR* pszPath, int* p1, int* p2, int* pWidth, int* pHeight) {
    Picture pic;
    if (!pWidth || !pHeight || !Load(pszPath, &pic, true)) return Fail(ERROR_BAD_FORMAT);
    if (p1) *p1 = 0;
    if (p2) *p2 = 0;
    *pWidth = (int)pic.nWidth;
    *pHeight = (int)pic.nHeight;
    return 1;
}

void InstallDefaultImageServices() {
    SetReadImageFunc(DefaultReadImage);
    SetGetImgInfoFunc(DefaultGetImgInfo);
}
