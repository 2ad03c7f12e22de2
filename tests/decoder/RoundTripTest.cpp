// Movies written through the frame writer and read back through the reader
// into host rectangles: raw and packed byte for byte, JPEG within its bound.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "container/RvoFile.h"
#include "tests/decoder/RecordFiles.h"

using namespace dectest;
using rvotest::ScratchPath;
using rvotest::Wide;

namespace {

using Frame = std::vector<uint32_t>;

// Flat, graphics (blocks of colour with a few alpha levels), smooth and noisy
// frames: every record type of the packed mode appears among them.
std::vector<Frame> Frames(LONG cx, LONG cy) {
    std::mt19937 rng((uint32_t)(cx * 7919 + cy));
    std::vector<Frame> v;
    v.push_back(Frame((size_t)cx * cy, 0xFF336699u));
    Frame blocks((size_t)cx * cy), smooth((size_t)cx * cy), noise((size_t)cx * cy), alphaNoise((size_t)cx * cy);
    for (LONG y = 0; y < cy; y++)
        for (LONG x = 0; x < cx; x++) {
            const size_t i = (size_t)y * cx + x;
            blocks[i] = ((x / 8 + y / 5) % 3 == 0) ? 0x80FF0000u : (x < cx / 2 ? 0xFF00FF00u : 0x000000FFu);
            smooth[i] = (uint32_t)(x * 255 / std::max<LONG>(cx - 1, 1)) |
                        ((uint32_t)(y * 255 / std::max<LONG>(cy - 1, 1)) << 8) | 0xFF400000u;
            noise[i] = (uint32_t)rng();
            alphaNoise[i] = 0x00204060u | ((uint32_t)(rng() & 0xFF) << 24);   // flat colour, noisy alpha
        }
    v.push_back(blocks);
    v.push_back(smooth);
    v.push_back(noise);
    v.push_back(alphaNoise);
    return v;
}

std::string WriteMovie(const std::string& name, LONG mode, LONG cx, LONG cy, const std::vector<Frame>& frames) {
    const std::string path = ScratchPath(name);
    CRvoFile w;
    w.m_nMode = mode;
    EXPECT_TRUE(w.Create(Wide(path).c_str()));
    const SIZE s = {cx, cy};
    w.SetFrameSize(&s);
    for (const Frame& f : frames) EXPECT_TRUE(w.WriteFrame(f.data(), cx));
    EXPECT_TRUE(w.Close(TRUE));
    return path;
}

// Opened as the host's open command leaves a file for reading.
bool OpenMovie(CRvoFile& r, const std::string& path) {
    if (!r.Open(Wide(path).c_str(), 0x20)) return false;
    const SIZE s = {r.m_nWidth, r.m_nHeight};
    r.SetFrameSize(&s);
    r.m_nOriginX = 0;
    r.m_nOriginY = 0;
    r.SetFirstFrame(0);
    return true;
}

double Psnr(const Frame& a, const Frame& b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); i++)
        for (int k = 0; k < 32; k += 8) {
            const double d = (double)((a[i] >> k) & 0xFF) - (double)((b[i] >> k) & 0xFF);
            se += d * d;
        }
    const double mse = se / (4.0 * (double)a.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

TEST(RoundTrip, EveryWritableModeThroughHostRectangles) {
    struct Size {
        LONG cx, cy;
    };
    const Size sizes[] = {{1, 1}, {1, 9}, {13, 7}, {33, 3}, {64, 48}, {101, 37}};
    for (LONG mode : {rvo::RawFrames, rvo::PackedFrames, rvo::JpegBlobs})
        for (const Size& sz : sizes) {
            // The JPEG codec wants whole 8 x 8 blocks to keep within its bound on these patterns.
            if (mode == rvo::JpegBlobs && (sz.cx < 8 || sz.cy < 8)) continue;
            SCOPED_TRACE("mode " + std::to_string(mode) + " " + std::to_string(sz.cx) + "x" + std::to_string(sz.cy));
            const std::vector<Frame> frames = Frames(sz.cx, sz.cy);
            const std::string path = WriteMovie("rt.rvo", mode, sz.cx, sz.cy, frames);
            CRvoFile r;
            ASSERT_TRUE(OpenMovie(r, path));
            ASSERT_EQ(r.GetFrameCount(), (int)frames.size());
            for (unsigned i = 0; i < frames.size(); i++) {
                SCOPED_TRACE("frame " + std::to_string(i));
                // Host buffer wider than the frame, rectangle at (3, 2), misaligned by one pixel.
                const int stride = sz.cx + 9;
                HostBuffer host(stride, sz.cy + 4, 1);
                const int e = r.LocateFrame(i);
                ASSERT_EQ(r.ReadFrame((unsigned)e, host.At(3, 2), stride, sz.cy, TRUE, sz.cx + 5), 1);
                EXPECT_EQ(host.Outside(3, 2, sz.cx, sz.cy), 0);
                const Frame got = host.Rect(3, 2, sz.cx, sz.cy);
                if (mode == rvo::JpegBlobs) {
                    // The flat and smooth frames; hard colour edges and noise are beyond JPEG's bound.
                    if (i == 0 || i == 2) {
                        EXPECT_GT(Psnr(got, frames[i]), 30.0);
                    }
                } else {
                    EXPECT_EQ(got, frames[i]);
                }
            }
        }
}

TEST(RoundTrip, PackedFramesDecodeStraightIntoTheFrameBuffer) {
    // The preload's way: stride equal to the width, the working buffer as target.
    const std::vector<Frame> frames = Frames(50, 20);
    const std::string path = WriteMovie("direct.rvo", rvo::PackedFrames, 50, 20, frames);
    CRvoFile r;
    ASSERT_TRUE(OpenMovie(r, path));
    for (unsigned i = 0; i < frames.size(); i++) {
        DWORD* p = reinterpret_cast<DWORD*>(r.m_pFrameBuffer);
        ASSERT_EQ(r.ReadFrame(i, p, 50, 20, FALSE), 1);
        EXPECT_EQ(Frame(p, p + 1000), frames[i]);
    }
    HostBuffer host(50, 20);
    EXPECT_EQ(r.ReadFrame((unsigned)r.LocateFrame(5), host.At(0, 0), 50, 20, TRUE), 0);   // past the end
    EXPECT_EQ(host.Outside(0, 0, 0, 0), 0);
}
