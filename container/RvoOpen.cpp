// Opening an RVO file for reading: the header, then the index archive (modes
// 1-3) or the unbuffered handle and the frame-size table (modes 4 and 5).
// Every count, length and offset the file claims is checked against the file's
// size and the module's limits before it sizes an allocation or a read.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "container/IndexArchive.h"
#include "container/Limits.h"
#include "container/RvoFile.h"
#include "platform/Archive.h"
#include "platform/HostImageServices.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"

using namespace rvo;

// The size of record 0's image from the host, for files whose header lacks one.
void CRvoFile::QueryMissingSize() {
    // Uneven on purpose: a missing width is asked for only in image lists, a missing
    // height in every indexed mode, so existing files keep the size they report.
    if (!((m_header.m_nMode == ImageList && m_header.m_nWidth < 1) || m_header.m_nHeight < 1)) return;
    int p1 = 0, p2 = 0, nWidth = 0, nHeight = 0;
    if (g_pfnGetImgInfo && g_pfnGetImgInfo(GetEntry(0)->m_strName, &p1, &p2, &nWidth, &nHeight)) {
        m_header.m_nWidth = std::max(nWidth, -1);
        m_header.m_nHeight = std::max(nHeight, -1);
    } else {
        m_header.m_nWidth = -1;
        m_header.m_nHeight = -1;
    }
}

// Modes 1-3: every record of the index, with the blobs stored in it.
BOOL CRvoFile::ReadIndex(ULONGLONG nFileBytes) {
    const DWORD nCount = (DWORD)m_header.m_nEntryCount;
    // Even the smallest records must fit between the index offset and the end.
    if ((ULONGLONG)nCount * kMinIndexRecordBytes > nFileBytes - m_header.m_dwIndexOffset)
        return Fail(ERROR_INVALID_DATA);
    CArchive ar(m_pFile.get(), CArchive::load, 4096);
    m_index.SetSize((int)nCount);
    for (int i = 0; i < (int)nCount; i++) {
        RvoIndexEntry* e = new RvoIndexEntry;
        m_index.SetAt(i, e);
        ReadEntry(ar, *e);
    }
    QueryMissingSize();
    return TRUE;
}

// Modes 4 and 5: the unbuffered handle and the frame-size table.
BOOL CRvoFile::ReadSizeTable(const WCHAR* pszPath, ULONGLONG nFileBytes) {
    // Opened before the first handle closes, so that no writer can come in between.
    HANDLE h = CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD dwError = GetLastError();
    m_pFile->Close();
    m_pFile.reset();
    if (h == INVALID_HANDLE_VALUE) return Fail(dwError);
    m_store.m_hRawFile = h;

    // A set flag means the table was never placed by a seek: it is read where the handle starts.
    ULONGLONG nPos = 0;
    if (m_header.m_dwSizeTableFlag == 0)
        nPos = ((ULONGLONG)m_header.m_dwSizeTableOffsetHigh << 32) | m_header.m_dwSizeTableOffsetLow;
    const DWORD nBytes = m_header.m_dwSizeTableBytes;
    if (nBytes % 4 != 0 || nBytes > 4ull * kMaxEntries + kSectorBytes) return Fail(ERROR_INVALID_DATA);
    if (nPos > nFileBytes || nBytes > nFileBytes - nPos) return Fail(ERROR_INVALID_DATA);
    // Frame positions sum the table's first words: it must cover every frame.
    if (m_header.m_nMode == PackedFrames && nBytes / 4 < (DWORD)m_header.m_nEntryCount) return Fail(ERROR_INVALID_DATA);
    if (m_header.m_dwSizeTableFlag == 0 && SeekRaw(h, (LONGLONG)nPos, FILE_BEGIN) == -1) return FALSE;

    m_store.m_pFrameSizeTable.Reset(AllocAligned((size_t)nBytes + 4));
    m_store.m_nPlacedFrame = 0;
    m_store.m_nPlacedOffset = 0;
    if (!m_store.m_pFrameSizeTable) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    if (nBytes == 0) return TRUE;
    DWORD nRead = 0;
    if (!ReadFile(h, m_store.m_pFrameSizeTable, nBytes, &nRead, nullptr)) return FALSE;
    if (nRead != nBytes) return Fail(ERROR_HANDLE_EOF);
    return TRUE;
}

