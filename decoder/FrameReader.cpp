// Frame reader: finds the index entry or stored record that shows a frame and
// expands it into a destination area (raw and packed records here, index
// entries through the entry picture rebuild).
#include <algorithm>

#include "container/Limits.h"
#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "decoder/PackedDecode.h"
#include "pixels/PixelRows.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"

using namespace rvo;

namespace {

// The last frame an entry covers: its start frame alone when m_nLastFrame is 0 or -1.
inline DWORD EntryLastFrame(const RvoIndexEntry* e) {
    return (e->m_nLastFrame == 0 || e->m_nLastFrame == -1) ? (DWORD)e->m_nStartFrame : (DWORD)e->m_nLastFrame;
}

inline bool IsRun(const RvoIndexEntry* e) { return e->m_nLastFrame != 0 && e->m_nLastFrame != -1; }

// The part of a cx x cy frame that a destination takes: rows limited to its
// height, each row to its width (the rectangle's, never more than the stride).
struct FrameFit {
    LONG nCols;
    LONG nRows;
};

FrameFit FitFrame(LONG cx, LONG cy, int nDstStride, int nDstHeight, int nDstWidth) {
    const LONG nWidth = nDstWidth < 0 ? nDstStride : std::min(nDstWidth, nDstStride);
    FrameFit fit;
    fit.nCols = std::max<LONG>(0, std::min(cx, nWidth));
    fit.nRows = std::max<LONG>(0, std::min(cy, (LONG)nDstHeight));
    return fit;
}

// Reads exactly nBytes from the raw file. FALSE with a last error: the
// system's when the read failed (the file may be whole), ERROR_HANDLE_EOF when
// it ended short (a damaged or cut file).
BOOL ReadExactly(HANDLE h, void* p, DWORD nBytes) {
    DWORD nRead = 0;
    if (!ReadFile(h, p, nBytes, &nRead, nullptr)) return GetLastError() == ERROR_SUCCESS ? Fail(ERROR_READ_FAULT) : FALSE;
    return nRead == nBytes ? TRUE : Fail(ERROR_HANDLE_EOF);
}

// The working frame size as a pixel count, or 0 when it is not a usable frame.
DWORD FramePixels(const SIZE& s) {
    if (s.cx <= 0 || s.cy <= 0 || !FrameSizeAllowed(s.cx, s.cy)) return 0;
    return (DWORD)s.cx * (DWORD)s.cy;
}

}   // namespace

int CRvoFile::ReadPackedFrame(unsigned index, DWORD* pDst, int nDstStride, int nDstHeight, int nDstWidth) {
    const DWORD nPixels = FramePixels(m_sizeFrame);
    if (!nPixels || !m_store.m_hRawFile || !m_store.m_pAuxBuffer || !m_store.m_pFrameSizeTable) return Fail(ERROR_INVALID_FUNCTION);
    // The read buffer holds m_store.m_nFrameBytes; no record may be larger than either it or a raw record.
    const ULONGLONG nMax = std::min<ULONGLONG>(m_store.m_nFrameBytes, MaxPackedRecordBytes(nPixels));
    if (nMax < kRecordUnitBytes || (ULONGLONG)m_store.m_nFrameBytes < 4ull * nPixels) return Fail(ERROR_INVALID_FUNCTION);
    // A frame number past the table (damaged frame count) must not make the seek sum beyond it.
    if (index >= (DWORD)m_header.m_nFrameCount || index >= m_header.m_dwSizeTableBytes / 4) return Fail(ERROR_INVALID_PARAMETER);
    const DWORD dwTableBytes = m_store.m_pFrameSizeTable[index];
    if (!SeekToFrame(index)) return 0;

    BYTE* pRecord = m_store.m_pAuxBuffer;
    if (!ReadExactly(m_store.m_hRawFile, pRecord, kRecordUnitBytes)) return 0;
    const PackedRecordHeader h = ReadPackedRecordHeader(pRecord);
    if (!CheckPackedRecordHeader(h, nPixels, (DWORD)nMax)) return 0;
    // The table places every later record: a size that disagrees with the record means damage.
    if (h.recordBytes != dwTableBytes) return Fail(ERROR_INVALID_DATA);
    if (h.recordBytes > kRecordUnitBytes &&
        !ReadExactly(m_store.m_hRawFile, pRecord + kRecordUnitBytes, h.recordBytes - kRecordUnitBytes))
        return 0;
    if (!CheckPackedRecord(pRecord, nPixels, (DWORD)nMax)) return 0;

    const LONG cx = m_sizeFrame.cx, cy = m_sizeFrame.cy;
    const FrameFit fit = FitFrame(cx, cy, nDstStride, nDstHeight, nDstWidth);
    if (fit.nCols == 0 || fit.nRows == 0) return 1;   // nothing of the frame lies in the destination
    if (fit.nCols == cx && fit.nRows == cy && nDstStride == cx) {
        DecodePackedRecord(pRecord, pDst);
        return 1;
    }
    if (!m_store.m_pFrameBuffer) return Fail(ERROR_INVALID_FUNCTION);
    DWORD* pWork = reinterpret_cast<DWORD*>(m_store.m_pFrameBuffer.Get());
    DecodePackedRecord(pRecord, pWork);
    CopyPixelRows(pDst, nDstStride, pWork, cx, fit.nCols, fit.nRows);
    return 1;
}

