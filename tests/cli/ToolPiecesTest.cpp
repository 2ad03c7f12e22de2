// The rvo tool's pieces on their own: argument parsing, PNG files, the
// contact sheet, PSNR and the host sessions the subcommands are built on.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "container/RvoFormat.h"
#include "tests/support/PngKinds.h"
#include "tests/support/SyntheticFrames.h"
#include "tests/support/TestFiles.h"
#include "tools/rvo/ContactSheet.h"
#include "tools/rvo/FramePattern.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/Picture.h"
#include "tools/rvo/PngFiles.h"
#include "tools/rvo/SizeOption.h"
#include "tools/rvo/ToolSupport.h"

namespace {

using rvotest::ScratchPath;

TEST(FrameSizeOption, AcceptsWxHWithinTheLimits) {
    struct Case {
        const char* text;
        bool ok;
        int w, h;
    };
    const Case cases[] = {
        {"1280x720", true, 1280, 720},
        {"1X1", true, 1, 1},
        {"16384x4096", true, 16384, 4096},
        {"0000005x7", false, 0, 0},
        {"000005x7", true, 5, 7},
        {"16385x1", false, 0, 0},
        {"16384x4097", false, 0, 0},
        {"0x5", false, 0, 0},
        {"5x0", false, 0, 0},
        {"x5", false, 0, 0},
        {"5x", false, 0, 0},
        {"5", false, 0, 0},
        {"-5x5", false, 0, 0},
        {"5x5x5", false, 0, 0},
        {" 5x5", false, 0, 0},
        {"5 x5", false, 0, 0},
        {"4294967301x1", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        FrameSize size;
        EXPECT_EQ(ParseFrameSize(c.text, size), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(size.nWidth, c.w) << c.text;
            EXPECT_EQ(size.nHeight, c.h) << c.text;
        }
    }
}

TEST(FramePattern, OneIntegerConversionOnly) {
    struct Case {
        const char* pattern;
        bool ok;
    };
    const Case cases[] = {
        {"f%d.png", true},
        {"frames/f%04d.png", true},
        {"%5d", true},
        {"%%d%d", true},
        {"100%%-%03d", true},
        {"%%", false},
        {"f.png", false},
        {"%s.png", false},
        {"%d%d", false},
        {"%-4d", false},
        {"%100d", false},
        {"%ld", false},
        {"%", false},
        {"%0", false},
        {"%n%d", false},
        {"%*d", false},
        {"%x", false},
        {"%99d", true},
    };
    for (const Case& c : cases) EXPECT_EQ(IsFramePattern(c.pattern), c.ok) << c.pattern;

    EXPECT_EQ(FrameFileName("f%04d.png", 7), "f0007.png");
    EXPECT_EQ(FrameFileName("a%%%d", 12), "a%12");
    EXPECT_EQ(FrameFileName("%d", 2147483647), "2147483647");
    EXPECT_EQ(FrameFileName("x/%99d.png", 3).size(), 2u + 99u + 4u);
}

TEST(PngFiles, PixelsComeBackExactlyIncludingColourUnderZeroAlpha) {
    const int w = 7, h = 5, stride = 9;
    std::vector<DWORD> src((size_t)stride * h, 0xEEEEEEEEu);   // the padding must not be written
    const DWORD samples[] = {0x00123456u, 0xFF000000u, 0x01FFFFFFu, 0x80A0B0C0u, 0xFFFFFFFFu, 0x7F010203u, 0x00000000u};
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            src[(size_t)y * stride + x] = samples[(x + 3 * y) % 7] ^ (DWORD)(x * 0x010305 + y * 0x0B0000);

    const std::string path = ScratchPath("exact.png");
    WritePng(path, src.data(), w, h, stride);
    PngPicture pic = ReadPng(path);
    ASSERT_EQ(pic.nWidth, w);
    ASSERT_EQ(pic.nHeight, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            EXPECT_EQ(pic.pixels[(size_t)y * w + x], src[(size_t)y * stride + x]) << x << "," << y;
}

// Every PNG kind gives its stored samples (16-bit rounded, no gamma or colour conversion).
TEST(PngFiles, KindsReadAsStored) {
    const int w = 9, h = 7;
    for (const rvotest::PngKind& kind : rvotest::PngKinds()) {
        const std::string path = ScratchPath(std::string("kind-") + kind.name + ".png");
        ASSERT_TRUE(rvotest::WritePngKind(path, kind, w, h)) << kind.name;
        PngPicture pic = ReadPng(path);
        ASSERT_EQ(pic.nWidth, w);
        ASSERT_EQ(pic.nHeight, h);
        EXPECT_EQ(std::vector<uint32_t>(pic.pixels.begin(), pic.pixels.end()), rvotest::PngKindPixels(kind, w, h))
            << kind.name;
    }
}

TEST(PngFiles, BadFilesFailNamingTheFile) {
    const std::string text = ScratchPath("text.png");
    rvotest::WriteAll(text, std::vector<uint8_t>(100, 'a'));
    const std::string good = ScratchPath("good.png");
    const std::vector<DWORD> px = rvotest::MakeFrame(64, 64, rvotest::Content::Noise);   // not compressible
    WritePng(good, px.data(), 64, 64, 64);
    std::vector<uint8_t> bytes = rvotest::ReadAll(good);
    bytes.resize(bytes.size() / 2);
    const std::string cut = ScratchPath("cut.png");
    rvotest::WriteAll(cut, bytes);

    struct Case {
        std::string path;
        const char* problem;
    };
    const Case cases[] = {
        {text, "not a readable PNG file"},
        {cut, "damaged PNG file"},
        {ScratchPath("missing.png"), "not a readable PNG file"},
    };
    for (const Case& c : cases) {
        try {
            ReadPng(c.path);
            ADD_FAILURE() << c.path << " was read";
        } catch (const ToolFailure& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.path + ": " + c.problem, 0), 0u) << e.what();
        }
    }
}

TEST(PixelDiff, PsnrOverAllFourBytes) {
    std::vector<DWORD> a(25, 0x80808080u), b = a;
    PixelDiff same;
    same.Add(a.data(), b.data(), a.size());
    EXPECT_TRUE(std::isinf(same.Psnr()));
    EXPECT_EQ(same.PsnrText(), "inf");
    EXPECT_EQ(same.nDiffering, 0u);

    // One byte off by 255 among 100 samples: MSE 255^2 / 100, PSNR 20 dB.
    a[7] = 0x808080FFu;
    b[7] = 0x80808000u;
    PixelDiff one;
    one.Add(a.data(), b.data(), a.size());
    EXPECT_EQ(one.nDiffering, 1u);
    EXPECT_NEAR(one.Psnr(), 20.0, 1e-9);
    EXPECT_EQ(one.PsnrText(), "20.00");
}

TEST(ContactSheet, GridOfCheckerboardCompositedThumbnails) {
    const int w = 8, h = 8, n = 5;
    CContactSheet sheet(w, h, n);
    EXPECT_EQ(sheet.ColumnList(), "0, 1, 2, 4");
    EXPECT_TRUE(sheet.Shows(4));
    EXPECT_FALSE(sheet.Shows(3));
    EXPECT_EQ(sheet.ColumnOf(2), 2);

    std::vector<DWORD> red(w * h, 0xFFFF0000u), clear(w * h, 0x00FFFFFFu), halfBlue(w * h, 0x800000FFu);
    sheet.AddRow([&](int) { return red.data(); });
    sheet.AddRow([&](int k) { return k == 4 ? halfBlue.data() : clear.data(); });
    ASSERT_EQ(sheet.Width(), 4 * 2 + 5 * CContactSheet::kGap);
    ASSERT_EQ(sheet.Height(), 2 * 2 + 3 * CContactSheet::kGap);

    const std::string path = ScratchPath("sheet.png");
    sheet.Write(path);
    PngPicture pic = ReadPng(path);
    ASSERT_EQ(pic.nWidth, sheet.Width());
    ASSERT_EQ(pic.nHeight, sheet.Height());
    auto At = [&](int x, int y) { return pic.pixels[(size_t)y * pic.nWidth + x]; };
    const int g = CContactSheet::kGap;
    EXPECT_EQ(At(0, 0), 0xFF202020u);                         // gap
    EXPECT_EQ(At(g, g), 0xFFFF0000u);                         // row 0, column 0
    EXPECT_EQ(At(g + 3 * (2 + g) + 1, g + 1), 0xFFFF0000u);   // row 0, column 3
    EXPECT_EQ(At(g, 2 * g + 2), 0xFF666666u);                 // row 1: fully transparent shows the checkerboard
    // Half-transparent blue over grey 0x66: blue (255 x 128 + 102 x 127 + 127) / 255, others (102 x 127 + 127) / 255.
    EXPECT_EQ(At(g + 3 * (2 + g), 2 * g + 2), 0xFF3333B3u);
}

TEST(HostSession, WrittenThroughTheHostCommandsAndReadBackExactly) {
    // An even height: delivery from memory leaves the last row of an odd height alone.
    const int w = 5, h = 4, stride = 7, n = 4;
    std::vector<std::vector<DWORD>> frames;
    for (int k = 0; k < n; k++) {
        std::vector<DWORD> f((size_t)stride * h, 0xDDDDDDDDu);
        for (int i = 0; i < w * h; i++) f[(size_t)(i / w) * stride + i % w] = (DWORD)(k * 0x01000000 + i * 0x010101);
        frames.push_back(f);
    }
    for (const char* mode : {"raw", "packed"}) {
        const std::string path = ScratchPath(std::string("session-") + mode + ".rvo");
        {
            CHostWriter writer(path, CompressionForModeName(mode), w, h, n);
            for (const auto& f : frames) EXPECT_EQ(writer.Write(f.data(), stride), kHostDone) << mode;
            // The movie was announced with n frames: one more is refused.
            EXPECT_EQ(writer.Write(frames[0].data(), stride), kHostRefused) << mode;
            EXPECT_EQ(writer.Close(), 0u) << mode;
        }
        CHostReader reader(path);
        std::vector<DWORD> px((size_t)w * h);
        for (int k = 0; k <= n; k++) {
            ASSERT_EQ(reader.ReadFrame(k, px.data(), w, h, false), 0u) << mode << " frame " << k;
            const auto& f = frames[(size_t)std::min(k, n - 1)];   // past the end: the last frame
            for (int i = 0; i < w * h; i++)
                ASSERT_EQ(px[(size_t)i], f[(size_t)(i / w) * stride + i % w]) << mode << " frame " << k << " pixel " << i;
        }
        PreloadReport pre = reader.Preload("test");
        EXPECT_EQ(pre.nFramesTotal, n);
        EXPECT_EQ(pre.nFramesLoaded, n);
        EXPECT_EQ(pre.nBytesLocked, 4ull * w * h * n);
        EXPECT_EQ(pre.dwLastError, 0u);
        std::fill(px.begin(), px.end(), 0u);
        ASSERT_EQ(reader.ReadFrame(2, px.data(), w, h, true), 0u);
        for (int i = 0; i < w * h; i++) EXPECT_EQ(px[(size_t)i], frames[2][(size_t)(i / w) * stride + i % w]);
    }
}

TEST(HostSession, FailuresNameTheFile) {
    EXPECT_EQ(CompressionForModeName("jpeg"), 1);
    EXPECT_EQ(CompressionForModeName("packed"), 2);
    EXPECT_EQ(CompressionForModeName("raw"), 0);
    EXPECT_EQ(CompressionForModeName("RAW"), -1);

    const std::string noFolder = ScratchPath("missing-folder") + "/x.rvo";
    try {
        CHostWriter writer(noFolder, 0, 4, 4, 1);
        ADD_FAILURE() << "created in a missing folder";
    } catch (const ToolFailure& e) {
        EXPECT_NE(std::string(e.what()).find(noFolder + ": cannot be created: no such folder"), std::string::npos)
            << e.what();
    }
    const std::string missing = ScratchPath("missing.rvo");
    EXPECT_THROW(CHostReader reader(missing), ToolFailure);

    // The JPEG codec cannot hold a tiny noisy frame: command 8 fails, and the
    // frame keeps its place (the next is refused, as the movie has one frame).
    const std::string jpeg = ScratchPath("tiny-jpeg.rvo");
    CHostWriter writer(jpeg, 1, 4, 4, 1);
    const std::vector<DWORD> noise = rvotest::MakeFrame(4, 4, rvotest::Content::Noise);
    EXPECT_EQ(writer.Write(noise.data(), 4), kHostFailed);
    EXPECT_EQ(writer.Write(noise.data(), 4), kHostRefused);
}

}   // namespace
