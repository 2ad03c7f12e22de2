// Still images through the Windows Imaging Component, converted to 32bppBGRA
// and stretched to the size the caller asks for. 16-bit pictures are read in
// their own format and rounded here as codec/PngPixels.h rounds them: WIC's
// converter takes 16-bit formats for linear light and would apply gamma.
#include "plugin/win32/WicImageServices.h"

#include <windows.h>
#include <wincodec.h>

#include <vector>

#include "codec/PngPixels.h"
#include "plugin/ImageFit.h"

namespace {

template <typename T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

// COM for this thread for as long as the call runs, if the host has not set it up.
struct ComScope {
    HRESULT hr;
    ComScope() : hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
    bool Ok() const { return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE; }
};

// A 16-bit format WIC decodes into: its samples per pixel and where red,
// green, blue and alpha are among them (-1: none; grey when green is -1).
struct WideFormat {
    const GUID* pFormat;
    int nSamples;
    int r, g, b, a;
};
const WideFormat kWideFormats[] = {
    {&GUID_WICPixelFormat16bppGray, 1, 0, -1, -1, -1},
    {&GUID_WICPixelFormat48bppRGB, 3, 0, 1, 2, -1},
    {&GUID_WICPixelFormat48bppBGR, 3, 2, 1, 0, -1},
    {&GUID_WICPixelFormat64bppRGBA, 4, 0, 1, 2, 3},
    {&GUID_WICPixelFormat64bppBGRA, 4, 2, 1, 0, 3},
};

struct Picture {
    std::vector<uint32_t> px;
    UINT nWidth = 0;
    UINT nHeight = 0;
};

bool Load(const char16_t* pszPath, Picture* pic, bool bSizeOnly) {
    if (!pszPath) return false;
    ComScope com;
    if (!com.Ok()) return false;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateDecoderFromFilename(reinterpret_cast<LPCWSTR>(pszPath), nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&pic->nWidth, &pic->nHeight)) ||
        !ImageSizeAllowed(pic->nWidth, pic->nHeight))
        return false;
    if (bSizeOnly) return true;
    pic->px.resize((size_t)pic->nWidth * pic->nHeight);
    WICPixelFormatGUID format{};
    if (FAILED(frame->GetPixelFormat(&format))) return false;
    for (const WideFormat& f : kWideFormats) {
        if (!IsEqualGUID(format, *f.pFormat)) continue;
        // Samples little-endian, rounded to 8 bits.
        const UINT nStride = 2 * (UINT)f.nSamples * pic->nWidth;
        std::vector<BYTE> wide((size_t)nStride * pic->nHeight);
        if (FAILED(frame->CopyPixels(nullptr, nStride, (UINT)wide.size(), wide.data()))) return false;
        for (size_t i = 0; i < pic->px.size(); i++) {
            const BYTE* p = &wide[i * 2 * (size_t)f.nSamples];
            auto sample = [p](int k) -> uint32_t { return RoundSample16((unsigned)p[2 * k] | (unsigned)p[2 * k + 1] << 8); };
            const uint32_t r = sample(f.r), g = f.g < 0 ? r : sample(f.g), b = f.b < 0 ? r : sample(f.b);
            const uint32_t a = f.a < 0 ? 255 : sample(f.a);
            pic->px[i] = a << 24 | r << 16 | g << 8 | b;
        }
        return true;
    }
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.p, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return false;
    return SUCCEEDED(converter->CopyPixels(nullptr, 4 * pic->nWidth, (UINT)(4 * pic->px.size()),
                                           reinterpret_cast<BYTE*>(pic->px.data())));
}

}   // namespace

int WicReadImage(const char16_t* pszPath, uint32_t* pPixels, int nWidth, int nHeight) {
    if (!pPixels || nWidth <= 0 || nHeight <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Picture pic;
    if (!Load(pszPath, &pic, false)) {
        SetLastError(ERROR_BAD_FORMAT);
        return 0;
    }
    FitImage(pic.px.data(), pic.nWidth, pic.nHeight, pPixels, (unsigned)nWidth, (unsigned)nHeight);
    return 1;
}

int WicGetImgInfo(const char16_t* pszPath, int* p1, int* p2, int* pWidth, int* pHeight) {
    Picture pic;
    if (!pWidth || !pHeight || !Load(pszPath, &pic, true)) {
        SetLastError(ERROR_BAD_FORMAT);
        return 0;
    }
    if (p1) *p1 = 0;
    if (p2) *p2 = 0;
    *pWidth = (int)pic.nWidth;
    *pHeight = (int)pic.nHeight;
    return 1;
}
