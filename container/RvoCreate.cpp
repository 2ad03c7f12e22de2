// Writing an RVO file: creation with the initial header, and at close the
// frame-size table (mode 5), the blobs and the index archive (modes 1-3) and
// the final header.
#include <memory>
#include <new>

#include "container/BlobFile.h"
#include "container/IndexArchive.h"
#include "container/RvoFile.h"
#include "platform/Archive.h"
#include "platform/ByteOrder.h"
#include "platform/HostImageServices.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"

using namespace rvo;

// Mode 5: each record's size, zero padded to a multiple of 512, right after the last record.
BOOL CRvoFile::WriteSizeTable() {
    const LONGLONG nPos = SeekRaw(m_store.m_hRawFile, 0, FILE_CURRENT);
    if (nPos == -1) return FALSE;
    const int nFrames = m_store.m_arrFrameSizes.GetSize();
    const ULONGLONG nTable = RoundUp512_64(4ull * (ULONGLONG)nFrames);
    if (nTable > 0xFFFFFFFFull) return Fail(ERROR_ARITHMETIC_OVERFLOW);
    DWORD nWritten = 0;
    BOOL bOk = TRUE;
    if (nTable) {
        CAlignedBuffer<BYTE> p;
        p.Reset(AllocAligned((size_t)nTable));
        if (!p) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        for (int i = 0; i < nFrames; i++) StoreLe32(p + 4 * (size_t)i, m_store.m_arrFrameSizes.GetAt(i));
        bOk = WriteFile(m_store.m_hRawFile, p, (DWORD)nTable, &nWritten, nullptr);
    }
    m_header.m_dwSizeTableBytes = nWritten;
    m_header.m_dwSizeTableOffsetHigh = (DWORD)((ULONGLONG)nPos >> 32);
    m_header.m_dwSizeTableOffsetLow = (DWORD)nPos;
    if (!bOk) return FALSE;
    if (nWritten != nTable) return Fail(ERROR_WRITE_FAULT);
    return TRUE;
}

// Modes 4 and 5: the final header block; the file ends where the last write ended.
BOOL CRvoFile::FinalizeRecords(int nFrames) {
    if (!m_store.m_hRawFile) return Fail(ERROR_INVALID_HANDLE);
    m_header.m_nWidth = m_sizeFrame.cx;
    m_header.m_nHeight = m_sizeFrame.cy;
    m_header.m_nEntryCount = m_header.m_nFrameCount = nFrames;
    const LONGLONG nEnd = SeekRaw(m_store.m_hRawFile, 0, FILE_CURRENT);
    if (nEnd == -1 || SeekRaw(m_store.m_hRawFile, 0, FILE_BEGIN) != 0) return FALSE;
    if (!WriteHeaderBlock(nullptr)) return FALSE;
    // Create opens an existing file without truncating it: bytes of the old file past the new end go.
    if (SeekRaw(m_store.m_hRawFile, nEnd, FILE_BEGIN) != nEnd) return FALSE;
    return SetEndOfFile(m_store.m_hRawFile);
}

// Modes 1-3: the index archive after the frame area, then the header. The
// writer stored each frame's blob in the frame area as it arrived, so the frame
// area ends at m_header.m_dwIndexOffset; a blob an entry still holds in memory goes
// there now. Each record carries a second copy of its blob, streamed back
// from the frame area.
BOOL CRvoFile::FinalizeIndex() {
    if (!m_pFile) return Fail(ERROR_INVALID_HANDLE);
    if (m_pFile->Seek(m_header.m_dwIndexOffset, CFile::begin) != m_header.m_dwIndexOffset) {
        Close(FALSE);
        return Fail(ERROR_WRITE_FAULT);
    }
    LONG nMaxWidth = -1, nMaxHeight = -1;
    auto takeMax = [&](LONG w, LONG h) {
        if (w > nMaxWidth) nMaxWidth = w;
        if (h > nMaxHeight) nMaxHeight = h;
    };
    const int nEntries = GetEntryCount();
    for (int i = 0; i < nEntries; i++) {
        RvoIndexEntry* e = GetEntry(i);
        if (m_header.m_nMode == ImageList) {
            int p1 = 0, p2 = 0, w = 0, h = 0;
            if (g_pfnGetImgInfo && g_pfnGetImgInfo(e->m_strName, &p1, &p2, &w, &h)) takeMax(w, h);
            continue;
        }
        // An entry without a picture keeps its flags: nothing of it is in the frame area.
        if (!e->m_hBlob) continue;
        // Record offsets are 32-bit: a frame area past 4 GiB cannot be described.
        // The position is asked with a seek, which says when the system refuses.
        const ULONGLONG nAt = m_pFile->Seek(0, CFile::current);
        if (nAt > 0xFFFFFFFFull) {
            const DWORD dwError = nAt == (ULONGLONG)-1 ? GetLastError() : (DWORD)ERROR_ARITHMETIC_OVERFLOW;
            Close(FALSE);
            return Fail(dwError ? dwError : ERROR_WRITE_FAULT);
        }
        e->m_dwBlobOffset = (DWORD)nAt;
        if (!WriteBlobToFile(m_pFile.get(), e->m_hBlob)) {
            const DWORD dwError = GetLastError();
            Close(FALSE);
            return Fail(dwError);
        }
        LONG w, h;
        if (GetBlobDimensions(e->m_hBlob, &w, &h)) takeMax(w, h);
        e->m_dwFlags &= ~kEntryFlagBlobNotStored;
    }
    const ULONGLONG nIndex = m_pFile->Seek(0, CFile::current);
    if (nIndex > 0xFFFFFFFFull) {
        const DWORD dwError = nIndex == (ULONGLONG)-1 ? GetLastError() : (DWORD)ERROR_ARITHMETIC_OVERFLOW;
        Close(FALSE);
        return Fail(dwError ? dwError : ERROR_WRITE_FAULT);
    }
    m_header.m_dwIndexOffset = (DWORD)nIndex;
    {
        CArchive ar(m_pFile.get(), CArchive::store, 4096);
        const bool bFrameArea = m_header.m_nMode != ImageList;
        for (int i = 0; i < nEntries; i++) WriteEntry(ar, *GetEntry(i), bFrameArea, &nMaxWidth, &nMaxHeight);
        ar.Flush();
    }
    m_header.m_nWidth = nMaxWidth;
    m_header.m_nHeight = nMaxHeight;
    m_header.m_nEntryCount = nEntries;
    GetFrameCount();
    BYTE header[kHeaderBytes];
    m_header.StoreHeader(header);
    if (m_pFile->Seek(0, CFile::begin) != 0 || m_pFile->Write(header, kHeaderBytes) != kHeaderBytes)
        return Fail(GetLastError() ? GetLastError() : (DWORD)ERROR_WRITE_FAULT);
    m_pFile->Flush();
    return TRUE;
}

