// Still images through the Windows Imaging Component, converted to 32bppBGRA
// and stretched to the size the caller asks for.
#include "plugin/win32/WicImageServices.h"

#include <windows.h>
#include <wincodec.h>

#include <vector>

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
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.p, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return false;
    pic->px.resize((size_t)pic->nWidth * pic->nHeight);
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