int CRvoFile::ReadRawFrame(unsigned index, DWORD* pDst, int nDstStride, int nDstHeight, BOOL bViaBuffer,
                 int nDstWidth) {
    const DWORD nPixels = FramePixels(m_sizeFrame);
    if (!nPixels || !m_store.m_hRawFile || !m_store.m_pFrameBuffer || !m_store.m_pAuxBuffer) return Fail(ERROR_INVALID_FUNCTION);
    const DWORD nRecord = m_store.m_nFrameBytes;
    if ((ULONGLONG)nRecord != RawRecordBytes(nPixels)) return Fail(ERROR_INVALID_FUNCTION);
    if (!SeekToFrame(index)) return 0;

    const LONG cx = m_sizeFrame.cx, cy = m_sizeFrame.cy;
    // Straight into the destination only when it provably holds the whole record.
    const bool bHoldsRecord = pDst == reinterpret_cast<DWORD*>(m_store.m_pFrameBuffer.Get()) ||
                              (nDstStride == cx && nDstWidth < 0 && nDstHeight >= 0 &&
                               4ull * (ULONGLONG)nDstStride * (ULONGLONG)nDstHeight >= nRecord);
    if (!bViaBuffer && bHoldsRecord) {
        if (!ReadExactly(m_store.m_hRawFile, pDst, nRecord)) return 0;
        return 1;
    }
    if (!ReadExactly(m_store.m_hRawFile, m_store.m_pAuxBuffer, nRecord)) return 0;
    const FrameFit fit = FitFrame(cx, cy, nDstStride, nDstHeight, nDstWidth);
    CopyPixelRows(pDst, nDstStride, reinterpret_cast<const DWORD*>(m_store.m_pAuxBuffer.Get()), cx, fit.nCols, fit.nRows);
    return 1;
}

int CRvoFile::FindEntry(unsigned frame) {
    const ULONGLONG nFirst = (DWORD)m_nFirstFrame;
    // One past the last frame passes on purpose (> rather than >=); LocateFrame decides what it shows.
    if (frame < nFirst || frame > nFirst + (DWORD)m_header.m_nFrameCount) return -1;
    const DWORD rel = frame - (DWORD)m_nFirstFrame;
    const int n = GetEntryCount();
    for (int i = 0; i < n; i++)
        if (EntryLastFrame(GetEntry(i)) >= rel) return i;
    return -1;
}

int CRvoFile::LocateFrame(unsigned frame) {
    const ULONGLONG nFirst = (DWORD)m_nFirstFrame;
    if (IsRecordMode(m_header.m_nMode)) {
        // Frames past the end come back as themselves or as the frame count; SeekToFrame refuses both.
        if (frame < nFirst) return -1;
        if (frame > nFirst + (DWORD)m_header.m_nFrameCount) return m_header.m_nFrameCount;
        return (int)frame;
    }
    // A frame before the file's first frame shows nothing (not the last entry, as a
    // wrapped relative number would suggest).
    if (frame < nFirst) return -1;
    const int i = FindEntry(frame);
    const DWORD rel = frame - (DWORD)m_nFirstFrame;
    const int n = GetEntryCount();
    if (i >= 0 && i < n) {
        if ((DWORD)GetEntry(i)->m_nStartFrame <= rel) return i;
        // In a gap: a single-frame entry keeps showing until the next entry begins; a run does not.
        if (i == 0 || IsRun(GetEntry(i - 1))) return -1;
        return i - 1;
    }
    if (rel < (DWORD)m_header.m_nFrameCount) return -1;
    if (n == 0 || IsRun(GetEntry(n - 1))) return -1;
    return n - 1;
}

int CRvoFile::ReadFrame(unsigned index, DWORD* pDst, int nDstStride, int nDstHeight, BOOL bViaBuffer,
                        int nDstWidth) {
    if (!pDst) return Fail(ERROR_INVALID_PARAMETER);
    if (m_header.m_nMode == PackedFrames) return ReadPackedFrame(index, pDst, nDstStride, nDstHeight, nDstWidth);
    if (m_header.m_nMode == RawFrames) return ReadRawFrame(index, pDst, nDstStride, nDstHeight, bViaBuffer, nDstWidth);

    // Modes 1-3: index is an entry index as LocateFrame gives it ((unsigned)-1 for a
    // blank frame), so files with runs and gaps are not looked up twice.
    if (index == 0xFFFFFFFFu) return RebuildFrame(-1, pDst, nDstStride, nDstHeight, nDstWidth);
    if (index >= (unsigned)GetEntryCount()) return Fail(ERROR_INVALID_PARAMETER);
    return RebuildFrame((int)index, pDst, nDstStride, nDstHeight, nDstWidth);
}
