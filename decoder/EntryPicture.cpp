// Entry picture rebuild: the picture of one index entry (a JPEG blob, an
// external still image, or a blank frame) placed into a destination area, the
// parts of the frame rectangle it leaves uncovered painted with zeros.
#include <algorithm>
#include <memory>

#include "codec/JpeEngine.h"
#include "container/RvoFile.h"
#include "decoder/PictureCopies.h"
#include "decoder/PicturePlacement.h"
#include "platform/HostImageServices.h"
#include "platform/LastError.h"

using namespace rvo;

DWORD* CRvoFile::WorkingPicture() {
    const LONG cx = m_sizeFrame.cx, cy = m_sizeFrame.cy;
    if (!m_store.m_pFrameBuffer || cx <= 0 || cy <= 0 || 4ull * (ULONGLONG)cx * (ULONGLONG)cy > m_store.m_nFrameBytes)
        return nullptr;
    return reinterpret_cast<DWORD*>(m_store.m_pFrameBuffer.Get());
}


int CRvoFile::RebuildFrame(int entry, DWORD* pDst, int nDstStride, int nDstHeight, int nDstWidth) {
    if (entry >= GetEntryCount()) return Fail(ERROR_INVALID_PARAMETER);
    if (!pDst) return Fail(ERROR_INVALID_PARAMETER);
    const LONG cx = m_sizeFrame.cx, cy = m_sizeFrame.cy;
    FrameRect frame;
    frame.nLeft = m_nOriginX;
    frame.nTop = m_nOriginY;
    frame.nWidth = m_header.m_nWidth;
    frame.nHeight = m_header.m_nHeight;
    frame.bCornerPlaced = m_header.m_nMode == kModeLegacyBlobs;

    EntryPicture picture;   // its pixels are released on every path
    const DWORD* pSrc = nullptr;
    LONGLONG srcW = cx, srcH = cy;
    if (entry < 0) {
        DWORD* pWork = WorkingPicture();
        if (!pWork) return Fail(ERROR_INVALID_FUNCTION);
        std::fill(pWork, pWork + (size_t)cx * (size_t)cy, 0u);
        pSrc = pWork;
    } else {
        // A picture that fills the frame and the destination exactly, row for
        // row, is decoded in place: no frame-sized block to fault in and no copy.
        PictureTarget target;
        const SIZE whole{m_header.m_nWidth, m_header.m_nHeight};
        if (IsWholeDestination(frame, whole, nDstStride, nDstHeight, nDstWidth)) {
            target.pInto = pDst;
            target.size = whole;
        }
        int nDecoded;
        {
            CJpeEngine engine;   // its own engine: shares nothing with the preload or another reader
            nDecoded = DecodeEntryPicture(*this, entry, engine, target, &picture);
        }
        if (nDecoded) {
            SetLastError(picture.bDamaged ? ERROR_FILE_CORRUPT : ERROR_SUCCESS);
            if (picture.pPixels == pDst) return 1;   // decoded in place: it covers the frame and the destination
            pSrc = picture.pPixels;
            srcW = picture.size.cx;
            srcH = picture.size.cy;
        } else if (!picture.NoBlobRead()) {
            return 0;
        } else {
            // No blob to decode: an image list's entry shows its external still image.
            DWORD* pWork = WorkingPicture();
            if (GetEntry(entry)->m_nKind != kKindStillImage || !pWork) return Fail(picture.dwError);
            if (!ReadStillImage(entry, cx, cy, pWork)) return 0;
            pSrc = pWork;
        }
    }
    if (!pSrc || srcW <= 0 || srcH <= 0) return Fail(ERROR_INVALID_DATA);

    // The destination is the host rectangle: dstStride pixels per row at most.
    const LONGLONG W = nDstWidth < 0 ? nDstStride : std::min(nDstWidth, nDstStride);
    PaintPlacedPicture(PlacePicture(frame, srcW, srcH, W, nDstHeight), pSrc, srcW, pDst, nDstStride);
    return 1;
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
