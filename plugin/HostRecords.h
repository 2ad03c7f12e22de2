// The host's parameter and frame-buffer records and the module's per-file
// handle. The byte offsets are the host's; the 32-bit build (4-byte pointers)
// is the one whose layout a host relies on, and it is asserted below.
#pragma once

#include <cstddef>

#include "platform/CString.h"
#include "platform/Types.h"

class CRvoFile;
// The host's preload progress callback (CRvoFile::SetProgressCallback takes the same type).
typedef int (*PFN_PROGRESS)(int);

struct HostFrameBuffer {
    BYTE abUnused0[8];
    LONG nWidth;
    LONG nHeight;
    LONG nStride;   // row step in pixels
    BYTE abUnused20[4];
    DWORD* pPixels;   // top-left pixel (row 0)
};

constexpr size_t kHostPathChars = 256;   // szPath runs from offset 56 up to offset 567

struct HostMediaInfo {
    BYTE abUnused0[40];
    double dTime;                   // in: 7, 9
    double dFieldDuration;          // in: 4, 6, 7, 9
    WCHAR szPath[kHostPathChars];   // in: 2, 4, 5, 6, 9
    HostFrameBuffer* pDst;          // in: 7
    RECT rcRegion;                  // in: 6, 7, 8
    LONG nDeliveryMode;             // in: 7; 2 forbids delivery from preloaded frames
    BYTE abUnused592[24];
    HostFrameBuffer* pSrc;    // in: 8
    const WCHAR* pszFilter;   // out: 3
    union {
        double dTotalDuration;   // in: 6
        struct {
            LONG nWidth;    // out: 4
            LONG nHeight;   // out: 4
        };
    };
    double dDuration;   // out: 4
    LONG nCaps1;        // out: 1
    LONG nCaps2;        // out: 1
    BYTE abUnused648[520];
    PFN_PROGRESS pfnProgress;   // in: 9
    LONG nCompression;          // in: 6
};

#if defined(__i386__)
static_assert(offsetof(HostFrameBuffer, nWidth) == 8);
static_assert(offsetof(HostFrameBuffer, nHeight) == 12);
static_assert(offsetof(HostFrameBuffer, nStride) == 16);
static_assert(offsetof(HostFrameBuffer, pPixels) == 24);
static_assert(offsetof(HostMediaInfo, dTime) == 40);
static_assert(offsetof(HostMediaInfo, dFieldDuration) == 48);
static_assert(offsetof(HostMediaInfo, szPath) == 56);
static_assert(offsetof(HostMediaInfo, pDst) == 568);
static_assert(offsetof(HostMediaInfo, rcRegion) == 572);
static_assert(offsetof(HostMediaInfo, rcRegion) + offsetof(RECT, top) == 576);
static_assert(offsetof(HostMediaInfo, rcRegion) + offsetof(RECT, right) == 580);
static_assert(offsetof(HostMediaInfo, rcRegion) + offsetof(RECT, bottom) == 584);
static_assert(offsetof(HostMediaInfo, nDeliveryMode) == 588);
static_assert(offsetof(HostMediaInfo, pSrc) == 616);
static_assert(offsetof(HostMediaInfo, pszFilter) == 620);
static_assert(offsetof(HostMediaInfo, dTotalDuration) == 624);
static_assert(offsetof(HostMediaInfo, nWidth) == 624);
static_assert(offsetof(HostMediaInfo, nHeight) == 628);
static_assert(offsetof(HostMediaInfo, dDuration) == 632);
static_assert(offsetof(HostMediaInfo, nCaps1) == 640);
static_assert(offsetof(HostMediaInfo, nCaps2) == 644);
static_assert(offsetof(HostMediaInfo, pfnProgress) == 1168);
static_assert(offsetof(HostMediaInfo, nCompression) == 1172);
static_assert(sizeof(HostMediaInfo) == 1176);
#endif

// The module's record for one open file, kept by the host between calls.
struct RvoHandle {
    CString m_strPath;
    BOOL m_bPreloaded = 0;
    BOOL m_bWriteMode = 0;
    CRvoFile* m_pRvoFile = nullptr;
    LONG m_nCurrentFrame = -1;
    LONG m_nLastFrame = -1;
    LONG m_nLastDecoded = -1;
    const DWORD* m_pLastDecodedInto = nullptr;   // where that entry's picture went
};

enum HostCommand : unsigned {
    CMD_QUERY_CAPS = 1,
    CMD_MATCH_EXTENSION = 2,
    CMD_GET_FILTER = 3,
    CMD_GET_FILE_INFO = 4,
    CMD_OPEN_READ = 5,
    CMD_CREATE_WRITE = 6,
    CMD_READ_FRAME = 7,
    CMD_WRITE_FRAME = 8,
    CMD_PRELOAD = 9,
    CMD_CLOSE = 10,
};

enum HostResult : int { kHostDone = 0,
                        kHostFailed = 1,
                        kHostRefused = 2 };
