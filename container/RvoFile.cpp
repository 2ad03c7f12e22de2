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

CRvoFile::~CRvoFile() {
    Reset(FALSE);
    // A failed Open or Create can leave the raw handle behind; it must not outlive the object.
    if (m_hRawFile) CloseHandle(m_hRawFile);
    m_hRawFile = nullptr;
}

BOOL CRvoFile::Reset(BOOL bInitial) {
    // A new object's members hold their initial values already; the header's are set below.
    if (!bInitial) {
        if (m_pFile) m_pFile->Close();
        m_pFile.reset();
        for (int i = 0; i < m_arrEntries.GetSize(); i++) delete GetEntry(i);
        m_arrEntries.RemoveAll();
        m_pFrameBuffer.Reset();
        m_pAuxBuffer.Reset();
        m_cache.Clear();
    }
    m_pFrameSizeTable.Reset();
    std::memcpy(m_szMagic, kMagic, sizeof m_szMagic);
    m_dwIndexOffset = kHeaderBytes;
    m_nEntryCount = 0;
    m_nFrameCount = 0;
    m_nMode = ImageList;
    m_nWidth = 0;
    m_nHeight = 0;
    m_dwReserved32 = 0;
    m_dwReserved36 = 0;
    m_dwSizeTableFlag = 0;
    m_dwSizeTableBytes = 0;
    m_dwSizeTableOffsetHigh = 0;
    m_dwSizeTableOffsetLow = 0;
    std::memset(m_abReserved, 0, sizeof m_abReserved);
    m_nOriginX = 0;
    m_nOriginY = 0;
    // A width of 0 marks the working size unset; the height is left as it was, as is
    // what Close settles itself (the raw handle, the writing flag, the frame sizes).
    m_sizeFrame.cx = 0;
    return TRUE;
}

void CRvoFile::StoreHeader(BYTE out[160]) const {
    std::memcpy(out + kOffMagic, m_szMagic, 8);
    StoreLe32(out + kOffIndexOffset, m_dwIndexOffset);
    StoreLe32(out + kOffEntryCount, (DWORD)m_nEntryCount);
    StoreLe32(out + kOffFrameCount, (DWORD)m_nFrameCount);
    StoreLe32(out + kOffMode, (DWORD)m_nMode);
    StoreLe32(out + kOffWidth, (DWORD)m_nWidth);
    StoreLe32(out + kOffHeight, (DWORD)m_nHeight);
    StoreLe32(out + kOffReserved32, m_dwReserved32);
    StoreLe32(out + kOffReserved36, m_dwReserved36);
    StoreLe32(out + kOffSizeTableFlag, m_dwSizeTableFlag);
    StoreLe32(out + kOffSizeTableBytes, m_dwSizeTableBytes);
    StoreLe32(out + kOffSizeTableOffsetHigh, m_dwSizeTableOffsetHigh);
    StoreLe32(out + kOffSizeTableOffsetLow, m_dwSizeTableOffsetLow);
    std::memcpy(out + kOffReserved, m_abReserved, sizeof m_abReserved);
}

void CRvoFile::StoreHeaderBlock(BYTE out[512]) const {
    std::memset(out, 0, kHeaderBlockBytes);
    StoreHeader(out);
    if (!IsRecordMode(m_nMode) || m_sizeFrame.cx <= 0 || m_sizeFrame.cy <= 0) return;
    StoreLe32(out + kOffSizeRecordMagic, kFrameSizeRecordMagic);
    StoreLe32(out + kOffSizeRecordWidth, (DWORD)m_sizeFrame.cx);
    StoreLe32(out + kOffSizeRecordHeight, (DWORD)m_sizeFrame.cy);
    StoreLe32(out + kOffSizeRecordBytes, m_nFrameBytes);
}

BOOL CRvoFile::WriteHeaderBlock(DWORD* pnWritten) const {
    CAlignedBuffer<BYTE> p;
    p.Reset(AllocAligned(kHeaderBlockBytes));
    if (!p) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    StoreHeaderBlock(p);
    DWORD nWritten = 0;
    const BOOL bOk = WriteFile(m_hRawFile, p, kHeaderBlockBytes, &nWritten, nullptr);
    if (pnWritten) *pnWritten = nWritten;
    if (!bOk) return FALSE;
    if (nWritten != kHeaderBlockBytes) return Fail(ERROR_WRITE_FAULT);
    return TRUE;
}

BOOL CRvoFile::RewriteHeaderBlock() {
    if (!m_hRawFile || !IsRecordMode(m_nMode)) return Fail(ERROR_INVALID_HANDLE);
    const LONGLONG nPos = SeekRaw(m_hRawFile, 0, FILE_CURRENT);
    if (nPos == -1 || SeekRaw(m_hRawFile, 0, FILE_BEGIN) != 0) return FALSE;
    const BOOL bOk = WriteHeaderBlock(nullptr);
    if (SeekRaw(m_hRawFile, nPos, FILE_BEGIN) != nPos) return FALSE;
    return bOk;
}

