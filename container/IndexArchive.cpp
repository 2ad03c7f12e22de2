// Index records and picture blobs in their file form: writing at close, reading at open.
#include "container/IndexArchive.h"

#include <cstring>
#include <new>
#include <vector>

#include "codec/JpegBlob.h"
#include "container/Limits.h"
#include "container/RvoFormat.h"
#include "platform/GlobalMemory.h"
#include "platform/LastError.h"

namespace {

// A locked blob with its lengths checked against its block; unlocks on scope exit.
class CLockedBlob {
public:
    explicit CLockedBlob(HGLOBAL h) : m_h(h), m_p(h ? static_cast<BYTE*>(GlobalLock(h)) : nullptr) {}
    ~CLockedBlob() {
        if (!m_p) return;
        const DWORD dwError = GetLastError();   // unlocking resets it; a failure's code must survive
        GlobalUnlock(m_h);
        SetLastError(dwError);
    }
    CLockedBlob(const CLockedBlob&) = delete;
    CLockedBlob& operator=(const CLockedBlob&) = delete;

    bool Locked() const { return m_p != nullptr; }
    // The header and both streams lie inside the block.
    bool Consistent() const {
        return m_p && GlobalSize(m_h) >= JPEG_BLOB_HEADER_BYTES &&
               (ULONGLONG)JPEG_BLOB_HEADER_BYTES + DataBytes() <= GlobalSize(m_h);
    }
    const BYTE* Header() const { return m_p + JPEG_BLOB_OFS_WIDTH; }   // the 16 bytes after the magic
    const BYTE* Data() const { return m_p + JPEG_BLOB_HEADER_BYTES; }
    ULONGLONG DataBytes() const {
        return (ULONGLONG)JpegBlobGetU32(m_p + JPEG_BLOB_OFS_COLOUR_BYTES) +
               JpegBlobGetU32(m_p + JPEG_BLOB_OFS_ALPHA_BYTES);
    }
    LONG Width() const { return (LONG)JpegBlobGetU32(m_p + JPEG_BLOB_OFS_WIDTH); }
    LONG Height() const { return (LONG)JpegBlobGetU32(m_p + JPEG_BLOB_OFS_HEIGHT); }

private:
    HGLOBAL m_h;
    BYTE* m_p;
};

// Frees a block under construction unless it was handed on.
class CBlockGuard {
public:
    explicit CBlockGuard(HGLOBAL h) : m_h(h) {}
    ~CBlockGuard() {
        if (m_h) GlobalFree(m_h);
    }
    HGLOBAL Release() {
        HGLOBAL h = m_h;
        m_h = nullptr;
        return h;
    }

private:
    HGLOBAL m_h;
};

}  // namespace

void WriteBlob(CArchive& ar, HGLOBAL hBlob) {
    CLockedBlob b(hBlob);
    if (!b.Consistent()) AfxThrowArchiveException(CArchiveException::badIndex);
    ar << (DWORD)JPEG_BLOB_FILE_MARKER;
    ar.Write(b.Header(), 16);
    ar.Write(b.Data(), (UINT)b.DataBytes());
}

HGLOBAL ReadBlob(CArchive& ar) {
    DWORD dwMarker, dwColour, dwAlpha;
    LONG nWidth, nHeight;
    ar >> dwMarker;
    if (dwMarker != JPEG_BLOB_FILE_MARKER) AfxThrowArchiveException(CArchiveException::badIndex);
    ar >> nWidth >> nHeight >> dwColour >> dwAlpha;
    const ULONGLONG nData = (ULONGLONG)dwColour + dwAlpha;
    if (nData > rvo::kMaxBlobBytes) AfxThrowArchiveException(CArchiveException::badIndex);
    // The streams must lie in the file, or a forged length would size the block.
    if (nData > ar.BytesLeft()) AfxThrowArchiveException(CArchiveException::endOfFile);
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, (size_t)JpegBlobBlockBytes(dwColour, dwAlpha));
    if (!h) AfxThrowMemoryException();
    CBlockGuard owner(h);
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p) AfxThrowMemoryException();
    JpegBlobPutU32(p + JPEG_BLOB_OFS_MAGIC, JPEG_BLOB_MAGIC);
    JpegBlobPutU32(p + JPEG_BLOB_OFS_WIDTH, (DWORD)nWidth);
    JpegBlobPutU32(p + JPEG_BLOB_OFS_HEIGHT, (DWORD)nHeight);
    JpegBlobPutU32(p + JPEG_BLOB_OFS_COLOUR_BYTES, dwColour);
    JpegBlobPutU32(p + JPEG_BLOB_OFS_ALPHA_BYTES, dwAlpha);
    std::memset(p + JPEG_BLOB_HEADER_BYTES + nData, 0, JPEG_BLOB_TAIL_BYTES);
    UINT nRead = ar.Read(p + JPEG_BLOB_HEADER_BYTES, (UINT)nData);
    GlobalUnlock(h);
    if (nRead != nData) AfxThrowArchiveException(CArchiveException::endOfFile);
    return owner.Release();
}

