// Picture blobs in their file form: written at close, read back from the index
// archive or straight from the frame area, both readers through one header check.
#include "container/BlobFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "container/Limits.h"
#include "platform/ByteReader.h"
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
    // The header is there.
    bool HasHeader() const { return m_bHeader; }
    // The header and both streams lie inside the block.
    bool Consistent() const {
        return m_bHeader && (ULONGLONG)JPEG_BLOB_HEADER_BYTES + DataBytes() <= GlobalSize(m_h);
    }
    const BYTE* Header() const { return m_p + JPEG_BLOB_OFS_WIDTH; }   // the 16 bytes after the magic
    const BYTE* Data() const { return m_p + JPEG_BLOB_HEADER_BYTES; }
    ULONGLONG DataBytes() const { return m_head.DataBytes(); }
    LONG Width() const { return m_head.width; }
    LONG Height() const { return m_head.height; }

private:
    HGLOBAL m_h;
    BYTE* m_p;
    JpegBlobHeader m_head = {};
    bool m_bHeader = m_p && ReadJpegBlobHeader(m_p, GlobalSize(m_h), &m_head);
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

// The frame area up to where the index archive is being written: a copy read
// from it must end there.
struct CFrameArea {
    CFile& f;
    ULONGLONG nEnd;
};

// The places a file form is read from: bytes read (fewer only at the end), and bytes left.
UINT ReadSome(CArchive& ar, BYTE* p, UINT n) { return ar.Read(p, n); }
UINT ReadSome(CFile& f, BYTE* p, UINT n) { return f.Read(p, n); }
ULONGLONG BytesLeft(CArchive& ar) { return ar.BytesLeft(); }
ULONGLONG BytesLeft(CFile& f) {
    const ULONGLONG nPos = f.GetPosition(), nLength = f.GetLength();
    return nPos > nLength ? 0 : nLength - nPos;
}
ULONGLONG BytesLeft(CFrameArea& a) {
    const ULONGLONG nPos = a.f.GetPosition();
    return nPos > a.nEnd ? 0 : a.nEnd - nPos;
}
UINT ReadSome(CFrameArea& a, BYTE* p, UINT n) { return a.f.Read(p, (UINT)std::min<ULONGLONG>(n, BytesLeft(a))); }

// Reads and checks a file form's header: the marker first (so that a caller
// can tell a wrong place from a damaged copy), then the stream lengths
// against the limit and the bytes that follow.
template <class Source>
BlobRead ReadFileFormHeader(Source& src, BYTE (&head)[kBlobFileHeaderBytes], JpegBlobHeader* pHead) {
    if (ReadSome(src, head, 4) != 4) return kBlobShortMarker;
    if (!HasBlobFileMarker(head)) return kBlobBadMarker;
    if (ReadSome(src, head + 4, kBlobFileHeaderBytes - 4) != kBlobFileHeaderBytes - 4) return kBlobShortHeader;
    ReadJpegBlobHeader(head, kBlobFileHeaderBytes, pHead);
    switch (CheckBlobFileHeader(*pHead, BytesLeft(src))) {
    case kBlobFileTooLong: return kBlobTooLong;
    case kBlobFilePastEnd: return kBlobPastEnd;
    default: return kBlobRead;
    }
}