BOOL CRvoFile::ReadContents(const WCHAR* pszPath, UINT nOpenFlags) {
    m_pFile = std::make_unique<CFile>();
    if (!m_pFile->Open(pszPath, nOpenFlags, nullptr)) {
        // The system's reason (a writer has it, no such folder, access denied) goes to the caller.
        const DWORD dwError = GetLastError();
        m_pFile.reset();
        return Fail(dwError ? dwError : ERROR_FILE_NOT_FOUND);
    }
    // A length or header the system failed to give is no damage: its error is kept.
    SetLastError(ERROR_SUCCESS);
    const ULONGLONG nFileBytes = m_pFile->GetLength();
    if (IsIoFailure(GetLastError())) return FALSE;
    BYTE header[kHeaderBytes];
    if (m_pFile->Read(header, kHeaderBytes) != kHeaderBytes)
        return Fail(IsIoFailure(GetLastError()) ? GetLastError() : (DWORD)ERROR_BAD_FORMAT);
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return Fail(ERROR_BAD_FORMAT);
    m_header.LoadHeader(header);
    if (m_header.m_nEntryCount == 0) return TRUE;   // the header alone describes the file

    if ((DWORD)m_header.m_nEntryCount > kMaxEntries) return Fail(ERROR_INVALID_DATA);
    // The index or the first record follows the header: an offset inside it can only be damage.
    const DWORD nFirstAfter = IsRecordMode(m_header.m_nMode) ? kHeaderBlockBytes : kHeaderBytes;
    if (m_header.m_dwIndexOffset < nFirstAfter || m_header.m_dwIndexOffset > nFileBytes) return Fail(ERROR_INVALID_DATA);
    if (m_pFile->Seek((LONGLONG)m_header.m_dwIndexOffset, CFile::begin) != m_header.m_dwIndexOffset)
        return Fail(IsIoFailure(GetLastError()) ? GetLastError() : (DWORD)ERROR_INVALID_DATA);
    if (IsRecordMode(m_header.m_nMode)) return ReadSizeTable(pszPath, nFileBytes);
    return ReadIndex(nFileBytes);
}


BOOL CRvoFile::Open(const WCHAR* pszPath, UINT nOpenFlags) {
    Close(FALSE);
    if (nOpenFlags & CFile::modeCreate) return Fail(ERROR_INVALID_PARAMETER);
    BOOL bOk = FALSE;
    // A damaged index raises archive, array or allocation errors; none may reach the caller.
    try {
        bOk = ReadContents(pszPath, nOpenFlags);
    } catch (const CException&) {
        // An index that ends short is damage, unless the system failed the read.
        if (!IsIoFailure(GetLastError())) SetLastError(ERROR_INVALID_DATA);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::exception&) {
        SetLastError(ERROR_INVALID_DATA);
    }
    if (!bOk) {
        const DWORD dwError = GetLastError();
        Close(FALSE);   // never half-filled: no entries, no handle, the initial header
        return Fail(dwError ? dwError : ERROR_INVALID_DATA);
    }
    // The header's frame count is derived again, so it never exceeds what the entries or the table cover.
    GetFrameCount();
    m_bWriting = FALSE;
    return TRUE;
}

void CRvoFile::PrepareForReading() {
    // A JPEG file without pictures has no frame size: the refusal leaves the size unset.
    const SIZE size{m_header.m_nWidth, m_header.m_nHeight};
    SetFrameSize(&size);
    m_nOriginX = 0;
    m_nOriginY = 0;
    SetFirstFrame(0);
}

BOOL CRvoFile::OpenForReading(const WCHAR* pszPath) {
    if (!Open(pszPath, CFile::modeRead | CFile::shareDenyWrite)) return FALSE;
    PrepareForReading();
    return TRUE;
}
