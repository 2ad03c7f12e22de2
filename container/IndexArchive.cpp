// Index records: written at close, read at open.
#include "container/IndexArchive.h"

#include <new>

#include "container/BlobFile.h"
#include "container/Limits.h"
#include "container/RvoFormat.h"

void WriteEntry(CArchive& ar, const RvoIndexEntry& e, bool bFrameAreaBlob, LONG* pnMaxWidth, LONG* pnMaxHeight) {
    const bool bFromFile = bFrameAreaBlob && !e.m_hBlob && e.m_dwBlobOffset != 0 &&
                           !(e.m_dwFlags & rvo::kEntryFlagBlobNotStored);
    ar << e.m_dwReserved0 << e.m_nKind;
    ar << e.m_strName;
    ar << e.m_dwReserved12 << e.m_dwReserved16 << e.m_nStartFrame << e.m_nLastFrame << e.m_dwFlags;
    ar << (DWORD)(e.m_hBlob || bFromFile ? 1 : 0);
    if (e.m_hBlob) WriteBlob(ar, e.m_hBlob);
    if (bFromFile) {
        LONG w = 0, h = 0;
        WriteBlobFromFile(ar, e.m_dwBlobOffset, &w, &h);
        if (pnMaxWidth && w > *pnMaxWidth) *pnMaxWidth = w;
        if (pnMaxHeight && h > *pnMaxHeight) *pnMaxHeight = h;
    }
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
    if (dwBlobFlag) SkipBlob(ar, &e.m_nIndexBlobAt, &e.m_dwIndexBlobBytes);
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
