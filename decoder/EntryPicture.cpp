// Entry picture rebuild: the picture of one index entry (a JPEG blob, an
// external still image, or a blank frame) placed into a destination area, the
// parts of the frame rectangle it leaves uncovered painted with zeros.
#include <algorithm>
#include <memory>

#include "codec/JpeEngine.h"
#include "container/BlobFile.h"
#include "container/RvoFile.h"
#include "pixels/PixelRows.h"
#include "platform/HostImageServices.h"
#include "platform/LastError.h"

using namespace rvo;

DWORD* CRvoFile::WorkingPicture() {
    const LONG cx = m_sizeFrame.cx, cy = m_sizeFrame.cy;
    if (!m_store.m_pFrameBuffer || cx <= 0 || cy <= 0 || 4ull * (ULONGLONG)cx * (ULONGLONG)cy > m_store.m_nFrameBytes)
        return nullptr;
    return reinterpret_cast<DWORD*>(m_store.m_pFrameBuffer.Get());
}

bool CRvoFile::IsWholeDestination(const SIZE& s, int nDstStride, int nDstHeight, int nDstWidth) const {
    return s.cx > 0 && s.cy > 0 && m_nOriginX == 0 && m_nOriginY == 0 && s.cx == m_header.m_nWidth &&
           s.cy == m_header.m_nHeight && nDstStride == s.cx && nDstHeight >= s.cy && (nDstWidth < 0 || nDstWidth >= s.cx);
}

