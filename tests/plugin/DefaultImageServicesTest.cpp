// The default image services: PNG and JPEG files read at their own size and
// stretched, their sizes reported, and files that are not images refused.
#include <gtest/gtest.h>

#include <vector>

#include "platform/HostImageServices.h"
#include "plugin/DefaultImageServices.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/PngKinds.h"
#include "tests/support/TestFiles.h"

using rvotest::ScratchPath;
using rvotest::Wide;
using rvotest::WriteFlatJpeg;
using rvotest::WritePng;

TEST(DefaultImageServices, PngAtItsOwnSizeIsExact) {
    const std::vector<uint32_t> px = {0x80112233u, 0xFF445566u, 0x00778899u, 0x10AABBCCu, 0xFFDDEEFFu, 0x7F010203u};
    const std::string path = ScratchPath("six.png");
    ASSERT_TRUE(WritePng(path, px, 3, 2));
    int w = 0, h = 0, a = 9, b = 9;
    ASSERT_TRUE(DefaultGetImgInfo(Wide(path).c_str(), &a, &b, &w, &h));
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    std::vector<DWORD> out(6);
    ASSERT_TRUE(DefaultReadImage(Wide(path).c_str(), out.data(), 3, 2));
    EXPECT_EQ(std::vector<uint32_t>(out.begin(), out.end()), px);
}

// Every PNG kind reads as its stored samples: no gamma or colour conversion,
// 16-bit samples rounded to 8 bits.
TEST(DefaultImageServices, PngKindsReadAsStored) {
    const int w = 9, h = 7;
    for (const rvotest::PngKind& kind : rvotest::PngKinds()) {
        const std::string path = ScratchPath(std::string("kind-") + kind.name + ".png");
        ASSERT_TRUE(rvotest::WritePngKind(path, kind, w, h)) << kind.name;
        int cx = 0, cy = 0;
        ASSERT_TRUE(DefaultGetImgInfo(Wide(path).c_str(), nullptr, nullptr, &cx, &cy)) << kind.name;
        EXPECT_EQ(cx, w);
        EXPECT_EQ(cy, h);
        std::vector<DWORD> out((size_t)w * h);
        ASSERT_TRUE(DefaultReadImage(Wide(path).c_str(), out.data(), w, h)) << kind.name;
        EXPECT_EQ(std::vector<uint32_t>(out.begin(), out.end()), rvotest::PngKindPixels(kind, w, h)) << kind.name;
    }
}

TEST(DefaultImageServices, StretchIsBilinearAtPixelCentres) {
    // Blue 0 and 255 side by side, stretched to four columns: 0, 64, 191, 255; rows repeat.
    const std::string path = ScratchPath("ramp.png");
    ASSERT_TRUE(WritePng(path, {0xFF000000u, 0xFF0000FFu}, 2, 1));
    std::vector<DWORD> out(8, 0xDEADBEEFu);
    ASSERT_TRUE(DefaultReadImage(Wide(path).c_str(), out.data(), 4, 2));
    const std::vector<DWORD> expected = {0xFF000000u, 0xFF000040u, 0xFF0000BFu, 0xFF0000FFu,
                                         0xFF000000u, 0xFF000040u, 0xFF0000BFu, 0xFF0000FFu};
    EXPECT_EQ(out, expected);
    // Shrinking a flat picture keeps it flat.
    const std::string flat = ScratchPath("flat.png");
    ASSERT_TRUE(WritePng(flat, std::vector<uint32_t>(40 * 30, 0x80604020u), 40, 30));
    std::vector<DWORD> small(7 * 5);
    ASSERT_TRUE(DefaultReadImage(Wide(flat).c_str(), small.data(), 7, 5));
    for (DWORD v : small) EXPECT_EQ(v, 0x80604020u);
}

TEST(DefaultImageServices, JpegGetsOpaqueAlpha) {
    const std::string path = ScratchPath("flat.jpg");
    WriteFlatJpeg(path, 16, 8, 200, 100, 50);
    int w = 0, h = 0;
    ASSERT_TRUE(DefaultGetImgInfo(Wide(path).c_str(), nullptr, nullptr, &w, &h));
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 8);
    std::vector<DWORD> out(32 * 4);
    ASSERT_TRUE(DefaultReadImage(Wide(path).c_str(), out.data(), 32, 4));
    for (DWORD v : out) {
        EXPECT_EQ(v >> 24, 0xFFu);
        EXPECT_NEAR((int)((v >> 16) & 0xFF), 200, 3);
        EXPECT_NEAR((int)((v >> 8) & 0xFF), 100, 3);
        EXPECT_NEAR((int)(v & 0xFF), 50, 3);
    }
}

TEST(DefaultImageServices, NonImagesAndBrokenFilesFail) {
    const std::string png = ScratchPath("cut-src.png");
    ASSERT_TRUE(WritePng(png, std::vector<uint32_t>(64 * 64, 0x12345678u), 64, 64));
    std::vector<uint8_t> bytes = rvotest::ReadAll(png);
    bytes.resize(bytes.size() / 2);
    const std::string cut = ScratchPath("cut.png");
    rvotest::WriteAll(cut, bytes);
    const std::string text = ScratchPath("text.png");
    rvotest::WriteAll(text, std::vector<uint8_t>(100, 'x'));
    const std::string jpg = ScratchPath("cut-src.jpg");
    WriteFlatJpeg(jpg, 64, 64, 1, 2, 3);
    std::vector<uint8_t> jbytes = rvotest::ReadAll(jpg);
    jbytes.resize(200);
    const std::string jcut = ScratchPath("cut.jpg");
    rvotest::WriteAll(jcut, jbytes);

    std::vector<DWORD> out(64 * 64);
    for (const std::string& p : {cut, text, jcut, ScratchPath("missing.png")}) {
        EXPECT_FALSE(DefaultReadImage(Wide(p).c_str(), out.data(), 64, 64)) << p;
    }
    int w = 0, h = 0;
    EXPECT_FALSE(DefaultGetImgInfo(Wide(text).c_str(), nullptr, nullptr, &w, &h));
    EXPECT_FALSE(DefaultReadImage(Wide(png).c_str(), out.data(), 0, 64));
}

TEST(DefaultImageServices, InstallSetsBothSlots) {
    InstallDefaultImageServices();
    EXPECT_EQ(g_pfnReadImage, &DefaultReadImage);
    EXPECT_EQ(g_pfnGetImgInfo, &DefaultGetImgInfo);
}