void CRvoFile::LoadHeader(const BYTE in[160]) {
    std::memcpy(m_szMagic, in + kOffMagic, 8);
    m_dwIndexOffset = LoadLe32(in + kOffIndexOffset);
    m_nEntryCount = (LONG)LoadLe32(in + kOffEntryCount);
    m_nFrameCount = (LONG)LoadLe32(in + kOffFrameCount);
    m_nMode = (LONG)LoadLe32(in + kOffMode);
    m_nWidth = (LONG)LoadLe32(in + kOffWidth);
    m_nHeight = (LONG)LoadLe32(in + kOffHeight);
    m_dwReserved32 = LoadLe32(in + kOffReserved32);
    m_dwReserved36 = LoadLe32(in + kOffReserved36);
    m_dwSizeTableFlag = LoadLe32(in + kOffSizeTableFlag);
    m_dwSizeTableBytes = LoadLe32(in + kOffSizeTableBytes);
    m_dwSizeTableOffsetHigh = LoadLe32(in + kOffSizeTableOffsetHigh);
    m_dwSizeTableOffsetLow = LoadLe32(in + kOffSizeTableOffsetLow);
    std::memcpy(m_abReserved, in + kOffReserved, sizeof m_abReserved);
}

void CRvoFile::SetFrameSize(const SIZE* pSize) {
    // Sizes past the limits are refused like negative ones, so the buffers keep their size.
    if (!pSize || !FrameSizeAllowed(pSize->cx, pSize->cy)) return;
    m_pFrameBuffer.Reset();
    m_pAuxBuffer.Reset();
    m_sizeFrame = *pSize;

    const ULONGLONG nPixelBytes = 4ull * (ULONGLONG)pSize->cx * (ULONGLONG)pSize->cy;
    ULONGLONG nUnrounded = nPixelBytes, nBytes = nPixelBytes;
    const bool bRecords = IsRecordMode(m_nMode);
    if (m_nMode == PackedFrames) nUnrounded += 16;   // a record's header on top of the pixels
    if (bRecords) nBytes = RoundUp512_64(nUnrounded);
    m_nFrameBytes = (DWORD)nBytes;   // the limits keep it far below 4 GiB
    m_pFrameBuffer.Reset(AllocFrameBlock((size_t)nBytes));
    if (bRecords) m_pAuxBuffer.Reset(AllocFrameBlock((size_t)nBytes));
    // A writer records the size before its first frame, so a file whose writer stops
    // before close can be rebuilt. Should that write fail, rebuilding needs the size given.
    if (bRecords && m_bWriting && m_hRawFile && GetEntryCount() == 0) RewriteHeaderBlock();
}

int CRvoFile::GetFrameCount() {
    const int n = GetEntryCount();
    const bool bRecords = IsRecordMode(m_nMode);
    m_nFrameCount = 0;
    if (n == 0) {
        // A raw or packed file opened for reading has no entries: the header's count stands.
        if (bRecords) m_nFrameCount = m_nEntryCount;
    } else if (bRecords) {
        m_nFrameCount = n;
    } else {
        // The last entry alone gives the count: entries are kept in frame order.
        const RvoIndexEntry* e = GetEntry(n - 1);
        LONGLONG nCount = (e->m_nLastFrame != 0 && e->m_nLastFrame != -1) ? (LONGLONG)e->m_nLastFrame + 1
                                                                          : (LONGLONG)e->m_nStartFrame + 1;
        // A damaged record may claim any frame number; the count stays a valid, non-negative int.
        if (nCount < 0) nCount = 0;
        if (nCount > INT_MAX) nCount = INT_MAX;
        m_nFrameCount = (LONG)nCount;
    }
    return m_nFrameCount;
}

BOOL CRvoFile::SetFirstFrame(int n) {
    m_nFirstFrame = n;
    return SeekToFrame((unsigned)n);
}

BOOL CRvoFile::SeekToFrame(unsigned i) {
    if (i >= (unsigned)m_nFrameCount) return Fail(ERROR_INVALID_PARAMETER);
    ULONGLONG nPos;
    if (m_nMode == PackedFrames) {
        // The table holds at least m_nFrameCount words (Open checks it), so i words can be summed.
        if (!m_pFrameSizeTable || i > m_dwSizeTableBytes / 4) return Fail(ERROR_INVALID_PARAMETER);
        nPos = m_dwIndexOffset;
        for (unsigned k = 0; k < i; k++) nPos += m_pFrameSizeTable[k];
    } else if (m_nMode == RawFrames) {
        nPos = (ULONGLONG)m_dwIndexOffset + (ULONGLONG)i * m_nFrameBytes;
    } else {
        return TRUE;
    }
    return SeekRaw(m_hRawFile, (LONGLONG)nPos, FILE_BEGIN) == -1 ? FALSE : TRUE;
}

LONGLONG SeekRaw(HANDLE h, LONGLONG distance, DWORD dwMethod) {
    LONG nHigh = (LONG)((ULONGLONG)distance >> 32);
    const DWORD dwLow = SetFilePointer(h, (LONG)(DWORD)distance, &nHigh, dwMethod);
    // A low half of all ones is a real position unless an error code came with it.
    if (dwLow == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return -1;
    return (LONGLONG)(((ULONGLONG)(DWORD)nHigh << 32) | dwLow);
}
