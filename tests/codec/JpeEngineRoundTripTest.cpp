// Round trips through picture blobs, and the streams measured against plain
// libjpeg and djpeg.
#include <cstdlib>
#include <memory>

#include "tests/codec/CodecTestUtil.h"
#include "tests/support/TestFiles.h"

using namespace codectest;

namespace {

struct FrameCase {
    int w, h, stride;
};
const FrameCase kFrames[] = {
    {40, 30, 40},
    {37, 29, 45},
    {64, 48, 64},
    {201, 77, 256},
    {3, 700, 5},
    {333, 9, 333},
};

// A baseline JPEG decoded by djpeg to its samples (PGM or PPM body).
std::vector<BYTE> Djpeg(const std::vector<BYTE>& stream, const std::string& name) {
    std::string in = rvotest::ScratchPath(name + ".jpg"), out = rvotest::ScratchPath(name + ".pnm");
    rvotest::WriteAll(in, stream);
    std::string cmd = "djpeg -pnm -outfile '" + out + "' '" + in + "'";
    if (std::system(cmd.c_str()) != 0) return {};
    std::vector<BYTE> pnm = rvotest::ReadAll(out);
    // Header: magic, width, height, maxval, each followed by one whitespace byte.
    size_t at = 0;
    for (int fields = 0; fields < 4 && at < pnm.size(); at++)
        if (pnm[at] == ' ' || pnm[at] == '\n') fields++;
    return std::vector<BYTE>(pnm.begin() + (ptrdiff_t)at, pnm.end());
}

}   // namespace

TEST(JpeEngineRoundTrip, FramesComeBackWithinTolerance) {
    for (const FrameCase& f : kFrames) {
        SCOPED_TRACE(testing::Message() << f.w << "x" << f.h << " stride " << f.stride);
        std::vector<DWORD> src = GradientFrame(f.w, f.h, f.stride);
        CJpeEngine engine;
        SIZE size = {f.w, f.h};
        HGLOBAL hBlob = engine.Compress(&size, src.data(), f.stride);
        ASSERT_NE(hBlob, nullptr) << "error " << GetLastError();
        ExpectIdle(engine);
        SIZE got = CJpeEngine::GetBlobSize(hBlob);
        EXPECT_EQ(got.cx, f.w);
        EXPECT_EQ(got.cy, f.h);
        EXPECT_EQ(GlobalFlags(hBlob), 0u) << "blob left locked";

        std::unique_ptr<BYTE[]> pOut(engine.Decompress(hBlob));
        ASSERT_NE(pOut, nullptr) << "error " << GetLastError();
        ExpectIdle(engine);
        EXPECT_GT(Psnr(src, f.w, f.h, f.stride, pOut.get(), 0, 3), 30.0);
        EXPECT_GT(Psnr(src, f.w, f.h, f.stride, pOut.get(), 3, 1), 30.0);

        std::vector<DWORD> into((size_t)f.w * f.h, 0);
        ASSERT_TRUE(engine.DecompressInto(hBlob, into.data(), &size));
        ExpectIdle(engine);
        EXPECT_EQ(std::memcmp(into.data(), pOut.get(), into.size() * 4), 0);
        EXPECT_EQ(GlobalFlags(hBlob), 0u);
        EXPECT_TRUE(CJpeEngine::FreeBlob(hBlob));
        EXPECT_FALSE(CJpeEngine::FreeBlob(hBlob));
    }
}