BOOL WriteBlobToFile(CFile* pFile, HGLOBAL hBlob) {
    CLockedBlob b(hBlob);
    if (!b.Locked()) return Fail(ERROR_INVALID_HANDLE);
    if (!b.Consistent()) return Fail(ERROR_INVALID_DATA);
    BYTE marker[4];
    JpegBlobPutU32(marker, JPEG_BLOB_FILE_MARKER);
    const UINT nData = (UINT)b.DataBytes();
    if (pFile->Write(marker, 4) != 4 || pFile->Write(b.Header(), 16) != 16 ||
        pFile->Write(b.Data(), nData) != nData)
        return Fail(ERROR_WRITE_FAULT);
    return TRUE;
}

BOOL GetBlobDimensions(HGLOBAL hBlob, LONG* pWidth, LONG* pHeight) {
    CLockedBlob b(hBlob);
    if (!b.Locked() || GlobalSize(hBlob) < JPEG_BLOB_HEADER_BYTES) return Fail(ERROR_INVALID_HANDLE);
    *pWidth = b.Width();
    *pHeight = b.Height();
    return TRUE;
}

void WriteEntry(CArchive& ar, const RvoIndexEntry& e) {
    ar << e.m_dwReserved0 << e.m_nKind;
    ar << e.m_strName;
    ar << e.m_dwReserved12 << e.m_dwReserved16 << e.m_nStartFrame << e.m_nLastFrame << e.m_dwFlags;
    ar << (DWORD)(e.m_hBlob ? 1 : 0);
    if (e.m_hBlob) WriteBlob(ar, e.m_hBlob);
    ar << e.m_dwBlobOffset << e.m_nWidth << e.m_nHeight;
    ar.Write(e.m_abReserved48, sizeof e.m_abReserved48);
    ar.Write(e.m_abReserved80, sizeof e.m_abReserved80);
    const LONG nExtra = (e.m_nExtraCount > 0 && e.m_pExtra) ? e.m_nExtraCount : 0;
    ar << nExtra;
    if (nExtra) ar.Write(e.m_pExtra, (UINT)nExtra * 16u);
    ar.Write(e.m_abReserved120, sizeof e.m_abReserved120);
}

void ReadEntry(CArchive& ar, RvoIndexEntry& e) {
    e.Clear();
    ar >> e.m_dwReserved0 >> e.m_nKind;
    ReadArchiveString(ar, e.m_strName, rvo::kMaxNameChars);
    ar >> e.m_dwReserved12 >> e.m_dwReserved16 >> e.m_nStartFrame >> e.m_nLastFrame >> e.m_dwFlags;
    DWORD dwBlobFlag;
    ar >> dwBlobFlag;
    if (dwBlobFlag) e.m_hBlob = ReadBlob(ar);
    ar >> e.m_dwBlobOffset >> e.m_nWidth >> e.m_nHeight;
    ar.ReadExact(e.m_abReserved48, sizeof e.m_abReserved48);
    ar.ReadExact(e.m_abReserved80, sizeof e.m_abReserved80);
    DWORD dwExtra;
    ar >> dwExtra;
    if (dwExtra) {
        if (dwExtra > rvo::kMaxExtraItems) AfxThrowArchiveException(CArchiveException::badIndex);
        const ULONGLONG nBytes = (ULONGLONG)dwExtra * 16u;
        if (nBytes > ar.BytesLeft()) AfxThrowArchiveException(CArchiveException::endOfFile);
        BYTE* p = new (std::nothrow) BYTE[(size_t)nBytes];
        if (!p) AfxThrowMemoryException();
        e.m_pExtra = p;   // owned by e from here, so a short read below leaks nothing
        e.m_nExtraCount = (LONG)dwExtra;
        ar.ReadExact(p, (UINT)nBytes);
    }
    ar.ReadExact(e.m_abReserved120, sizeof e.m_abReserved120);
}
