// CRvoFile lifecycle: construction, reset, the header's byte form, the working
// frame size and the frame positions of the raw modes.
#include "container/RvoFile.h"

#include <climits>
#include <cstring>

#include "container/Limits.h"
#include "platform/ByteOrder.h"
#include "platform/Cpu.h"
#include "platform/LastError.h"
#include "platform/Memory.h"
#include "platform/RawFile.h"

using namespace rvo;

CRvoFile::CRvoFile() {
    Reset(TRUE);
    DetectSse2();
}

CRvoFile::~CRvoFile() { Reset(FALSE); }

BOOL CRvoFile::Reset(BOOL bInitial) {
    // A new object's parts hold their initial values already.
    if (!bInitial) {
        if (m_pFile) m_pFile->Close();
        m_pFile.reset();
        m_index.Clear();
        m_store.m_pFrameBuffer.Reset();
        m_store.m_pAuxBuffer.Reset();
        m_cache.Clear();
    }
    m_store.m_pFrameSizeTable.Reset();
    m_store.m_nPlacedFrame = 0;
    m_store.m_nPlacedOffset = 0;
    m_header = CRvoHeader{};
    m_nOriginX = 0;
    m_nOriginY = 0;
    // A width of 0 marks the working size unset; the height is left as it was, as is
    // what Close settles itself (the raw handle, the writing flag, the frame sizes).
    m_sizeFrame.cx = 0;
    return TRUE;
}

void CRvoFile::StoreHeaderBlock(BYTE out[512]) const {
    std::memset(out, 0, kHeaderBlockBytes);
    m_header.StoreHeader(out);
    if (!IsRecordMode(m_header.m_nMode) || m_sizeFrame.cx <= 0 || m_sizeFrame.cy <= 0) return;
    StoreLe32(out + kOffSizeRecordMagic, kFrameSizeRecordMagic);
    StoreLe32(out + kOffSizeRecordWidth, (DWORD)m_sizeFrame.cx);
    StoreLe32(out + kOffSizeRecordHeight, (DWORD)m_sizeFrame.cy);
    StoreLe32(out + kOffSizeRecordBytes, m_store.m_nFrameBytes);
}

BOOL CRvoFile::WriteHeaderBlock(DWORD* pnWritten) const {
    CAlignedBuffer<BYTE> p;
    p.Reset(AllocAligned(kHeaderBlockBytes));
    if (!p) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    StoreHeaderBlock(p);
    DWORD nWritten = 0;
    const BOOL bOk = WriteFile(m_store.m_hRawFile, p, kHeaderBlockBytes, &nWritten, nullptr);
    if (pnWritten) *pnWritten = nWritten;
    if (!bOk) return FALSE;
    if (nWritten != kHeaderBlockBytes) return Fail(ERROR_WRITE_FAULT);
    return TRUE;
}

BOOL CRvoFile::RewriteHeaderBlock() {
    if (!m_store.m_hRawFile || !IsRecordMode(m_header.m_nMode)) return Fail(ERROR_INVALID_HANDLE);
    const LONGLONG nPos = SeekRaw(m_store.m_hRawFile, 0, FILE_CURRENT);
    if (nPos == -1 || SeekRaw(m_store.m_hRawFile, 0, FILE_BEGIN) != 0) return FALSE;
    const BOOL bOk = WriteHeaderBlock(nullptr);
    const DWORD dwError = GetLastError();   // the seek back clears it
    if (SeekRaw(m_store.m_hRawFile, nPos, FILE_BEGIN) != nPos) return FALSE;
    return bOk ? TRUE : Fail(dwError ? dwError : ERROR_WRITE_FAULT);
}

BOOL CRvoFile::SetFrameSize(const SIZE* pSize) {
    // Sizes past the limits are refused like negative ones, so the buffers keep their size.
    if (!pSize || !FrameSizeAllowed(pSize->cx, pSize->cy)) return Fail(ERROR_INVALID_PARAMETER);
    m_store.m_pFrameBuffer.Reset();
    m_store.m_pAuxBuffer.Reset();
    m_sizeFrame = *pSize;

    const ULONGLONG nPixelBytes = 4ull * (ULONGLONG)pSize->cx * (ULONGLONG)pSize->cy;
    ULONGLONG nUnrounded = nPixelBytes, nBytes = nPixelBytes;
    const bool bRecords = IsRecordMode(m_header.m_nMode);
    if (m_header.m_nMode == PackedFrames) nUnrounded += 16;   // a record's header on top of the pixels
    if (bRecords) nBytes = RoundUp512_64(nUnrounded);
    m_store.m_nFrameBytes = (DWORD)nBytes;   // the limits keep it far below 4 GiB
    m_store.m_pFrameBuffer.Reset(AllocFrameBlock((size_t)nBytes));
    if (bRecords) m_store.m_pAuxBuffer.Reset(AllocFrameBlock((size_t)nBytes));
    if (!m_store.m_pFrameBuffer || (bRecords && !m_store.m_pAuxBuffer)) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    // A writer records the size before its first frame, so a file whose writer stops
    // before close can be rebuilt.
    if (bRecords && m_bWriting && m_store.m_hRawFile && GetEntryCount() == 0) return RewriteHeaderBlock();
    return TRUE;
}

