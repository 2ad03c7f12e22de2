// A file preloaded through the preload command, then every field delivered
// from the cache through the read-frame command into an offset host rectangle,
// and straight from the object into areas of odd heights and narrower widths.
#include <algorithm>
#include <cstring>

#include "container/RvoFile.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "plugin/Dispatch.h"

namespace rvofuzz {

namespace {

constexpr uint64_t kMaxPixels = 64 * 64;
constexpr int kMaxFrames = 40;

}   // namespace

int PreloadTarget(const uint8_t* p, size_t n) {
    Setup();
    if (HeaderFrameTooLarge(p, n, kMaxPixels)) return 0;
    HostMediaInfo in = ScratchInput("preload", p, n);
    RvoHandle* pHandle = nullptr;
    const int nResult = RvoDispatch(CMD_PRELOAD, &in, nullptr, &pHandle);
    Expect(nResult == kHostDone || nResult == kHostFailed, "preload: unknown result");
    if (nResult != kHostDone || !pHandle || !pHandle->m_pRvoFile) {
        RvoDispatch(CMD_CLOSE, &in, nullptr, &pHandle);
        return 0;
    }
    CRvoFile* f = pHandle->m_pRvoFile;
    Expect(f->Cache().GetSize() == f->Cache().GetSize(), "cache blocks and sizes disagree");
    const LONG cx = std::clamp<LONG>(f->FrameSize().cx, 1, (LONG)kMaxPixels);
    const LONG cy = std::clamp<LONG>(f->FrameSize().cy, 1, (LONG)kMaxPixels);
    const int nFrames = (int)std::min<LONGLONG>((LONGLONG)pHandle->m_nLastFrame + 2, kMaxFrames);

    CanaryBuffer host(cx + 5, cy + 3);
    HostFrameBuffer dst = host.HostBuffer();
    in.pDst = &dst;
    in.rcRegion = RECT{1, 2, 1 + cx, 2 + cy};
    in.nDeliveryMode = 0;
    for (int field = 0; field < 2 * nFrames; field++) {
        in.dTime = (double)field;
        const int nRead = RvoDispatch(CMD_READ_FRAME, &in, nullptr, &pHandle);
        Expect(nRead == kHostDone || nRead == kHostFailed, "read frame: unknown result");
        host.Check(1, 2, cx, cy, "delivery wrote outside the host rectangle");
    }

    // An odd-height area one pixel narrower than the frame, at an odd address.
    const LONG w = std::max<LONG>(1, cx - 1), h = cy | 1;
    CanaryBuffer area(cx + 1, h);
    for (unsigned field = 0; field < 2u * (unsigned)nFrames; field++) {
        f->DeliverField(field, area.At(1, 0), cx + 1, h, w);
        area.Check(1, 0, w, h, "delivery wrote outside a narrower area");
    }
    f->DeliverField(0xFFFFFFFFu, area.At(1, 0), cx + 1, h, w);
    area.Check(1, 0, w, h, "delivery of a field past the cache wrote");
    RvoDispatch(CMD_CLOSE, &in, nullptr, &pHandle);
    return 0;
}

}   // namespace rvofuzz
