// Frames made from the input written in each writable mode by the frame writer
// and read back: through the reader and from the preload cache. The lossless
// modes must give back every pixel. The JPEG mode only has to stay inside the
// buffers: a frame too small for its streams is stored without a picture.
#include <algorithm>
#include <cstring>
#include <vector>

#include "container/RvoFile.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "platform/File.h"

namespace rvofuzz {

namespace {

using Frame = std::vector<DWORD>;

// Shape bytes: width, height, style; the rest gives the pixels. Style bit 0
// reads the rest as runs {count byte, pixel}, otherwise as pixels repeated;
// bit 1 makes alpha opaque, bit 2 the colour flat, so that every record type
// of the packed mode is reached.
Frame MakeFrame(LONG cx, LONG cy, uint8_t style, const uint8_t* p, size_t n) {
    const size_t nPixels = (size_t)cx * cy;
    Frame f(nPixels, 0);
    if (n >= 4) {
        if (style & 1) {
            size_t i = 0, at = 0;
            while (i < nPixels) {
                if (at + 5 > n) at = 0;
                if (at + 5 > n) break;
                const size_t count = 1 + p[at];
                const DWORD v = LoadLe32(p + at + 1);
                for (size_t k = 0; k < count && i < nPixels; k++) f[i++] = v;
                at += 5;
            }
        } else {
            for (size_t i = 0; i < nPixels; i++) f[i] = LoadLe32(p + (4 * i) % (n - n % 4));
        }
    }
    for (size_t i = 0; i < nPixels; i++) {
        if (style & 2) f[i] |= 0xFF000000u;
        if (style & 4) f[i] = (f[i] & 0xFF000000u) | (f[0] & 0x00FFFFFFu);
    }
    return f;
}

// The frames in a host buffer whose row step is wider than the frame.
bool WriteMovie(const std::u16string& path, LONG mode, LONG cx, LONG cy, const std::vector<Frame>& frames) {
    CRvoFile w;
    const SIZE s{cx, cy};
    if (!w.Create(path.c_str(), mode, &s)) return false;
    const int nStride = cx + 3;
    std::vector<DWORD> host((size_t)nStride * cy, 0x12345678u);
    bool bOk = true;
    for (const Frame& f : frames) {
        for (LONG y = 0; y < cy; y++) std::copy_n(f.data() + (size_t)y * cx, cx, host.data() + (size_t)y * nStride);
        // A JPEG frame too small or noisy for the codec fails but keeps its place, without a picture.
        const int nBefore = w.GetEntryCount();
        bOk = (w.WriteFrame(host.data(), nStride) || (mode == rvo::JpegBlobs && w.GetEntryCount() == nBefore + 1)) && bOk;
    }
    return w.Close(TRUE) && bOk;
}

}   // namespace

int RoundTripTarget(const uint8_t* p, size_t n) {
    Setup();
    if (n < 3) return 0;
    const LONG cx = 1 + p[0] % 32, cy = 1 + p[1] % 32;
    const Frame f0 = MakeFrame(cx, cy, p[2], p + 3, n - 3);
    Frame f1(f0.rbegin(), f0.rend());
    const std::vector<Frame> frames = {f0, f1};
    const std::u16string path = Wide(ScratchPath("roundtrip"));

    for (LONG mode : {rvo::RawFrames, rvo::PackedFrames, rvo::JpegBlobs}) {
        const bool bLossless = mode != rvo::JpegBlobs;
        Expect(WriteMovie(path, mode, cx, cy, frames), "writing a movie failed");

        CRvoFile r;
        Expect(r.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite), "a written movie does not open");
        Expect(r.GetFrameCount() == 2, "a written movie's frame count is wrong");
        if (bLossless) Expect(r.Header().m_nWidth == cx && r.Header().m_nHeight == cy, "a written movie's size is wrong");
        const SIZE s{cx, cy};
        r.SetFrameSize(&s);
        r.SetFirstFrame(0);
        CanaryBuffer out(cx, cy);
        for (int k = 0; k < 2; k++) {
            out.Reset();
            const int entry = r.LocateFrame((unsigned)k);
            const int nRead = r.ReadFrame((unsigned)entry, out.At(0, 0), cx, cy, TRUE);
            Expect(nRead != 0 || !bLossless, "a written frame does not read");
            out.Check(0, 0, cx, cy, "reading a written frame wrote outside it");
            if (bLossless)
                Expect(std::equal(frames[k].begin(), frames[k].end(), out.At(0, 0)), "a lossless frame changed");
        }
        r.Close(FALSE);
        // The JPEG mode's preload is the preload target's; here it would only halve the speed.
        if (!bLossless) continue;

        CRvoFile c;
        Expect(c.Preload(path.c_str(), -1, -1) != 0, "a written movie does not preload");
        for (int k = 0; k < 2; k++) {
            out.Reset();
            Expect(c.DeliverField(2 * k, out.At(0, 0), cx, cy) && c.DeliverField(2 * k + 1, out.At(0, 0), cx, cy),
                   "a preloaded frame is not delivered");
            out.Check(0, 0, cx, cy, "delivery wrote outside the frame");
            // An odd last row belongs to neither field of an odd-height area.
            const size_t nCovered = (size_t)cx * (size_t)(cy & ~1);
            Expect(std::equal(frames[k].begin(), frames[k].begin() + nCovered, out.At(0, 0)),
                   "a preloaded lossless frame changed");
        }
        c.Close(FALSE);
    }
    return 0;
}

}   // namespace rvofuzz