int CRvoFile::RebuildFrame(int entry, DWORD* pDst, int nDstStride, int nDstHeight, int nDstWidth) {
    if (entry >= GetEntryCount()) return Fail(ERROR_INVALID_PARAMETER);
    if (!pDst) return Fail(ERROR_INVALID_PARAMETER);
    const LONG cx = m_sizeFrame.cx, cy = m_sizeFrame.cy;

    std::unique_ptr<BYTE[]> pDecoded;   // released on every path
    const DWORD* pSrc = nullptr;
    LONGLONG srcW = 0, srcH = 0;
    if (entry < 0) {
        DWORD* pWork = WorkingPicture();
        if (!pWork) return Fail(ERROR_INVALID_FUNCTION);
        std::fill(pWork, pWork + (size_t)cx * (size_t)cy, 0u);
        pSrc = pWork;
        srcW = cx;
        srcH = cy;
    } else if (GetEntry(entry)->m_hBlob) {
        // A blob held in memory (a file being written) has no other copy to turn to.
        HGLOBAL hBlob = GetEntry(entry)->m_hBlob;
        {
            CJpeEngine engine;   // its own engine: shares nothing with the preload or another reader
            pDecoded.reset(engine.Decompress(hBlob));
        }
        if (!pDecoded) return 0;
        const SIZE s = CJpeEngine::GetBlobSize(hBlob);
        pSrc = reinterpret_cast<const DWORD*>(pDecoded.get());
        srcW = s.cx;
        srcH = s.cy;
    } else if (ULONGLONG anAt[2]; const int nCopies = GetBlobCopies(entry, anAt)) {
        // A blob read from the file for this picture is dropped after decoding,
        // so reading a movie holds one blob at a time, whatever its length. The
        // second copy is read only when the first fails or is damaged; a
        // damaged picture is kept in case the other copy is no better.
        CJpeEngine engine;   // its own engine: shares nothing with the preload or another reader
        bool bDamaged = false;
        DWORD dwFirstError = ERROR_SUCCESS;
        for (int c = 0; c < nCopies; c++) {
            HGLOBAL hBlob = ReadBlobCopy(anAt[c]);
            CBlobOwner owner(hBlob);
            const SIZE s = hBlob ? CJpeEngine::GetBlobSize(hBlob) : SIZE{0, 0};
            // A picture that fills the frame and the destination exactly, row
            // for row, is decoded in place: no frame-sized block to fault in and
            // no copy. A second copy read over a damaged first one is decoded
            // apart, so that the first stays should the second be no better.
            const bool bInPlace = !pSrc && IsWholeDestination(s, nDstStride, nDstHeight, nDstWidth);
            std::unique_ptr<BYTE[]> pCopy;
            const DWORD* pPicture = nullptr;
            if (bInPlace) {
                if (engine.DecompressInto(hBlob, pDst, &s)) pPicture = pDst;
            } else if (hBlob) {
                pCopy.reset(engine.Decompress(hBlob));
                pPicture = reinterpret_cast<const DWORD*>(pCopy.get());
            }
            if (!pPicture) {
                if (c == 0) dwFirstError = GetLastError();
                continue;
            }
            const bool bWhole = !engine.WasDamaged();
            if (pSrc && !bWhole) continue;   // both damaged: the first picture stays
            pDecoded = std::move(pCopy);
            pSrc = pPicture;
            srcW = s.cx;
            srcH = s.cy;
            bDamaged = !bWhole;
            if (bWhole) break;
        }
        if (!pSrc) return Fail(dwFirstError ? dwFirstError : ERROR_INVALID_DATA);
        SetLastError(bDamaged ? ERROR_FILE_CORRUPT : ERROR_SUCCESS);
        if (pSrc == pDst) return 1;   // decoded in place: it covers the frame and the destination
    } else {
        DWORD* pWork = WorkingPicture();
        if (GetEntry(entry)->m_nKind != kKindStillImage || !pWork) return Fail(ERROR_INVALID_FUNCTION);
        if (!ReadStillImage(entry, cx, cy, pWork)) return 0;
        pSrc = pWork;
        srcW = cx;
        srcH = cy;
    }
    if (!pSrc || srcW <= 0 || srcH <= 0) return Fail(ERROR_INVALID_DATA);

    // The destination is the host rectangle: dstStride pixels per row at most.
    const LONGLONG W = nDstWidth < 0 ? nDstStride : std::min(nDstWidth, nDstStride);
    const LONGLONG H = nDstHeight;
    const ptrdiff_t step = nDstStride;

    // The frame rectangle cut to the destination: the area the zero bands may paint.
    const LONGLONG left = m_nOriginX, top = m_nOriginY;
    const LONGLONG right = left + m_header.m_nWidth, bottom = top + m_header.m_nHeight;
    const LONGLONG x0 = std::max<LONGLONG>(left, 0), y0 = std::max<LONGLONG>(top, 0);
    const LONGLONG x1 = std::max(std::min(W, right), x0), y1 = std::max(std::min(H, bottom), y0);

    // Pictures of another size than the frame sit in its bottom-right corner in mode 1.
    LONGLONG px = m_nOriginX, py = m_nOriginY;
    if (m_header.m_nMode == kModeLegacyBlobs && (srcW != m_header.m_nWidth || srcH != m_header.m_nHeight)) {
        px = left + m_header.m_nWidth - srcW;
        py = top + m_header.m_nHeight - srcH;
    }

    auto Zero = [&](LONGLONG x, LONGLONG y, LONGLONG w, LONGLONG h) {
        if (w > 0 && h > 0) ZeroPixelRows(pDst + (ptrdiff_t)y * step + (ptrdiff_t)x, step, (LONG)w, (LONG)h);
    };
    if (px <= W && py <= H && px + srcW >= 0 && py + srcH >= 0) {
        const LONGLONG vx0 = std::max<LONGLONG>(px, 0), vx1 = std::min(px + srcW, W);
        const LONGLONG vy0 = std::max<LONGLONG>(py, 0), vy1 = std::min(py + srcH, H);
        if (x1 > x0 && y1 > y0) {
            // Bands: the clipped frame rectangle less the visible picture.
            Zero(x0, y0, x1 - x0, std::min(vy0, y1) - y0);
            const LONGLONG ry0 = std::max(vy0, y0), ry1 = std::min(vy1, y1);
            Zero(x0, ry0, std::min(vx0, x1) - x0, ry1 - ry0);
            const LONGLONG rx = std::max(vx1, x0);
            Zero(rx, ry0, x1 - rx, ry1 - ry0);
            const LONGLONG by = std::max(vy1, y0);
            Zero(x0, by, x1 - x0, y1 - by);
        }
        if (vx1 > vx0 && vy1 > vy0)
            CopyPixelRows(pDst + (ptrdiff_t)vy0 * step + (ptrdiff_t)vx0, step,
                          pSrc + (ptrdiff_t)(vy0 - py) * (ptrdiff_t)srcW + (ptrdiff_t)(vx0 - px), (ptrdiff_t)srcW,
                          (LONG)(vx1 - vx0), (LONG)(vy1 - vy0));
    } else {
        Zero(x0, y0, x1 - x0, y1 - y0);
    }
    return 1;
}

