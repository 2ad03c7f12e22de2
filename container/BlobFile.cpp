// Picture blobs in their file form: written at close, read back from the index
// archive or straight from the frame area, both readers through one header check.
#include "container/BlobFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "container/Limits.h"
#include "platform/ByteOrder.h"
#include "platform/GlobalMemory.h"
#include "platform/LastError.h"

using namespace rvo;

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
    ULONGLONG DataBytes() const { return JpegBlobDataBytes(m_p); }
    LONG Width() const { return (LONG)LoadLe32(m_p + JPEG_BLOB_OFS_WIDTH); }
    LONG Height() const { return (LONG)LoadLe32(m_p + JPEG_BLOB_OFS_HEIGHT); }

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

// How reading a file form ended; each reader reports it in its own way.
enum BlobRead {
    kBlobRead,
    kBlobShortMarker,
    kBlobBadMarker,
    kBlobShortHeader,
    kBlobTooLong,
    kBlobPastEnd,
    kBlobNoMemory,
    kBlobShortData,
};

// The two places a file form is read from: bytes read (fewer only at the end), and bytes left.
UINT ReadSome(CArchive& ar, BYTE* p, UINT n) { return ar.Read(p, n); }
UINT ReadSome(CFile& f, BYTE* p, UINT n) { return f.Read(p, n); }
ULONGLONG BytesLeft(CArchive& ar) { return ar.BytesLeft(); }
ULONGLONG BytesLeft(CFile& f) {
    const ULONGLONG nPos = f.GetPosition(), nLength = f.GetLength();
    return nPos > nLength ? 0 : nLength - nPos;
}

// Reads one file form into a new block in the in-memory layout.
template <class Source>
BlobRead ReadFileForm(Source& src, HGLOBAL* phOut) {
    BYTE head[kBlobFileHeaderBytes];
    if (ReadSome(src, head, 4) != 4) return kBlobShortMarker;
    if (LoadLe32(head) != kBlobFileMarker) return kBlobBadMarker;
    if (ReadSome(src, head + 4, kBlobFileHeaderBytes - 4) != kBlobFileHeaderBytes - 4) return kBlobShortHeader;
    const BlobFileCheck check = CheckBlobFileHeader(head, BytesLeft(src));
    if (check == kBlobFileTooLong) return kBlobTooLong;
    if (check == kBlobFilePastEnd) return kBlobPastEnd;

    const DWORD dwColour = LoadLe32(head + JPEG_BLOB_OFS_COLOUR_BYTES);
    const DWORD dwAlpha = LoadLe32(head + JPEG_BLOB_OFS_ALPHA_BYTES);
    const ULONGLONG nData = (ULONGLONG)dwColour + dwAlpha;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, (size_t)JpegBlobBlockBytes(dwColour, dwAlpha));
    if (!h) return kBlobNoMemory;
    CBlockGuard owner(h);
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p) return kBlobNoMemory;
    StoreLe32(p + JPEG_BLOB_OFS_MAGIC, JPEG_BLOB_MAGIC);
    std::memcpy(p + JPEG_BLOB_OFS_WIDTH, head + JPEG_BLOB_OFS_WIDTH, kBlobFileHeaderBytes - 4);
    std::memset(p + JPEG_BLOB_HEADER_BYTES + nData, 0, JPEG_BLOB_TAIL_BYTES);
    const bool bRead = ReadSome(src, p + JPEG_BLOB_HEADER_BYTES, (UINT)nData) == nData;
    const DWORD dwReadError = GetLastError();   // GlobalUnlock clears it
    GlobalUnlock(h);
    SetLastError(dwReadError);
    if (!bRead) return kBlobShortData;
    *phOut = owner.Release();
    return kBlobRead;
}

}   // namespace

BlobFileCheck CheckBlobFileHeader(const BYTE* pHeader, ULONGLONG nBytesAfter) {
    const ULONGLONG nData = JpegBlobDataBytes(pHeader);
    if (nData > kMaxBlobBytes) return kBlobFileTooLong;
    // The streams must lie in the file, or a forged length would size the block.
    if (nData > nBytesAfter) return kBlobFilePastEnd;
    return kBlobFileOk;
}

void WriteBlob(CArchive& ar, HGLOBAL hBlob) {
    CLockedBlob b(hBlob);
    if (!b.Consistent()) AfxThrowArchiveException(CArchiveException::badIndex);
    ar << kBlobFileMarker;
    ar.Write(b.Header(), kBlobFileHeaderBytes - 4);
    ar.Write(b.Data(), (UINT)b.DataBytes());
}

HGLOBAL ReadBlob(CArchive& ar) {
    HGLOBAL h = nullptr;
    switch (ReadFileForm(ar, &h)) {
    case kBlobRead: return h;
    case kBlobBadMarker:
    case kBlobTooLong: AfxThrowArchiveException(CArchiveException::badIndex);
    case kBlobNoMemory: AfxThrowMemoryException();
    default: AfxThrowArchiveException(CArchiveException::endOfFile);
    }
}

void SkipBlob(CArchive& ar, ULONGLONG* pnAt, DWORD* pnBytes) {
    const ULONGLONG nAt = ar.GetPosition();
    BYTE head[kBlobFileHeaderBytes];
    ar.ReadExact(head, 4);
    if (LoadLe32(head) != kBlobFileMarker) AfxThrowArchiveException(CArchiveException::badIndex);
    ar.ReadExact(head + 4, kBlobFileHeaderBytes - 4);
    const BlobFileCheck check = CheckBlobFileHeader(head, ar.BytesLeft());
    if (check == kBlobFileTooLong) AfxThrowArchiveException(CArchiveException::badIndex);
    if (check == kBlobFilePastEnd) AfxThrowArchiveException(CArchiveException::endOfFile);
    const ULONGLONG nData = JpegBlobDataBytes(head);
    ar.Skip(nData);
    *pnAt = nAt;
    *pnBytes = (DWORD)(kBlobFileHeaderBytes + nData);   // the limit keeps it far below 4 GiB
}

