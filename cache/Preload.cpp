// Preloading a whole file into page-locked memory for playback: raw frames for
// the raw storage modes, two field records per frame otherwise.
#include <algorithm>

#include "cache/FieldCodec.h"
#include "cache/PreloadBlocks.h"
#include "codec/JpeEngine.h"
#include "container/Limits.h"
#include "container/RvoFile.h"
#include "decoder/PictureCopies.h"
#include "platform/File.h"
#include "platform/LastError.h"

using namespace rvo;

namespace {

// Frames to load: all of them, or up to and including nLast.
LONG LoadCount(LONG nAvailable, int nLast) {
    const LONG n = std::max<LONG>(nAvailable, 0);
    return nLast < 0 ? n : std::min<LONG>(n, (LONG)nLast + 1);
}

// Reports to the host; false when it asks to stop.
bool Progress(PFN_PROGRESS pfn, int k) { return !pfn || pfn(k) != 0; }

// Keeps the failure's own code, or names one when the callee left none.
BOOL FailKeeping(DWORD dwDefault) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(dwDefault);
    return FALSE;
}

}   // namespace

BOOL CRvoFile::Preload(const WCHAR* pszPath, int nFirst, int nLast) {
    if (!pszPath) return Fail(ERROR_INVALID_PARAMETER);
    // Delivery finds frame i at cache position i, so loading always starts at frame 0.
    if (nFirst > 0) return Fail(ERROR_INVALID_PARAMETER);
    SetLastError(ERROR_SUCCESS);
    if (!Open(pszPath, CFile::modeRead | CFile::shareDenyWrite)) return FailKeeping(ERROR_FILE_NOT_FOUND);

    const bool bRaw = IsRecordMode(m_header.m_nMode);
    // Raw and packed files have no index entries once opened: their header counts the frames.
    const LONG nFrames = LoadCount(bRaw ? m_header.m_nEntryCount : GetEntryCount(), nLast);
    const LONG cx = m_header.m_nWidth;
    const LONG cy = m_header.m_nHeight;
    const bool bSizeOk = cx > 0 && cy > 0 && FrameSizeAllowed(cx, cy);
    if (bSizeOk) {
        const SIZE size{cx, cy};
        SetFrameSize(&size);
    }
    // The answer to the count is not looked at; only the answers after frames can stop.
    if (m_pfnProgress) m_pfnProgress(-nFrames);
    if (nFrames == 0) return TRUE;
    if (!bSizeOk) return Fail(ERROR_INVALID_DATA);
    if (!m_store.m_pFrameBuffer) return Fail(ERROR_OUTOFMEMORY);

    DWORD* pFrame = reinterpret_cast<DWORD*>(m_store.m_pFrameBuffer.Get());
    const ULONGLONG nPixels = (ULONGLONG)cx * (ULONGLONG)cy;
    const ULONGLONG nFrameBytes = 4 * nPixels;

    if (bRaw) {
        for (LONG i = 0; i < nFrames; i++) {
            // Stop before the next frame would push the system into paging or starve the host.
            if (!PreloadMemoryAllows(nFrameBytes)) return FALSE;
            // A frame that cannot be read is not stored: the buffer would still hold the previous one.
            SetLastError(ERROR_SUCCESS);
            if (!ReadFrame((unsigned)i, pFrame, cx, cy, FALSE)) return FailKeeping(ERROR_READ_FAULT);
            BYTE* pBlock = NewRawFrameBlock(pFrame, cx, cy);
            if (!pBlock) return FALSE;
            m_cache.Add(pBlock, (UINT)nFrameBytes);
            // The host asked to stop: what is loaded stays, and that is a success.
            if (!Progress(m_pfnProgress, i)) return TRUE;
        }
        return TRUE;
    }

    const DWORD* pFrameEnd = pFrame + nPixels;
    CJpeEngine engine;
    CFieldWork work;
    for (LONG k = 0; k < nFrames; k++) {
        SetLastError(ERROR_SUCCESS);
        // The picture by the reader's rule; one of another size than the frame is not preloaded.
        EntryPicture picture;
        const PictureTarget target{pFrame, m_sizeFrame, false};
        if (!DecodeEntryPicture(*this, k, engine, target, &picture)) {
            // Entries without a picture blob (external still images) cannot be preloaded.
            if (!picture.bHeld && picture.nCopies == 0) return Fail(ERROR_NOT_SUPPORTED);
            return FailKeeping(ERROR_INVALID_DATA);
        }
        for (int f = 0; f < 2; f++) {
            LONG nTokens = 0;
            LONG nSlots = 0;
            LONG nUnits8 = 0;
            BYTE* pRecord = nullptr;
            if (FieldEncode(pFrame + f * (ptrdiff_t)cx, cx, 2 * (ptrdiff_t)cx, pFrameEnd, work.pTokens,
                            work.nTokenCapacity, nTokens, work.pSlots, work.nSlotCapacity, nSlots))
                pRecord = FieldPack(cx, cy, work.pTokens, nTokens, work.pSlots, nSlots, nUnits8);
            if (!pRecord) {
                // An even field without its odd field is dropped, so the cache holds whole frames only.
                if (f == 1) m_cache.DropLast();
                return FALSE;
            }
            m_cache.Add(pRecord, (UINT)nUnits8 * 8u);
        }
        if (!Progress(m_pfnProgress, k)) return TRUE;
    }
    return TRUE;
}
