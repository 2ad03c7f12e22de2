// The JPEG engine: picture blobs of an alpha stream and a colour stream.
#include "codec/JpeEngine.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "codec/JpegGlue.h"
#include "platform/GlobalMemory.h"
#include "platform/LastError.h"
#include "platform/ReadCheck.h"

// Zeroed while no operation runs.
struct JpegObjects {
    jpeg_compress_struct cinfoColour;
    jpeg_compress_struct cinfoAlpha;
    jpeg_decompress_struct dinfo;
    JpegErrorManager jerr;
    MemoryStream stream;
};

namespace {

// Rows converted per libjpeg call on the alpha path (two grey MCU rows).
constexpr JDIMENSION kRowBatch = 16;

constexpr BYTE kDefaultQuality = 75;

// Sizes libjpeg itself accepts; beyond them neither stream could be made or read.
bool IsCodableSize(LONG nWidth, LONG nHeight) {
    return nWidth > 0 && nHeight > 0 && nWidth <= JPEG_MAX_DIMENSION && nHeight <= JPEG_MAX_DIMENSION;
}

// Byte 3 of each pixel into a grey row.
void ExtractAlpha(BYTE* pDst, const BYTE* pSrc, JDIMENSION n) {
    for (JDIMENSION x = 0; x < n; x++) pDst[x] = pSrc[4 * x + 3];
}

// A grey row into byte 3 of each pixel.
void InsertAlpha(BYTE* pDst, const BYTE* pSrc, JDIMENSION n) {
    for (JDIMENSION x = 0; x < n; x++) pDst[4 * x + 3] = pSrc[x];
}

// One compress object of the given input, writing into the stream. Called with
// the caller's escape armed; it holds nothing that needs destruction.
void CreateCompress(jpeg_compress_struct* c, JpegErrorManager* pErr, MemoryStream* pStream, int nQuality,
                    int nComponents, J_COLOR_SPACE space) {
    c->err = &pErr->pub;
    jpeg_create_compress(c);
    c->image_width = 0;
    c->image_height = 0;
    c->input_components = nComponents;
    c->in_color_space = space;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, nQuality, TRUE);
    SetMemoryDestination(c, pStream);
}

// Starts decoding the nBytes stream at pData into the given output; false unless
// the stream is w x h and gives nComponents bytes per pixel. Called with the
// caller's escape armed; it holds nothing that needs destruction.
bool StartStream(j_decompress_ptr d, MemoryStream* pStream, BYTE* pData, DWORD nBytes, J_COLOR_SPACE space,
                 int nComponents, JDIMENSION w, JDIMENSION h) {
    pStream->base = pData;
    pStream->capacity = nBytes;
    pStream->position = 0;
    SetMemorySource(d, pStream);
    if (jpeg_read_header(d, TRUE) != JPEG_HEADER_OK) return false;
    if (d->image_width != w || d->image_height != h) return false;
    d->out_color_space = space;
    jpeg_start_decompress(d);
    return d->output_width == w && d->output_height == h && d->output_components == nComponents;
}

}   // namespace

const EngineClass CJpeEngine::classCJpeEngine = {"CJpeEngine", (int)sizeof(CJpeEngine), 0xFFFF,
                                                 &CEngine::classCEngine};

static_assert(sizeof(JpegObjects) <= kJpegObjectsBytes && alignof(JpegObjects) <= 16);

CJpeEngine::CJpeEngine() : m_nQuality(0), m_bDamaged(FALSE), m_ppRows(nullptr), m_nRowCapacity(0), m_pJpeg(new (m_abJpeg) JpegObjects()) {
    SetQuality(kDefaultQuality);
}

// Every operation ends with Terminate, so there are no libjpeg objects left here.
CJpeEngine::~CJpeEngine() {
    delete[] m_ppRows;
    m_pJpeg->~JpegObjects();
}

const EngineClass* CJpeEngine::GetRuntimeClass() const { return &classCJpeEngine; }

void CJpeEngine::Initialize() {
    if (m_bInitialized) return;
    if (CreateObjects())
        m_bInitialized = TRUE;
    else
        DestroyObjects();
}

void CJpeEngine::Terminate() {
    if (!m_bInitialized) return;
    m_bInitialized = FALSE;
    DestroyObjects();
}

