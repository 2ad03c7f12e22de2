// Still images through the Windows Imaging Component, converted to 32bppBGRA
// and stretched to the size the caller asks for.
#include "plugin/win32/WicImageServices.h"

#include <windows.h>
#include <wincodec.h>

#include <cstring>
#include <vector>

namespace {

// An image file may claim any size: refuse what no frame could show.
constexpr UINT kMaxImageDimension = 16384;
constexpr unsigned long long kMaxImagePixels = 8192ull * 8192ull;

bool SizeAllowed(UINT w, UINT h) {
    return w > 0 && h > 0 && w <= kMaxImageDimension && h <= kMaxImageDimension &&
           (unsigned long long)w * h <= kMaxImagePixels;
}

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
        !SizeAllowed(pic->nWidth, pic->nHeight))
        return false;
    if (bSizeOnly) return true;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.p, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return false;
    pic->px.resize((size_t)pic->nWidth * pic->nHeight);
    return SUCCEEDED(converter->CopyPixels(nullptr, 4 * pic->nWidth, (UINT)(4 * pic->px.size()),
                                           reinterpret_cast<BYTE*>(pic->px.data())));
}

// Source coordinate of each destination column or row: index and weight (0-256)
// of the next sample, pixel centres aligned. The same taps as the Linux build's.
struct Tap {
    UINT i0, i1, w1;
};

std::vector<Tap> Taps(UINT nSrc, UINT nDst) {
    std::vector<Tap> taps(nDst);
    for (UINT d = 0; d < nDst; d++) {
        const double s = (d + 0.5) * nSrc / nDst - 0.5;
        if (s <= 0) {
            taps[d] = {0, 0, 0};
            continue;
        }
        const UINT i0 = (UINT)s;
        const UINT i1 = i0 + 1 < nSrc ? i0 + 1 : nSrc - 1;
        taps[d] = {i0 < nSrc ? i0 : nSrc - 1, i1, (UINT)((s - i0) * 256.0 + 0.5)};
    }
    return taps;
}

void Stretch(const Picture& pic, uint32_t* pOut, UINT nWidth, UINT nHeight) {
    if (pic.nWidth == nWidth && pic.nHeight == nHeight) {
        std::memcpy(pOut, pic.px.data(), 4 * (size_t)nWidth * nHeight);
        return;
    }
    const std::vector<Tap> tx = Taps(pic.nWidth, nWidth), ty = Taps(pic.nHeight, nHeight);
    for (UINT y = 0; y < nHeight; y++) {
        const uint32_t* r0 = pic.px.data() + (size_t)ty[y].i0 * pic.nWidth;
        const uint32_t* r1 = pic.px.data() + (size_t)ty[y].i1 * pic.nWidth;
        const UINT wy = ty[y].w1;
        for (UINT x = 0; x < nWidth; x++) {
            const Tap& t = tx[x];
            uint32_t v = 0;
            for (UINT k = 0; k < 32; k += 8) {
                const UINT a = (r0[t.i0] >> k) & 0xFF, b = (r0[t.i1] >> k) & 0xFF;
                const UINT c = (r1[t.i0] >> k) & 0xFF, d = (r1[t.i1] >> k) & 0xFF;
                const UINT top = a * (256 - t.w1) + b * t.w1, bottom = c * (256 - t.w1) + d * t.w1;
                v |= ((top * (256 - wy) + bottom * wy + 32768) >> 16) << k;
            }
            pOut[(size_t)y * nWidth + x] = v;
        }
    }
}

}  // namespace

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
    Stretch(pic, pPixels, (UINT)nWidth, (UINT)nHeight);
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