void WriteBlobFromFile(CArchive& ar, ULONGLONG nAt, LONG* pWidth, LONG* pHeight) {
    CFile* f = ar.GetFile();
    ar.Flush();   // the archive's bytes first, so the copy lands after them
    ULONGLONG nWriteAt = f->GetPosition();
    BYTE head[kBlobFileHeaderBytes];
    // The copy must lie inside the frame area, which ends where the index begins.
    if (nAt > nWriteAt || nWriteAt - nAt < kBlobFileHeaderBytes || f->Seek((LONGLONG)nAt, CFile::begin) != nAt ||
        f->Read(head, kBlobFileHeaderBytes) != kBlobFileHeaderBytes)
        AfxThrowArchiveException(CArchiveException::endOfFile);
    if (LoadLe32(head) != kBlobFileMarker) AfxThrowArchiveException(CArchiveException::badIndex);
    const BlobFileCheck check = CheckBlobFileHeader(head, nWriteAt - nAt - kBlobFileHeaderBytes);
    if (check == kBlobFileTooLong) AfxThrowArchiveException(CArchiveException::badIndex);
    if (check == kBlobFilePastEnd) AfxThrowArchiveException(CArchiveException::endOfFile);
    *pWidth = (LONG)LoadLe32(head + JPEG_BLOB_OFS_WIDTH);
    *pHeight = (LONG)LoadLe32(head + JPEG_BLOB_OFS_HEIGHT);

    auto Put = [&](const BYTE* p, UINT n) {
        if (f->Seek((LONGLONG)nWriteAt, CFile::begin) != nWriteAt || f->Write(p, n) != n)
            AfxThrowArchiveException(CArchiveException::genericException);
        nWriteAt += n;
    };
    Put(head, kBlobFileHeaderBytes);
    const ULONGLONG nData = JpegBlobDataBytes(head);
    std::vector<BYTE> buf((size_t)std::min<ULONGLONG>(nData, 1u << 16));
    for (ULONGLONG nDone = 0; nDone < nData;) {
        const UINT n = (UINT)std::min<ULONGLONG>(nData - nDone, buf.size());
        const ULONGLONG nFrom = nAt + kBlobFileHeaderBytes + nDone;
        if (f->Seek((LONGLONG)nFrom, CFile::begin) != nFrom || f->Read(buf.data(), n) != n)
            AfxThrowArchiveException(CArchiveException::endOfFile);
        Put(buf.data(), n);
        nDone += n;
    }
}

ULONGLONG GetBlobFileBytes(HGLOBAL hBlob) {
    CLockedBlob b(hBlob);
    return b.Consistent() ? kBlobFileHeaderBytes + b.DataBytes() : 0;
}

BOOL WriteBlobToFile(CFile* pFile, HGLOBAL hBlob) {
    CLockedBlob b(hBlob);
    if (!b.Locked()) return Fail(ERROR_INVALID_HANDLE);
    if (!b.Consistent()) return Fail(ERROR_INVALID_DATA);
    BYTE marker[4];
    StoreLe32(marker, kBlobFileMarker);
    const UINT nHeader = kBlobFileHeaderBytes - 4, nData = (UINT)b.DataBytes();
    SetLastError(ERROR_SUCCESS);
    if (pFile->Write(marker, 4) != 4 || pFile->Write(b.Header(), nHeader) != nHeader ||
        pFile->Write(b.Data(), nData) != nData) {
        // The file's own reason (disk full, file-size limit); a short write
        // without one means the device took no more.
        const DWORD dwError = GetLastError();
        return Fail(dwError ? dwError : ERROR_DISK_FULL);
    }
    return TRUE;
}

BOOL ReadBlobFromFile(CFile* pFile, HGLOBAL* phOut) {
    if (!pFile || !phOut) return Fail(ERROR_INVALID_PARAMETER);
    const ULONGLONG nStart = pFile->GetPosition();
    SetLastError(ERROR_SUCCESS);
    const auto result = ReadFileForm(*pFile, phOut);
    // A read the system failed is no damage: its error stays.
    if (result != kBlobRead && IsIoFailure(GetLastError())) {
        const DWORD dwError = GetLastError();
        pFile->Seek((LONGLONG)nStart, CFile::begin);
        return Fail(dwError);
    }
    switch (result) {
    case kBlobRead: return TRUE;
    case kBlobShortMarker:
    case kBlobBadMarker:
        // Leave the file where the copy began, so the caller can look again.
        pFile->Seek((LONGLONG)nStart, CFile::begin);
        return Fail(ERROR_BAD_FORMAT);
    case kBlobTooLong:
    case kBlobPastEnd: return Fail(ERROR_INVALID_DATA);
    case kBlobNoMemory: return Fail(ERROR_NOT_ENOUGH_MEMORY);
    default: return Fail(ERROR_HANDLE_EOF);
    }
}

BOOL GetBlobDimensions(HGLOBAL hBlob, LONG* pWidth, LONG* pHeight) {
    CLockedBlob b(hBlob);
    if (!b.Locked() || GlobalSize(hBlob) < JPEG_BLOB_HEADER_BYTES) return Fail(ERROR_INVALID_HANDLE);
    *pWidth = b.Width();
    *pHeight = b.Height();
    return TRUE;
}