BOOL CJpeEngine::CreateObjects() {
    if (setjmp(m_pJpeg->jerr.jbEscape)) return FALSE;
    InstallJpegErrorHooks(&m_pJpeg->jerr);

    // The colour stream is read straight from the 32-bit pixels: libjpeg-turbo's
    // BGRX input takes red, green and blue from bytes 2, 1, 0 and skips byte 3.
    CreateCompress(&m_pJpeg->cinfoColour, &m_pJpeg->jerr, &m_pJpeg->stream, m_nQuality, 4, JCS_EXT_BGRX);
    CreateCompress(&m_pJpeg->cinfoAlpha, &m_pJpeg->jerr, &m_pJpeg->stream, m_nQuality, 1, JCS_GRAYSCALE);

    m_pJpeg->dinfo.err = &m_pJpeg->jerr.pub;
    jpeg_create_decompress(&m_pJpeg->dinfo);
    SetMemorySource(&m_pJpeg->dinfo, &m_pJpeg->stream);
    return TRUE;
}

// Destroying a zero-filled object is a no-op, so this also cleans up after a
// CreateObjects that stopped half way; the objects are zeroed for the next one.
void CJpeEngine::DestroyObjects() {
    if (!setjmp(m_pJpeg->jerr.jbEscape)) {
        jpeg_destroy_compress(&m_pJpeg->cinfoColour);
        jpeg_destroy_compress(&m_pJpeg->cinfoAlpha);
        jpeg_destroy_decompress(&m_pJpeg->dinfo);
    }
    std::memset(&m_pJpeg->cinfoColour, 0, sizeof m_pJpeg->cinfoColour);
    std::memset(&m_pJpeg->cinfoAlpha, 0, sizeof m_pJpeg->cinfoAlpha);
    std::memset(&m_pJpeg->dinfo, 0, sizeof m_pJpeg->dinfo);
}

BOOL CJpeEngine::SetQuality(BYTE nQuality) {
    if (nQuality < 5 || nQuality > 95) return FALSE;
    m_nQuality = nQuality;
    if (m_bInitialized) ApplyQuality();
    return TRUE;
}

BOOL CJpeEngine::ApplyQuality() {
    if (setjmp(m_pJpeg->jerr.jbEscape)) return FALSE;
    jpeg_set_quality(&m_pJpeg->cinfoColour, m_nQuality, TRUE);
    jpeg_set_quality(&m_pJpeg->cinfoAlpha, m_nQuality, TRUE);
    return TRUE;
}

HGLOBAL CJpeEngine::Compress(const SIZE* pSize, const DWORD* pPixels, int nStride) {
    if (IsBadReadPtr(pSize, sizeof(SIZE))) {
        SetLastError(E_POINTER);
        return nullptr;
    }
    return CompressImage(pSize->cx, pSize->cy, pPixels, nStride);
}

HGLOBAL CJpeEngine::CompressImage(int nWidth, int nHeight, const DWORD* pPixels, int nStride) {
    Lock();
    DWORD dwError = ERROR_SUCCESS;
    HGLOBAL hBlob = CompressLocked(nWidth, nHeight, pPixels, nStride, &dwError);
    Terminate();
    Unlock();
    if (!hBlob) SetLastError(dwError);
    return hBlob;
}

