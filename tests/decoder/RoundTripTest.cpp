// Movies written through the frame writer and read back through the reader
// into host rectangles: raw and packed byte for byte, JPEG within its bound.
#include <gtest/gtest.h>

#include <cmath>

#include "container/RvoFile.h"
#include "tests/decoder/RecordFiles.h"
#include "tests/support/Movies.h"
#include "tests/support/SyntheticFrames.h"

using namespace dectest;
using rvotest::OpenMovie;
using rvotest::ScratchPath;

namespace {

using Frame = std::vector<uint32_t>;

// Flat, blocks of colour with a few alpha levels, smooth, noisy and
// noisy-alpha frames: every record type of the packed mode appears among them.
std::vector<Frame> Frames(LONG cx, LONG cy) {
    using rvotest::Content;
    std::vector<Frame> v;
    for (Content c : {Content::Flat, Content::Blocks, Content::Gradient, Content::Noise, Content::AlphaNoise})
        v.push_back(rvotest::MakeFrame(cx, cy, c, (uint32_t)(cx * 7919 + cy)));
    return v;
}

std::string WriteMovie(const std::string& name, LONG mode, LONG cx, LONG cy, const std::vector<Frame>& frames) {
    const std::string path = ScratchPath(name);
    EXPECT_TRUE(rvotest::WriteMovie(path, mode, cx, cy, frames));
    return path;
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

}   // namespace

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

TEST(RoundTrip, PackedFramesDecodeStraightIntoTheDestination) {
    // The preload's way: stride equal to the width, no copy through a buffer.
    const std::vector<Frame> frames = Frames(50, 20);
    const std::string path = WriteMovie("direct.rvo", rvo::PackedFrames, 50, 20, frames);
    CRvoFile r;
    ASSERT_TRUE(OpenMovie(r, path));
    for (unsigned i = 0; i < frames.size(); i++) {
        std::vector<DWORD> area(50 * 20);
        DWORD* p = area.data();
        ASSERT_EQ(r.ReadFrame(i, p, 50, 20, FALSE), 1);
        EXPECT_EQ(Frame(p, p + 1000), frames[i]);
    }
    HostBuffer host(50, 20);
    EXPECT_EQ(r.ReadFrame((unsigned)r.LocateFrame(5), host.At(0, 0), 50, 20, TRUE), 0);   // past the end
    EXPECT_EQ(host.Outside(0, 0, 0, 0), 0);
}