// Reads one file form into a new block in the in-memory layout.
template <class Source>
BlobRead ReadFileForm(Source& src, HGLOBAL* phOut) {
    BYTE head[kBlobFileHeaderBytes];
    JpegBlobHeader h;
    const BlobRead r = ReadFileFormHeader(src, head, &h);
    if (r != kBlobRead) return r;

    const ULONGLONG nData = h.DataBytes();
    HGLOBAL hBlock = GlobalAlloc(GMEM_MOVEABLE, (size_t)JpegBlobBlockBytes(h.colourBytes, h.alphaBytes));
    if (!hBlock) return kBlobNoMemory;
    CBlockGuard owner(hBlock);
    BYTE* p = static_cast<BYTE*>(GlobalLock(hBlock));
    if (!p) return kBlobNoMemory;
    StoreLe32(p + JPEG_BLOB_OFS_MAGIC, JPEG_BLOB_MAGIC);
    std::memcpy(p + JPEG_BLOB_OFS_WIDTH, head + JPEG_BLOB_OFS_WIDTH, kBlobFileHeaderBytes - 4);
    std::memset(p + JPEG_BLOB_HEADER_BYTES + nData, 0, JPEG_BLOB_TAIL_BYTES);
    const bool bRead = ReadSome(src, p + JPEG_BLOB_HEADER_BYTES, (UINT)nData) == nData;
    const DWORD dwReadError = GetLastError();   // GlobalUnlock clears it
    GlobalUnlock(hBlock);
    SetLastError(dwReadError);
    if (!bRead) return kBlobShortData;
    *phOut = owner.Release();
    return kBlobRead;
}

// How the archive's readers report a file form that did not read.
[[noreturn]] void ThrowForBlobRead(BlobRead r) {
    switch (r) {
    case kBlobBadMarker:
    case kBlobTooLong: AfxThrowArchiveException(CArchiveException::badIndex);
    case kBlobNoMemory: AfxThrowMemoryException();
    default: AfxThrowArchiveException(CArchiveException::endOfFile);
    }
}

}   // namespace

bool HasBlobFileMarker(const BYTE* p) { return CByteReader(p, 4).ReadU32LE() == kBlobFileMarker; }

BlobFileCheck CheckBlobFileHeader(const JpegBlobHeader& h, ULONGLONG nBytesAfter) {
    const ULONGLONG nData = h.DataBytes();
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
    const BlobRead r = ReadFileForm(ar, &h);
    if (r != kBlobRead) ThrowForBlobRead(r);
    return h;
}

void SkipBlob(CArchive& ar, ULONGLONG* pnAt, DWORD* pnBytes) {
    const ULONGLONG nAt = ar.GetPosition();
    BYTE head[kBlobFileHeaderBytes];
    JpegBlobHeader h;
    const BlobRead r = ReadFileFormHeader(ar, head, &h);
    if (r != kBlobRead) ThrowForBlobRead(r);
    ar.Skip(h.DataBytes());
    *pnAt = nAt;
    *pnBytes = (DWORD)(kBlobFileHeaderBytes + h.DataBytes());   // the limit keeps it far below 4 GiB
}

void WriteBlobFromFile(CArchive& ar, ULONGLONG nAt, LONG* pWidth, LONG* pHeight) {
    CFile* f = ar.GetFile();
    ar.Flush();   // the archive's bytes first, so the copy lands after them
    ULONGLONG nWriteAt = f->GetPosition();
    // The copy must lie inside the frame area, which ends where the index begins.
    CFrameArea area{*f, nWriteAt};
    if (nAt > nWriteAt || f->Seek((LONGLONG)nAt, CFile::begin) != nAt) AfxThrowArchiveException(CArchiveException::endOfFile);
    BYTE head[kBlobFileHeaderBytes];
    JpegBlobHeader h;
    const BlobRead r = ReadFileFormHeader(area, head, &h);
    if (r != kBlobRead) ThrowForBlobRead(r);
    *pWidth = h.width;
    *pHeight = h.height;

    auto Put = [&](const BYTE* p, UINT n) {
        if (f->Seek((LONGLONG)nWriteAt, CFile::begin) != nWriteAt || f->Write(p, n) != n)
            AfxThrowArchiveException(CArchiveException::genericException);
        nWriteAt += n;
    };
    Put(head, kBlobFileHeaderBytes);
    const ULONGLONG nData = h.DataBytes();
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
    if (!b.HasHeader()) return Fail(ERROR_INVALID_HANDLE);
    *pWidth = b.Width();
    *pHeight = b.Height();
    return TRUE;
}