HGLOBAL CJpeEngine::CompressLocked(int nWidth, int nHeight, const DWORD* pPixels, int nStride,
                                   DWORD* pdwError) {
    Initialize();
    if (!m_bInitialized) {
        *pdwError = ERROR_WRITE_FAULT;
        return nullptr;
    }
    if (!IsCodableSize(nWidth, nHeight)) {
        *pdwError = ERROR_INVALID_FORM_SIZE;
        return nullptr;
    }

    // Every byte the rows cover must be readable, whatever the sign of the stride.
    ULONGLONG nStep = (ULONGLONG)(nStride < 0 ? -(LONGLONG)nStride : nStride);
    ULONGLONG nSpan = (ULONGLONG)(nHeight - 1) * nStep * 4;
    ULONGLONG nExtent = nSpan + (ULONGLONG)nWidth * 4;
    uintptr_t uStart = (uintptr_t)pPixels;
    if (!pPixels || nExtent > SIZE_MAX || (nStride < 0 && nSpan > uStart)) {
        *pdwError = E_POINTER;
        return nullptr;
    }
    if (nStride < 0) uStart -= (uintptr_t)nSpan;
    if (IsBadReadPtr((const void*)uStart, (size_t)nExtent)) {
        *pdwError = E_POINTER;
        return nullptr;
    }

    // Both streams go into a block the size of the raw frame, so that the
    // stream never needs to grow; a frame whose streams do not fit below that
    // size (tiny frames) fails as a write fault.
    ULONGLONG nRaw = (ULONGLONG)nWidth * (ULONGLONG)nHeight * 4;
    if (nRaw > SIZE_MAX - JPEG_BLOB_HEADER_BYTES) {
        *pdwError = ERROR_OUTOFMEMORY;
        return nullptr;
    }
    // WriteStreams arms the libjpeg escape itself, so these owners are never jumped over.
    std::unique_ptr<BYTE*[]> ppRows(new (std::nothrow) BYTE*[(size_t)nHeight]);
    std::unique_ptr<BYTE[]> pWork(new (std::nothrow) BYTE[(size_t)nRaw]);
    if (!ppRows || !pWork) {
        *pdwError = ERROR_OUTOFMEMORY;
        return nullptr;
    }
    for (int y = 0; y < nHeight; y++)
        ppRows[y] = (BYTE*)(pPixels + (ptrdiff_t)y * nStride);

    m_pJpeg->stream.base = pWork.get();
    m_pJpeg->stream.capacity = nRaw > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)nRaw;
    m_pJpeg->stream.position = 0;
    DWORD dwAlphaBytes = 0;
    BOOL bWritten = WriteStreams(ppRows.get(), nWidth, nHeight, &dwAlphaBytes);
    DWORD dwColourBytes = m_pJpeg->stream.position - dwAlphaBytes;
    std::memset(&m_pJpeg->stream, 0, sizeof m_pJpeg->stream);
    ppRows.reset();
    if (!bWritten) {
        *pdwError = ERROR_WRITE_FAULT;
        return nullptr;
    }

    // The streams end below nRaw, which fits size_t, so the sum cannot wrap.
    size_t nBlock = (size_t)JpegBlobBlockBytes(dwColourBytes, dwAlphaBytes);
    HGLOBAL hBlob = GlobalAlloc(GMEM_MOVEABLE, nBlock);
    if (!hBlob) {
        *pdwError = ERROR_OUTOFMEMORY;
        return nullptr;
    }
    BYTE* p = (BYTE*)GlobalLock(hBlob);
    if (!p) {
        *pdwError = GetLastError();
        GlobalFree(hBlob);
        return nullptr;
    }
    StoreLe32(p + JPEG_BLOB_OFS_MAGIC, JPEG_BLOB_MAGIC);
    StoreLe32(p + JPEG_BLOB_OFS_WIDTH, (DWORD)nWidth);
    StoreLe32(p + JPEG_BLOB_OFS_HEIGHT, (DWORD)nHeight);
    StoreLe32(p + JPEG_BLOB_OFS_COLOUR_BYTES, dwColourBytes);
    StoreLe32(p + JPEG_BLOB_OFS_ALPHA_BYTES, dwAlphaBytes);
    std::memcpy(p + JPEG_BLOB_HEADER_BYTES, pWork.get(), (size_t)dwAlphaBytes + dwColourBytes);
    std::memset(p + nBlock - JPEG_BLOB_TAIL_BYTES, 0, JPEG_BLOB_TAIL_BYTES);
    GlobalUnlock(hBlob);
    return hBlob;
}

BOOL CJpeEngine::WriteStreams(BYTE** ppRows, int nWidth, int nHeight, DWORD* pdwAlphaBytes) {
    if (setjmp(m_pJpeg->jerr.jbEscape)) return FALSE;
    j_compress_ptr pAlpha = &m_pJpeg->cinfoAlpha;
    j_compress_ptr pColour = &m_pJpeg->cinfoColour;
    const JDIMENSION w = (JDIMENSION)nWidth, h = (JDIMENSION)nHeight;
    pAlpha->image_width = pColour->image_width = w;
    pAlpha->image_height = pColour->image_height = h;

    // The alpha stream: byte 3 of every pixel as a grey sample, a batch of rows at a time.
    jpeg_start_compress(pAlpha, TRUE);
    JSAMPARRAY ppGrey = (*pAlpha->mem->alloc_sarray)((j_common_ptr)pAlpha, JPOOL_IMAGE, w, kRowBatch);
    while (pAlpha->next_scanline < h) {
        JDIMENSION y = pAlpha->next_scanline;
        JDIMENSION n = h - y < kRowBatch ? h - y : kRowBatch;
        for (JDIMENSION k = 0; k < n; k++) ExtractAlpha(ppGrey[k], ppRows[y + k], w);
        if (jpeg_write_scanlines(pAlpha, ppGrey, n) != n) return FALSE;
    }
    jpeg_finish_compress(pAlpha);
    *pdwAlphaBytes = m_pJpeg->stream.position;

    // The colour stream follows in the same memory stream.
    jpeg_start_compress(pColour, TRUE);
    if (jpeg_write_scanlines(pColour, ppRows, h) != h) return FALSE;
    jpeg_finish_compress(pColour);
    return TRUE;
}