TEST(JpeEngineRoundTrip, StreamsEqualPlainLibjpegAndDecodeLikeDjpeg) {
    bool bHaveDjpeg = std::system("djpeg -version >/dev/null 2>&1 </dev/null") == 0;
    int n = 0;
    for (const FrameCase& f : kFrames) {
        SCOPED_TRACE(testing::Message() << f.w << "x" << f.h);
        std::vector<DWORD> src = GradientFrame(f.w, f.h, f.stride, 7);
        CJpeEngine engine;
        HGLOBAL hBlob = engine.CompressImage(f.w, f.h, src.data(), f.stride);
        ASSERT_NE(hBlob, nullptr);
        BlobParts parts = SplitBlob(hBlob);
        EXPECT_EQ(rvotest::DiffBytes(ReferenceStream(src, f.w, f.h, f.stride, false), parts.alpha), "");
        EXPECT_EQ(rvotest::DiffBytes(ReferenceStream(src, f.w, f.h, f.stride, true), parts.colour), "");

        std::unique_ptr<BYTE[]> pOut(engine.Decompress(hBlob));
        ASSERT_NE(pOut, nullptr);
        CJpeEngine::FreeBlob(hBlob);
        if (!bHaveDjpeg) continue;
        std::vector<BYTE> grey = Djpeg(parts.alpha, "a" + std::to_string(n));
        std::vector<BYTE> rgb = Djpeg(parts.colour, "c" + std::to_string(n++));
        ASSERT_EQ(grey.size(), (size_t)f.w * f.h);
        ASSERT_EQ(rgb.size(), (size_t)f.w * f.h * 3);
        size_t nBad = 0;
        for (size_t i = 0; i < grey.size(); i++) {
            const BYTE* px = pOut.get() + 4 * i;
            nBad += px[3] != grey[i] || px[2] != rgb[3 * i] || px[1] != rgb[3 * i + 1] || px[0] != rgb[3 * i + 2];
        }
        EXPECT_EQ(nBad, 0u) << "pixels differing from djpeg";
    }
    if (!bHaveDjpeg) GTEST_SKIP() << "djpeg not installed";
}

TEST(JpeEngineRoundTrip, ChannelsAreIndependent) {
    const int w = 48, h = 40;
    std::vector<DWORD> base = GradientFrame(w, h, w);
    std::vector<DWORD> otherAlpha = base, otherColour = base;
    for (size_t i = 0; i < base.size(); i++) {
        otherAlpha[i] = (base[i] & 0x00FFFFFFu) | ((DWORD)(i * 37) << 24);
        otherColour[i] = (base[i] & 0xFF000000u) | ((DWORD)(i * 2654435761u) >> 8);
    }
    CJpeEngine engine;
    HGLOBAL h0 = engine.CompressImage(w, h, base.data(), w);
    HGLOBAL hA = engine.CompressImage(w, h, otherAlpha.data(), w);
    HGLOBAL hC = engine.CompressImage(w, h, otherColour.data(), w);
    ASSERT_TRUE(h0 && hA && hC);
    BlobParts p0 = SplitBlob(h0), pA = SplitBlob(hA), pC = SplitBlob(hC);
    EXPECT_EQ(p0.colour, pA.colour);
    EXPECT_NE(p0.alpha, pA.alpha);
    EXPECT_EQ(p0.alpha, pC.alpha);
    EXPECT_NE(p0.colour, pC.colour);

    // Decoding colour must not disturb alpha, nor alpha the colour.
    std::unique_ptr<BYTE[]> d0(engine.Decompress(h0)), dA(engine.Decompress(hA));
    ASSERT_TRUE(d0 && dA);
    size_t nColourDiff = 0;
    for (size_t i = 0; i < base.size(); i++) nColourDiff += std::memcmp(&d0[4 * i], &dA[4 * i], 3) != 0;
    EXPECT_EQ(nColourDiff, 0u);
    for (HGLOBAL hb : {h0, hA, hC}) CJpeEngine::FreeBlob(hb);
}

TEST(JpeEngineRoundTrip, RowTableGrowsWithTheFrame) {
    CJpeEngine engine;
    for (int h : {40, 90, 60, 200}) {
        std::vector<DWORD> src = GradientFrame(32, h, 32);
        HGLOBAL hBlob = engine.CompressImage(32, h, src.data(), 32);
        ASSERT_NE(hBlob, nullptr);
        std::vector<DWORD> out((size_t)32 * h);
        SIZE size = {32, h};
        EXPECT_TRUE(engine.DecompressInto(hBlob, out.data(), &size)) << h;
        EXPECT_GT(Psnr(src, 32, h, 32, (const BYTE*)out.data(), 0, 4), 30.0);
        CJpeEngine::FreeBlob(hBlob);
    }
}

TEST(JpeEngineRoundTrip, SpreadAlphaMovesAPlaneInPlace) {
    const int n = 37;
    std::vector<BYTE> buf(4 * n, 0xEE);
    for (int i = 0; i < n; i++) buf[i] = (BYTE)(i + 1);
    CJpeEngine::SpreadAlpha(buf.data(), buf.data(), n);
    for (int i = 0; i < n; i++) EXPECT_EQ(buf[4 * i + 3], (BYTE)(i + 1)) << i;
}
