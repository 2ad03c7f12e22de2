// Finding the source of a shown frame once: the preload cache first, then the file.
#include "cache/ShownFrame.h"

#include "container/RvoFile.h"

using namespace rvo;

RvoShownFrame LocateShownFrame(CRvoFile& f, unsigned field, unsigned frame, BOOL bCacheAllowed) {
    const ULONGLONG nCached = (ULONGLONG)f.Cache().GetSize();
    const bool bRecords = IsRecordMode(f.Header().m_nMode);
    RvoShownFrame shown;
    // The cache holds a raw block per frame in modes 4 and 5, two field records per entry otherwise.
    if (bCacheAllowed && (bRecords ? field / 2 : field) < nCached) {
        shown.source = RvoShownFrame::CachedField;
        shown.nField = field;
        return shown;
    }
    shown.nLocated = f.LocateFrame(frame);
    if (bRecords) shown.source = RvoShownFrame::Record;
    else if (shown.nLocated < 0) shown.source = RvoShownFrame::Blank;
    else if (2ull * (unsigned)shown.nLocated + 1 < nCached) shown.source = RvoShownFrame::CachedEntry;
    else shown.source = RvoShownFrame::EntryPicture;
    return shown;
}

int ShowFrame(CRvoFile& f, const RvoShownFrame& shown, DWORD* pDst, int nDstStride, int nDstHeight, int nDstWidth) {
    const unsigned n = (unsigned)shown.nLocated;
    switch (shown.source) {
    case RvoShownFrame::CachedField:
        return f.DeliverField(shown.nField, pDst, nDstStride, nDstHeight, nDstWidth);
    case RvoShownFrame::CachedEntry:
        // Reported shown whatever the fields report: the entry is cached, so the file is not read instead.
        f.DeliverField(2 * n, pDst, nDstStride, nDstHeight, nDstWidth);
        f.DeliverField(2 * n + 1, pDst, nDstStride, nDstHeight, nDstWidth);
        return 1;
    default:
        return f.ReadFrame(n, pDst, nDstStride, nDstHeight, TRUE, nDstWidth);
    }
}