BYTE* CJpeEngine::Decompress(HGLOBAL hBlob) {
    Lock();
    DWORD dwError = ERROR_SUCCESS;
    BYTE* pPixels = DecompressLocked(hBlob, &dwError);
    Terminate();
    Unlock();
    if (!pPixels) SetLastError(dwError);
    return pPixels;
}

BYTE* CJpeEngine::DecompressLocked(HGLOBAL hBlob, DWORD* pdwError) {
    Initialize();
    JpegBlobInfo info;
    if (!LockBlob(&info, hBlob, TRUE)) {
        LockBlob(nullptr, hBlob, FALSE);
        *pdwError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    BYTE* pPixels = nullptr;
    BYTE** ppRows = nullptr;
    ULONGLONG nBytes = (ULONGLONG)(info.width > 0 ? info.width : 0) * (ULONGLONG)(info.height > 0 ? info.height : 0) * 4;
    if (!IsCodableSize(info.width, info.height)) {
        *pdwError = ERROR_INVALID_DATA;
    } else if (nBytes > SIZE_MAX / 2) {
        *pdwError = ERROR_OUTOFMEMORY;
    } else {
        pPixels = new (std::nothrow) BYTE[(size_t)nBytes];
        ppRows = new (std::nothrow) BYTE*[(size_t)info.height];
        if (!pPixels || !ppRows) *pdwError = ERROR_OUTOFMEMORY;
        else if (DecodeBlob(&info, pPixels, ppRows, pdwError)) *pdwError = ERROR_SUCCESS;
    }
    LockBlob(nullptr, hBlob, FALSE);
    delete[] ppRows;
    if (*pdwError != ERROR_SUCCESS) {
        delete[] pPixels;
        return nullptr;
    }
    return pPixels;
}

BOOL CJpeEngine::DecompressInto(HGLOBAL hBlob, DWORD* pPixels, const SIZE* pSize) {
    // The decompression object is shared with Decompress, so this takes the lock too.
    Lock();
    DWORD dwError = ERROR_SUCCESS;
    BOOL bOk = DecompressIntoLocked(hBlob, pPixels, pSize, &dwError);
    Terminate();
    Unlock();
    if (!bOk) SetLastError(dwError);
    return bOk;
}

BOOL CJpeEngine::DecompressIntoLocked(HGLOBAL hBlob, DWORD* pPixels, const SIZE* pSize, DWORD* pdwError) {
    Initialize();
    if (IsBadReadPtr(pSize, sizeof(SIZE))) {
        *pdwError = E_POINTER;
        return FALSE;
    }
    JpegBlobInfo info;
    BOOL bOk = FALSE;
    if (!LockBlob(&info, hBlob, TRUE) || pSize->cx != info.width || pSize->cy != info.height) {
        *pdwError = ERROR_INVALID_HANDLE;
    } else if (!pPixels) {
        *pdwError = ERROR_OUTOFMEMORY;
    } else if (!IsCodableSize(info.width, info.height)) {
        *pdwError = ERROR_INVALID_DATA;
    } else if ((ULONGLONG)info.width * (ULONGLONG)info.height * 4 > SIZE_MAX / 2) {
        *pdwError = ERROR_OUTOFMEMORY;   // no caller buffer can be this large
    } else {
        // The table is kept for the next frame; it grows when a taller one comes.
        if (m_nRowCapacity < info.height) {
            delete[] m_ppRows;
            m_ppRows = new (std::nothrow) BYTE*[(size_t)info.height];
            m_nRowCapacity = m_ppRows ? info.height : 0;
        }
        if (!m_ppRows)
            *pdwError = ERROR_OUTOFMEMORY;
        else
            bOk = DecodeBlob(&info, (BYTE*)pPixels, m_ppRows, pdwError);
    }
    LockBlob(nullptr, hBlob, FALSE);
    return bOk;
}

BOOL CJpeEngine::DecodeBlob(const JpegBlobInfo* pInfo, BYTE* pPixels, BYTE** ppRows, DWORD* pdwError) {
    if (!m_bInitialized) {
        *pdwError = ERROR_INVALID_DATA;
        return FALSE;
    }
    m_bDamaged = FALSE;
    size_t nRowBytes = (size_t)pInfo->width * 4;
    for (LONG y = 0; y < pInfo->height; y++) ppRows[y] = pPixels + (size_t)y * nRowBytes;
    BOOL bOk = ReadStreams(pInfo, ppRows);
    std::memset(&m_pJpeg->stream, 0, sizeof m_pJpeg->stream);
    if (!bOk) *pdwError = ERROR_INVALID_DATA;
    return bOk;
}

BOOL CJpeEngine::ReadStreams(const JpegBlobInfo* pInfo, BYTE** ppRows) {
    if (setjmp(m_pJpeg->jerr.jbEscape)) return FALSE;
    j_decompress_ptr d = &m_pJpeg->dinfo;
    const JDIMENSION w = (JDIMENSION)pInfo->width, h = (JDIMENSION)pInfo->height;

    // Colour first: libjpeg-turbo's 4-byte output also writes byte 3, so the
    // alpha samples are put in afterwards. Each stream must have the blob's
    // size, or rows would be missing or run past the buffer.
    if (!StartStream(d, &m_pJpeg->stream, pInfo->data + pInfo->alphaBytes, pInfo->colourBytes, JCS_EXT_BGRX, 4, w, h))
        return FALSE;
    while (d->output_scanline < h) {
        if (jpeg_read_scanlines(d, ppRows + d->output_scanline, h - d->output_scanline) == 0)
            return FALSE;
    }
    // libjpeg counts its warnings per stream (reading a header starts the count
    // again) and goes on past the damage they report; the count is read once
    // per stream, so an intact stream costs nothing more.
    jpeg_finish_decompress(d);
    if (d->err->num_warnings != 0) m_bDamaged = TRUE;

    if (!StartStream(d, &m_pJpeg->stream, pInfo->data, pInfo->alphaBytes, JCS_GRAYSCALE, 1, w, h)) return FALSE;
    JSAMPARRAY ppGrey = (*d->mem->alloc_sarray)((j_common_ptr)d, JPOOL_IMAGE, w, kRowBatch);
    while (d->output_scanline < h) {
        JDIMENSION y = d->output_scanline;
        JDIMENSION n = jpeg_read_scanlines(d, ppGrey, h - y < kRowBatch ? h - y : kRowBatch);
        if (n == 0) return FALSE;
        for (JDIMENSION k = 0; k < n; k++) InsertAlpha(ppRows[y + k], ppGrey[k], w);
    }
    jpeg_finish_decompress(d);
    if (d->err->num_warnings != 0) m_bDamaged = TRUE;
    return TRUE;
}

BOOL CJpeEngine::IsValidBlob(HGLOBAL h) { return IsLiveJpegBlob(h); }

BOOL CJpeEngine::FreeBlob(HGLOBAL h) { return FreeJpegBlob(h); }

BOOL CJpeEngine::LockBlob(JpegBlobInfo* pInfo, HGLOBAL h, BOOL bLock) {
    if (!bLock) return GlobalUnlock(h) || GetLastError() == ERROR_SUCCESS;
    if (!pInfo) return Fail(E_POINTER);
    if (!IsValidBlob(h)) return Fail(ERROR_INVALID_HANDLE);
    const BYTE* p = (const BYTE*)GlobalLock(h);
    if (!p) return FALSE;
    // The header and both stream lengths must lie within the block before
    // anything reads a stream.
    const size_t nBlock = GlobalSize(h);
    JpegBlobHeader head;
    if (!ReadJpegBlobHeader(p, nBlock, &head) || head.dwMagic != JPEG_BLOB_MAGIC) return Fail(ERROR_INVALID_HANDLE);
    if (JPEG_BLOB_HEADER_BYTES + head.DataBytes() > nBlock) return Fail(ERROR_INVALID_HANDLE);
    pInfo->width = head.width;
    pInfo->height = head.height;
    pInfo->colourBytes = head.colourBytes;
    pInfo->alphaBytes = head.alphaBytes;
    pInfo->data = (BYTE*)p + JPEG_BLOB_HEADER_BYTES;
    return TRUE;
}

SIZE CJpeEngine::GetBlobSize(HGLOBAL h) {
    JpegBlobInfo info;
    SIZE size = {0, 0};
    if (LockBlob(&info, h, TRUE)) {
        size.cx = info.width;
        size.cy = info.height;
        LockBlob(nullptr, h, FALSE);
        return size;
    }
    LockBlob(nullptr, h, FALSE);
    SetLastError(ERROR_INVALID_HANDLE);
    return size;
}

void CJpeEngine::SpreadAlpha(BYTE* pDst, const BYTE* pSrc, int n) {
    for (int k = n; k >= 1; k--) pDst[4 * (size_t)k - 1] = pSrc[k - 1];
}
