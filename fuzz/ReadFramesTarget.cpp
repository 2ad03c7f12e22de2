// A file opened for reading as the host opens one, every frame read through
// the read-frame command into an offset host rectangle, then read again
// straight from the object: into a buffer of exactly the frame, and through
// the working buffer into a narrower area.
#include <algorithm>
#include <cstring>

#include "container/RvoFile.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "plugin/Dispatch.h"

namespace rvofuzz {

namespace {

constexpr uint64_t kMaxPixels = 64 * 64;
constexpr int kMaxFrames = 16;

}   // namespace

int ReadFramesTarget(const uint8_t* p, size_t n) {
    Setup();
    if (HeaderFrameTooLarge(p, n, kMaxPixels)) return 0;
    HostMediaInfo in = ScratchInput("read", p, n);
    RvoHandle* pHandle = nullptr;
    if (RvoDispatch(CMD_OPEN_READ, &in, nullptr, &pHandle) != kHostDone) {
        RvoDispatch(CMD_CLOSE, &in, nullptr, &pHandle);
        return 0;
    }
    CRvoFile* f = pHandle->m_pRvoFile;
    Expect(f != nullptr, "open succeeded without a file");
    const LONG cx = std::clamp<LONG>(f->FrameSize().cx, 1, (LONG)kMaxPixels);
    const LONG cy = std::clamp<LONG>(f->FrameSize().cy, 1, (LONG)kMaxPixels);
    const int nFrames = (int)std::min<LONGLONG>((LONGLONG)pHandle->m_nLastFrame + 2, kMaxFrames);

    // The host rectangle sits at (3, 2) in a larger buffer.
    CanaryBuffer host(cx + 7, cy + 4);
    HostFrameBuffer dst = host.HostBuffer();
    in.pDst = &dst;
    in.rcRegion = RECT{3, 2, 3 + cx, 2 + cy};
    in.nDeliveryMode = 2;
    for (int k = 0; k < nFrames; k++) {
        in.dTime = 2.0 * k;
        const int nResult = RvoDispatch(CMD_READ_FRAME, &in, nullptr, &pHandle);
        Expect(nResult == kHostDone || nResult == kHostFailed, "read frame: unknown result");
        host.Check(3, 2, cx, cy, "read frame wrote outside the host rectangle");
    }

    // Straight from the object, bypassing the command's skip of a repeated entry.
    CanaryBuffer exact(cx, cy);
    CanaryBuffer narrow(cx, cy + 1);
    const LONG nNarrow = std::max<LONG>(1, cx / 2);
    for (int k = 0; k < nFrames; k++) {
        const int entry = f->LocateFrame((unsigned)k);
        f->ReadFrame((unsigned)entry, exact.At(0, 0), cx, cy, FALSE);
        exact.Check(0, 0, cx, cy, "frame read wrote past a buffer of the frame's size");
        f->ReadFrame((unsigned)entry, narrow.At(0, 0), cx, cy - 1, TRUE, nNarrow);
        narrow.Check(0, 0, nNarrow, cy - 1, "frame read wrote outside a narrower area");
    }
    RvoDispatch(CMD_CLOSE, &in, nullptr, &pHandle);
    Expect(pHandle == nullptr, "close left the handle");
    return 0;
}

}   // namespace rvofuzz