int CRvoFile::GetFrameCount() {
    const int n = GetEntryCount();
    const bool bRecords = IsRecordMode(m_header.m_nMode);
    m_header.m_nFrameCount = 0;
    if (n == 0) {
        // A raw or packed file opened for reading has no entries: the header's count stands.
        if (bRecords) m_header.m_nFrameCount = m_header.m_nEntryCount;
    } else if (bRecords) {
        m_header.m_nFrameCount = n;
    } else {
        // The last entry alone gives the count: entries are kept in frame order.
        const RvoIndexEntry* e = GetEntry(n - 1);
        LONGLONG nCount = (e->m_nLastFrame != 0 && e->m_nLastFrame != -1) ? (LONGLONG)e->m_nLastFrame + 1
                                                                          : (LONGLONG)e->m_nStartFrame + 1;
        // A damaged record may claim any frame number; the count stays a valid, non-negative int.
        if (nCount < 0) nCount = 0;
        if (nCount > INT_MAX) nCount = INT_MAX;
        m_header.m_nFrameCount = (LONG)nCount;
    }
    return m_header.m_nFrameCount;
}

BOOL CRvoFile::SetFirstFrame(int n) {
    m_nFirstFrame = n;
    return SeekToFrame((unsigned)n);
}

BOOL CRvoFile::SeekToFrame(unsigned i) {
    if (i >= (unsigned)m_header.m_nFrameCount) return Fail(ERROR_INVALID_PARAMETER);
    ULONGLONG nPos;
    if (m_header.m_nMode == PackedFrames) {
        // The table holds at least m_header.m_nFrameCount words (Open checks it), so i words can be summed.
        if (!m_store.m_pFrameSizeTable || i > m_header.m_dwSizeTableBytes / 4) return Fail(ERROR_INVALID_PARAMETER);
        // Walk from the last record placed or from the first, whichever is nearer.
        const DWORD* pSizes = m_store.m_pFrameSizeTable;
        unsigned k = m_store.m_nPlacedFrame;
        ULONGLONG nOffset = m_store.m_nPlacedOffset;
        if (k > i && k - i > i) {
            k = 0;
            nOffset = 0;
        }
        for (; k < i; k++) nOffset += pSizes[k];
        for (; k > i; k--) nOffset -= pSizes[k - 1];
        m_store.m_nPlacedFrame = i;
        m_store.m_nPlacedOffset = nOffset;
        nPos = m_header.m_dwIndexOffset + nOffset;
    } else if (m_header.m_nMode == RawFrames) {
        nPos = (ULONGLONG)m_header.m_dwIndexOffset + (ULONGLONG)i * m_store.m_nFrameBytes;
    } else {
        return TRUE;
    }
    return SeekRaw(m_store.m_hRawFile, (LONGLONG)nPos, FILE_BEGIN) == -1 ? FALSE : TRUE;
}

DWORD CRvoFile::RecordBytesAt(unsigned i) const {
    if (m_header.m_nMode == RawFrames) return m_store.m_nFrameBytes;
    if (m_header.m_nMode != PackedFrames || !m_store.m_pFrameSizeTable || i >= m_header.m_dwSizeTableBytes / 4) return 0;
    return m_store.m_pFrameSizeTable[i];
}

LONGLONG SeekRaw(HANDLE h, LONGLONG distance, DWORD dwMethod) {
    LONG nHigh = (LONG)((ULONGLONG)distance >> 32);
    const DWORD dwLow = SetFilePointer(h, (LONG)(DWORD)distance, &nHigh, dwMethod);
    // A low half of all ones is a real position unless an error code came with it.
    if (dwLow == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return -1;
    return (LONGLONG)(((ULONGLONG)(DWORD)nHigh << 32) | dwLow);
}
