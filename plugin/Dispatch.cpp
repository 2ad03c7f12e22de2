// Host commands turned into calls on the file object kept in the host's handle slot.
#include "plugin/Dispatch.h"

#include <memory>

#include "cache/ShownFrame.h"
#include "codec/JpegBlob.h"
#include "container/Limits.h"
#include "container/RvoFile.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Rect.h"

namespace {

// The host's path field holds 256 code units; a path that fills it without a
// terminator would make every string operation read past the field.
bool PathTerminated(const HostMediaInfo* pIn) {
    for (size_t i = 0; i < kHostPathChars; i++)
        if (pIn->szPath[i] == 0) return true;
    return false;
}

// Address of pixel (x, y) of a host buffer; 64-bit index so that a large
// stride times a row cannot wrap before the pointer is formed.
DWORD* PixelAt(const HostFrameBuffer* pBuf, LONG x, LONG y) {
    LONGLONG index = (LONGLONG)y * pBuf->nStride + x;
    return pBuf->pPixels + (ptrdiff_t)index;
}

// The handle in the slot, made on first use (commands 5, 6 and 9).
RvoHandle* HandleFor(RvoHandle** ppHandle) {
    if (!*ppHandle) *ppHandle = new RvoHandle;
    return *ppHandle;
}

// Commands 5 and 6 given another path: the old file is closed with its own
// finalize flag and dropped; the handle's counters stay.
void DropOtherFile(RvoHandle* r, const CString& strPath) {
    // Paths compare exactly, case included: another spelling counts as another file.
    if (!r->m_pRvoFile || r->m_strPath == strPath) return;
    std::unique_ptr<CRvoFile> old(r->m_pRvoFile);
    r->m_pRvoFile = nullptr;
    old->Close(r->m_bWriteMode);
}

// Opens strPath for reading and gives the handle the new object; null when
// the file cannot be opened.
std::unique_ptr<CRvoFile> OpenForReading(const CString& strPath) {
    auto file = std::make_unique<CRvoFile>();
    if (!file->OpenForReading(strPath)) {
        const DWORD dwError = GetLastError();   // freeing the object's buffers may clear it
        file.reset();
        SetLastError(dwError);
        return nullptr;
    }
    return file;
}

// Preloading opens the file again; when that fails nothing is loaded and the
// handle's file is left closed. It is opened for reading again (now, or at the
// next command 7 when that fails too); FALSE when it cannot be.
BOOL ReopenIfClosed(RvoHandle* r) {
    if (r->m_pRvoFile->IsOpen()) return TRUE;
    std::unique_ptr<CRvoFile> file = OpenForReading(r->m_strPath);
    if (!file) return FALSE;
    delete r->m_pRvoFile;
    r->m_pRvoFile = file.release();
    return TRUE;
}

void AdoptReadFile(RvoHandle* r, std::unique_ptr<CRvoFile> file, const CString& strPath) {
    r->m_nLastFrame = file->GetFrameCount() - 1;
    r->m_pRvoFile = file.release();
    r->m_strPath = strPath;
}

int QueryCaps(HostMediaInfo* pOut) {
    if (!pOut) return kHostFailed;
    pOut->nCaps1 = 1;
    pOut->nCaps2 = 1;
    return kHostDone;
}

// The host passes the bare extension; it is compared whole.
int MatchExtension(const HostMediaInfo* pIn) {
    CString ext(pIn->szPath);
    ext.MakeUpper();
    return ext == CString(u"RVO") ? kHostDone : kHostRefused;
}

int GetFilter(HostMediaInfo* pOut) {
    if (!pOut) return kHostFailed;
    pOut->pszFilter = g_szFilterText;
    return kHostDone;
}

int GetFileInfo(const HostMediaInfo* pIn, HostMediaInfo* pOut) {
    if (!pOut) return kHostFailed;
    CRvoFile file;
    if (!file.Open(pIn->szPath, CFile::modeRead | CFile::shareDenyWrite)) {
        file.Close(FALSE);
        return kHostFailed;
    }
    pOut->nWidth = file.Header().m_nWidth;
    pOut->nHeight = file.Header().m_nHeight;
    // A file without frames has no last frame: its duration is 0, where the
    // unsigned "count - 1" would wrap to four billion.
    LONG nFrames = file.GetFrameCount();
    pOut->dDuration = nFrames > 0 ? (double)(nFrames - 1) * pIn->dFieldDuration * 2.0 : 0.0;
    file.Close(FALSE);
    return kHostDone;
}

int OpenRead(const HostMediaInfo* pIn, RvoHandle** ppHandle) {
    CString strPath(pIn->szPath);
    RvoHandle* r = HandleFor(ppHandle);
    DropOtherFile(r, strPath);
    if (r->m_pRvoFile) {
        r->m_nCurrentFrame = -1;
        return kHostDone;
    }
    std::unique_ptr<CRvoFile> file = OpenForReading(strPath);
    // The handle stays in the slot without a file; a later command 5, 6 or 9 can fill it.
    if (!file) return kHostFailed;
    AdoptReadFile(r, std::move(file), strPath);
    r->m_nCurrentFrame = -1;
    return kHostDone;
}

int CreateWrite(const HostMediaInfo* pIn, RvoHandle** ppHandle) {
    CString strPath(pIn->szPath);
    RvoHandle* r = HandleFor(ppHandle);
    DropOtherFile(r, strPath);
    if (r->m_pRvoFile) return kHostDone;

    // A region without pixels (or with edges swapped) cannot hold a frame;
    // refusing it here leaves no file behind.
    LONGLONG cx = (LONGLONG)pIn->rcRegion.right - pIn->rcRegion.left;
    LONGLONG cy = (LONGLONG)pIn->rcRegion.bottom - pIn->rcRegion.top;
    if (cx <= 0 || cy <= 0 || !rvo::FrameSizeAllowed(cx, cy)) return kHostFailed;

    auto file = std::make_unique<CRvoFile>();
    // A writer that cannot record its frame size (or have its buffers) could
    // not be recovered should it stop: the create fails, the error kept.
    const SIZE size{(LONG)cx, (LONG)cy};
    if (!file->Create(strPath, rvo::StorageModeForCompression(pIn->nCompression), &size)) {
        const DWORD dwError = GetLastError();   // freeing the object's buffers may clear it
        file.reset();
        SetLastError(dwError);
        return kHostFailed;
    }
    r->m_nLastFrame = LastFrameFromDuration(pIn->dTotalDuration, pIn->dFieldDuration);
    r->m_pRvoFile = file.release();
    r->m_strPath = strPath;
    r->m_nCurrentFrame = -1;
    r->m_bWriteMode = 1;
    return kHostDone;
}

int ReadFrameAt(const HostMediaInfo* pIn, RvoHandle* r) {
    if (!r || !r->m_pRvoFile) return kHostFailed;
    const HostFrameBuffer* pDst = pIn->pDst;
    if (!pDst || !pDst->pPixels) return kHostFailed;
    if (!r->m_bWriteMode && !ReopenIfClosed(r)) return kHostFailed;
    CRvoFile* file = r->m_pRvoFile;

    unsigned field = FieldFromTime(pIn->dTime, pIn->dFieldDuration);
    LONG frame = (LONG)(field / 2);

    RECT bounds{0, 0, pDst->nWidth, pDst->nHeight};
    RECT rc;
    IntersectRect(&rc, &pIn->rcRegion, &bounds);
    DWORD* p = PixelAt(pDst, rc.left, rc.top);
    int h = rc.bottom - rc.top;
    int w = rc.right - rc.left;

    // Times past the end show the last frame.
    if (frame >= r->m_nLastFrame) frame = r->m_nLastFrame;
    bool bShown = true;
    // A file without frames has nothing to show; the host buffer is left as it is.
    if (r->m_nLastFrame >= 0) {
        const RvoShownFrame shown = LocateShownFrame(*file, field, (unsigned)frame, pIn->nDeliveryMode != 2);
        // The same entry as last time is already in the host buffer, if the
        // host gives the same buffer (and place in it) again.
        const bool bFromCacheByField = shown.source == RvoShownFrame::CachedField;
        if (bFromCacheByField || shown.nLocated != r->m_nLastDecoded || p != r->m_pLastDecodedInto) {
            // A frame that could not be read or decoded is not counted as
            // decoded: the buffer may hold part of it, and the next call for it
            // reads it again (a transient error on a network volume passes).
            // The reader's error stays the last error.
            r->m_nLastDecoded = -1;
            r->m_pLastDecodedInto = nullptr;
            bShown = ShowFrame(*file, shown, p, pDst->nStride, h, w) != 0;
            if (bShown && !bFromCacheByField) {
                r->m_nLastDecoded = shown.nLocated;
                r->m_pLastDecodedInto = p;
            }
        }
    }
    // The last frame reached, there is no current frame (-1), as the host expects.
    r->m_nCurrentFrame = frame >= r->m_nLastFrame ? -1 : frame;
    return bShown ? kHostDone : kHostFailed;
}

// Command 8's bookkeeping around one frame that `append` puts into the file:
// the write counter, the refusal past the last frame, and a failed frame
// giving its number back.
template <class Append>
int CountedAppend(RvoHandle* r, Append append) {
    r->m_nCurrentFrame++;
    // The counter stays past the last frame, so every later frame is refused too.
    if (r->m_nCurrentFrame > r->m_nLastFrame) return kHostRefused;
    // A frame that is not in the file (a record or blob that did not reach the
    // disk, or a blob past the 4 GiB the offsets address): the host hears of
    // it, and the frame number stays free for another try. A JPEG frame the
    // codec could not compress fails too, but keeps its place as an entry
    // without a picture (shown blank), so its number is used.
    const int nEntries = r->m_pRvoFile->GetEntryCount();
    if (!append(r->m_pRvoFile)) {
        if (r->m_pRvoFile->GetEntryCount() == nEntries) r->m_nCurrentFrame--;
        return kHostFailed;
    }
    return kHostDone;
}

int WriteNextFrame(const HostMediaInfo* pIn, RvoHandle* r) {
    if (!r || !r->m_pRvoFile) return kHostFailed;
    const HostFrameBuffer* pSrc = pIn->pSrc;
    if (!pSrc || !pSrc->pPixels) return kHostFailed;
    const DWORD* source = PixelAt(pSrc, pIn->rcRegion.left, pIn->rcRegion.top);
    return CountedAppend(r, [&](CRvoFile* file) { return file->WriteFrame(source, pSrc->nStride); });
}

int PreloadFile(const HostMediaInfo* pIn, RvoHandle** ppHandle) {
    RvoHandle* r = HandleFor(ppHandle);
    // Unlike commands 5 and 6, the path is not compared: a handle that has a file is not set up again.
    if (!r->m_pRvoFile) {
        CString strPath(pIn->szPath);
        std::unique_ptr<CRvoFile> file = OpenForReading(strPath);
        if (!file) return kHostFailed;
        AdoptReadFile(r, std::move(file), strPath);
        // Unlike command 5, the current frame starts at the host's time.
        r->m_nCurrentFrame = TruncToLong(pIn->dTime / pIn->dFieldDuration * 0.5 + 0.5);
    }
    if (!r->m_bPreloaded) {
        r->m_pRvoFile->SetProgressCallback(pIn->pfnProgress);
        // Preloaded once per handle whatever the outcome: what was loaded serves, the rest is read from the file.
        if (!r->m_pRvoFile->Preload(pIn->szPath, -1, -1)) {
            const DWORD dwError = GetLastError();
            ReopenIfClosed(r);
            SetLastError(dwError);
        }
        r->m_bPreloaded = 1;
    }
    return kHostDone;
}

int CloseHandleRecord(RvoHandle** ppHandle) {
    RvoHandle* r = *ppHandle;
    if (!r) return kHostDone;
    // The handle dies even when closing the file fails in some unforeseen way.
    std::unique_ptr<RvoHandle> handle(r);
    std::unique_ptr<CRvoFile> file(r->m_pRvoFile);
    r->m_pRvoFile = nullptr;
    *ppHandle = nullptr;
    // The host forgets the handle whatever it hears; a file being written that
    // could not be finished is a failure (its frames are for rvo recover then).
    BOOL bClosed = TRUE;
    if (file) {
        try {
            bClosed = file->Close(r->m_bWriteMode);
        } catch (...) {
            bClosed = FALSE;
        }
    }
    return bClosed ? kHostDone : kHostFailed;
}

int Dispatch(unsigned nCommand, HostMediaInfo* pIn, HostMediaInfo* pOut, RvoHandle** ppHandle) {
    // Codes this module does not know report done and change nothing, so a host that sends them goes on working.
    if (nCommand < CMD_QUERY_CAPS || nCommand > CMD_CLOSE) return kHostDone;
    switch (nCommand) {
    case CMD_QUERY_CAPS: return QueryCaps(pOut);
    case CMD_GET_FILTER: return GetFilter(pOut);
    default: break;
    }
    if (!ppHandle && nCommand != CMD_MATCH_EXTENSION && nCommand != CMD_GET_FILE_INFO)
        return nCommand == CMD_CLOSE ? kHostDone : kHostFailed;
    if (nCommand == CMD_CLOSE) return CloseHandleRecord(ppHandle);
    if (!pIn) return kHostFailed;
    switch (nCommand) {
    case CMD_READ_FRAME: return ReadFrameAt(pIn, *ppHandle);
    case CMD_WRITE_FRAME: return WriteNextFrame(pIn, *ppHandle);
    default: break;
    }
    if (!PathTerminated(pIn)) return kHostFailed;
    switch (nCommand) {
    case CMD_MATCH_EXTENSION: return MatchExtension(pIn);
    case CMD_GET_FILE_INFO: return GetFileInfo(pIn, pOut);
    case CMD_OPEN_READ: return OpenRead(pIn, ppHandle);
    case CMD_CREATE_WRITE: return CreateWrite(pIn, ppHandle);
    case CMD_PRELOAD: return PreloadFile(pIn, ppHandle);
    default: return kHostDone;
    }
}

}   // namespace

int RvoAppendFrame(RvoHandle* pHandle, RvoEncodedFrame& frame) {
    int rc = kHostFailed;
    if (pHandle && pHandle->m_pRvoFile && pHandle->m_pRvoFile->IsWriting())
        rc = CountedAppend(pHandle, [&](CRvoFile* file) { return file->AppendEncodedFrame(frame); });
    // A frame that never reached the file (refused, or no file being written)
    // still gives its blob up: the file takes it only when it gets the frame.
    CBlobOwner leftover(frame.hBlob);
    frame.hBlob = nullptr;
    return rc;
}

int RvoDispatch(unsigned nCommand, HostMediaInfo* pIn, HostMediaInfo* pOut, RvoHandle** ppHandle) {
    // The host cannot take an exception: whatever goes wrong below is a failure.
    try {
        return Dispatch(nCommand, pIn, pOut, ppHandle);
    } catch (...) {
        return kHostFailed;
    }
}
