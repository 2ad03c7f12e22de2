// CJpeEngine: compresses a 32-bit frame (bytes blue, green, red, alpha) into a
// picture blob of two baseline JPEG streams and decodes it back.
//
// Every operation prepares the libjpeg objects at its start and destroys them
// at its end, so between operations the engine is neither initialised nor
// busy; only the quality and the row table of DecompressInto persist.
// Failures return 0 / null with a last-error code:
//   ERROR_INVALID_FORM_SIZE  width or height <= 0 or above JPEG_MAX_DIMENSION (compress)
//   E_POINTER                unreadable size record or pixels
//   ERROR_OUTOFMEMORY        an allocation failed; DecompressInto with null pixels
//   ERROR_WRITE_FAULT        libjpeg failed while compressing, including a full stream
//   ERROR_INVALID_HANDLE     not a live blob, wrong magic, lengths beyond the block,
//                            or (DecompressInto) a size other than the blob's
//   ERROR_INVALID_DATA       a stream does not decode to the blob's size
#pragma once

#include <cstddef>

#include "codec/Engine.h"
#include "codec/JpegBlob.h"

// The libjpeg objects of one engine (codec/JpeEngine.cpp) live in storage of
// this size inside the engine: their types stay out of this header, so that
// only the codec sees libjpeg's, and an engine costs no further allocation.
struct JpegObjects;
constexpr size_t kJpegObjectsBytes = 4096;

class CJpeEngine : public CEngine {
public:
    static const EngineClass classCJpeEngine;

    CJpeEngine();
    ~CJpeEngine() override;

    const EngineClass* GetRuntimeClass() const override;
    void Initialize() override;
    void Terminate() override;

    // Accepts 5..95; anything else returns FALSE and keeps the quality.
    BOOL SetQuality(BYTE nQuality);
    BYTE GetQuality() const { return m_nQuality; }

    // A new blob (free it with FreeBlob) or null. stride is the row step in pixels.
    HGLOBAL Compress(const SIZE* pSize, const DWORD* pPixels, int nStride);
    HGLOBAL CompressImage(int nWidth, int nHeight, const DWORD* pPixels, int nStride);
    // A new array (delete[]) of width x height packed pixels, or null.
    BYTE* Decompress(HGLOBAL hBlob);
    // Decodes into pPixels, packed, which holds exactly pSize->cx x pSize->cy
    // pixels; the size must be the blob's. May leave pPixels partly written on failure.
    BOOL DecompressInto(HGLOBAL hBlob, DWORD* pPixels, const SIZE* pSize);
    // TRUE when the last Decompress or DecompressInto that gave a picture met
    // damage libjpeg reads past (a warning: a bad Huffman code, bytes before a
    // marker, a stream that ends early and gets the source's stand-in end of
    // image): the picture is only what the damaged stream decodes to.
    BOOL WasDamaged() const { return m_bDamaged; }

    static BOOL IsValidBlob(HGLOBAL h);
    static BOOL FreeBlob(HGLOBAL h);
    // bLock TRUE: locks h and reports its header. Also on failure the caller
    // calls LockBlob(..., FALSE) once afterwards (a bad header leaves h locked).
    // bLock FALSE: unlocks h; pInfo is not used.
    static BOOL LockBlob(JpegBlobInfo* pInfo, HGLOBAL h, BOOL bLock);
    // The blob's width and height, or (0, 0) with ERROR_INVALID_HANDLE.
    static SIZE GetBlobSize(HGLOBAL h);
    // Moves n dense bytes at pSrc into byte 3 of n pixels at pDst, from the end,
    // so that pDst == pSrc is safe.
    static void SpreadAlpha(BYTE* pDst, const BYTE* pSrc, int n);

private:
    HGLOBAL CompressLocked(int nWidth, int nHeight, const DWORD* pPixels, int nStride, DWORD* pdwError);
    BYTE* DecompressLocked(HGLOBAL hBlob, DWORD* pdwError);
    BOOL DecompressIntoLocked(HGLOBAL hBlob, DWORD* pPixels, const SIZE* pSize, DWORD* pdwError);
    BOOL DecodeBlob(const JpegBlobInfo* pInfo, BYTE* pPixels, BYTE** ppRows, DWORD* pdwError);

    // The functions below arm the libjpeg error escape; they hold nothing that
    // needs destruction, and return FALSE after a libjpeg error.
    BOOL CreateObjects();
    void DestroyObjects();
    BOOL ApplyQuality();
    BOOL WriteStreams(BYTE** ppRows, int nWidth, int nHeight, DWORD* pdwAlphaBytes);
    BOOL ReadStreams(const JpegBlobInfo* pInfo, BYTE** ppRows);

    BYTE m_nQuality;
    BOOL m_bDamaged;   // the last decode met a libjpeg warning
    BYTE** m_ppRows;   // row table of DecompressInto, kept between calls
    int m_nRowCapacity;
    alignas(16) unsigned char m_abJpeg[kJpegObjectsBytes];
    JpegObjects* m_pJpeg;   // constructed in m_abJpeg
};
