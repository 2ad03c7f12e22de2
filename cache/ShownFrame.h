// Command 7's one decision: where the frame shown at a time comes from (a
// cached field, a cached entry, a stored record, an entry picture or a blank
// frame), found once and then shown.
#pragma once

#include "platform/Types.h"

class CRvoFile;

struct RvoShownFrame {
    enum Source { CachedField,
                  CachedEntry,
                  Record,
                  EntryPicture,
                  Blank };
    Source source = Blank;
    unsigned nField = 0;   // CachedField: the field delivered
    int nLocated = -1;     // otherwise: LocateFrame's answer (record, entry, -1)
};

// The source of field `field`, whose frame (clamped to the last frame by the
// caller) is `frame`. The cache serves the field itself only when bCacheAllowed
// (delivery mode 2 forbids it); a frame located in the file is still served by
// the cache when its entry is cached (times past the end, delivery mode 2).
RvoShownFrame LocateShownFrame(CRvoFile& f, unsigned field, unsigned frame, BOOL bCacheAllowed);

// Shows it in the destination area (nDstWidth as for CRvoFile::ReadFrame); the
// reader's result, 1 for the cache.
int ShowFrame(CRvoFile& f, const RvoShownFrame& shown, DWORD* pDst, int nDstStride, int nDstHeight, int nDstWidth);