int CRvoFile::GetBlobCopies(int entry, ULONGLONG anAt[2]) const {
    if (entry < 0 || entry >= GetEntryCount()) return 0;
    const RvoIndexEntry* e = GetEntry(entry);
    // The frame-area copy counts unless flag bit 0 says it was never stored
    // there (an offset alone is then not trusted while the record has a copy).
    const bool bFrameArea = e->m_dwBlobOffset != 0 &&
                            (!(e->m_dwFlags & kEntryFlagBlobNotStored) || e->m_nIndexBlobAt == 0);
    int n = 0;
    if (bFrameArea) anAt[n++] = e->m_dwBlobOffset;
    if (e->m_nIndexBlobAt != 0 && (n == 0 || e->m_nIndexBlobAt != anAt[0])) anAt[n++] = e->m_nIndexBlobAt;
    return n;
}

HGLOBAL CRvoFile::ReadBlobCopy(ULONGLONG nAt) {
    if (nAt == 0 || !m_pFile) return Fail(ERROR_INVALID_FUNCTION), nullptr;
    if (m_pFile->Seek((LONGLONG)nAt, CFile::begin) != nAt)
        return Fail(IsIoFailure(GetLastError()) ? GetLastError() : (DWORD)ERROR_HANDLE_EOF), nullptr;
    HGLOBAL h = nullptr;
    return ReadBlobFromFile(m_pFile.get(), &h) ? h : nullptr;
}

int CRvoFile::LoadEntryBlob(int entry) {
    if (entry < 0 || entry >= GetEntryCount()) return Fail(ERROR_INVALID_PARAMETER);
    RvoIndexEntry* e = GetEntry(entry);
    if (e->m_hBlob) return 1;
    // Opening keeps no blob: the copy read first is loaded.
    ULONGLONG anAt[2];
    if (GetBlobCopies(entry, anAt) == 0) return 0;
    e->m_hBlob = ReadBlobCopy(anAt[0]);
    return e->m_hBlob != nullptr;
}

HGLOBAL CRvoFile::TakeBlob(int entry) {
    if (!LoadEntryBlob(entry)) return nullptr;
    RvoIndexEntry* e = GetEntry(entry);
    HGLOBAL h = e->m_hBlob;
    e->m_hBlob = nullptr;
    return h;
}

int CRvoFile::ReadStillImage(int entry, int nWidth, int nHeight, DWORD* pPixels) {
    if (entry < 0 || entry >= GetEntryCount()) return Fail(ERROR_INVALID_PARAMETER);
    const RvoIndexEntry* e = GetEntry(entry);
    if (e->m_nKind != kKindStillImage || !g_pfnReadImage) return Fail(ERROR_INVALID_FUNCTION);
    const int r = g_pfnReadImage(e->m_strName, pPixels, nWidth, nHeight);
    if (r != 0 || !m_pFile) return r;

    // Movies travel with their images: try the stored file name in the movie's
    // folder. Either separator counts, since names may come from Windows.
    const CString strName = e->m_strName.Mid(e->m_strName.ReverseFindSeparator() + 1);
    const CString strMovie(FromUtf8(m_pFile->GetFilePath()));
    const int nSep = strMovie.ReverseFindSeparator();
    // Without a folder in the movie's path the name alone is the movie's folder
    // (the working directory); a leading separator would mean the root instead.
    const CString strRetry =
        nSep < 0 ? strName : strMovie.Left(nSep) + CString(strMovie.Str().substr((size_t)nSep, 1)) + strName;
    return g_pfnReadImage(strRetry, pPixels, nWidth, nHeight);
}