BOOL CRvoFile::Create(const WCHAR* pszPath, LONG nMode, const SIZE* pSize) {
    Close(FALSE);
    m_header.m_nMode = nMode;
    if (IsRecordMode(m_header.m_nMode)) {
        // Read access too: a transfer that does not fit the volume's sectors reads the sectors around it.
        HANDLE h = CreateFileW(pszPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return FALSE;
        // An existing file is emptied before the first write: should the writer
        // stop before closing, nothing of the old movie may lie after the new
        // frames, where recovery would take it for frames of this one.
        if (!SetEndOfFile(h)) {
            const DWORD dwError = GetLastError();
            CloseHandle(h);
            return Fail(dwError);
        }
        m_store.m_hRawFile = h;
        if (m_header.m_nMode == PackedFrames) m_header.m_dwSizeTableFlag = 0;
        m_store.m_arrFrameSizes.RemoveAll();
        m_store.m_arrFrameSizes.SetSize(0, 1000);
        DWORD nWritten = 0;
        if (!WriteHeaderBlock(&nWritten)) {
            const DWORD dwError = GetLastError();
            CloseHandle(m_store.m_hRawFile);
            m_store.m_hRawFile = nullptr;
            return Fail(dwError);
        }
        m_header.m_dwIndexOffset = nWritten;
    } else {
        m_pFile = std::make_unique<CFile>();
        if (!m_pFile->Open(pszPath, CFile::modeCreate | CFile::modeReadWrite, nullptr)) {
            // The system's reason (a reader or another writer has it, no such folder, disk full) goes to the caller.
            const DWORD dwError = GetLastError();
            m_pFile.reset();
            return Fail(dwError ? dwError : ERROR_ACCESS_DENIED);
        }
        BYTE header[kHeaderBytes];
        m_header.StoreHeader(header);
        SetLastError(ERROR_SUCCESS);
        if (m_pFile->Write(header, kHeaderBytes) != kHeaderBytes) {
            const DWORD dwError = GetLastError();   // the system's reason (disk full) when it gave one
            m_pFile.reset();                        // its destructor closes it
            return Fail(dwError ? dwError : ERROR_WRITE_FAULT);
        }
        m_header.m_dwIndexOffset = kHeaderBytes;
    }
    m_bWriting = TRUE;
    if (pSize && !SetFrameSize(pSize)) {
        const DWORD dwError = GetLastError();
        Close(FALSE);
        return Fail(dwError ? dwError : ERROR_INVALID_PARAMETER);
    }
    return TRUE;
}

BOOL CRvoFile::Finalize() {
    SetLastError(ERROR_SUCCESS);
    if (IsRecordMode(m_header.m_nMode)) return FinalizeRecords(GetEntryCount());
    // The archive raises on a blob it cannot lock or a file that takes less; that is a failed close, not a crash.
    try {
        return FinalizeIndex();
    } catch (const CException&) {
        // The archive's write failed: the system's reason (disk full) when it left one.
        const DWORD dwError = GetLastError();
        return Fail(dwError ? dwError : ERROR_WRITE_FAULT);
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

BOOL CRvoFile::Close(BOOL bFinalize) {
    // The file is closed and the object reset whatever fails on the way; the
    // first failure of a file being written is the result, its error the last
    // error. Closing a file that was only read cannot fail.
    const bool bWriting = m_bWriting;
    BOOL bResult = TRUE;
    DWORD dwError = ERROR_SUCCESS;
    auto note = [&](BOOL bOk) {
        if (bOk || !bResult) return;
        bResult = FALSE;
        dwError = GetLastError() ? GetLastError() : (DWORD)ERROR_WRITE_FAULT;
    };
    if (m_pFile) {
        if (bFinalize && bWriting) note(Finalize());
        if (m_pFile) {   // a failed Finalize may have closed it already
            const BOOL bClosed = m_pFile->Close();
            if (bWriting) note(bClosed);
            m_pFile.reset();
        }
    }
    if (m_store.m_hRawFile) {
        // Only a file being written gets a table; without one the header keeps the count it had.
        bool bTableOk = true;
        if (m_header.m_nMode == PackedFrames && bWriting) note(bTableOk = WriteSizeTable());
        if (bTableOk && bFinalize && bWriting) note(Finalize());
        const BOOL bClosed = CloseHandle(m_store.m_hRawFile);
        if (bWriting) note(bClosed);
        m_store.m_hRawFile = nullptr;
    }
    m_bWriting = FALSE;
    Reset(FALSE);
    if (!bResult) SetLastError(dwError);
    return bResult;
}
