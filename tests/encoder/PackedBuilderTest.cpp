// Packed records built in memory: known frames against bytes written out field
// by field, and random frames expanded by the test's own reader of the layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "container/PackedRecord.h"
#include "decoder/PackedDecode.h"
#include "encoder/PackedBuilder.h"
#include "platform/Cpu.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"
#include "tests/encoder/EncoderTestFrames.h"
#include "tests/support/TestFiles.h"

using namespace enctest;
using rvotest::DiffBytes;
using rvotest::PutU32;
using rvotest::PutZeros;

namespace {

constexpr uint8_t kStale = 0xCC;

// Builds the frame's record in a page-aligned buffer full of stale bytes, as the
// frame buffer is after earlier frames, with the given vector setting.
std::vector<uint8_t> Build(TestFrame& f, BOOL bSse2 = TRUE, RvoPackRule rule = RvoPackRule::Standard) {
    BOOL saved = g_bSse2;
    g_bSse2 = bSse2;
    size_t cap = (size_t)rvo::MaxPackedRecordBytes(f.Count());
    BYTE* p = static_cast<BYTE*>(AllocAligned(cap));
    std::memset(p, kStale, cap);
    DWORD n = BuildPackedRecord(p, f.Top(), f.stride, f.size, rule);
    g_bSse2 = saved;
    std::vector<uint8_t> rec(p, p + n);
    bool bUntouched = true;
    for (size_t i = n; i < cap; ++i) bUntouched = bUntouched && p[i] == kStale;
    FreeAligned(p);
    EXPECT_TRUE(bUntouched) << "bytes written past the record";
    return rec;
}

void PutHeader(std::vector<uint8_t>& v, uint32_t tag, uint32_t bytes, uint32_t s1, uint32_t L) {
    PutU32(v, tag);
    PutU32(v, bytes);
    PutU32(v, s1);
    PutU32(v, L);
}

TestFrame Flat(LONG cx, LONG cy, DWORD px) {
    TestFrame f(cx, cy, 5);
    for (size_t i = 0; i < f.Count(); ++i) f.Walk(i) = px;
    return f;
}

TEST(PackedBuilder, UniformFrameIsAlphaRunsRecord) {
    // A colour-runs record of this frame would be smaller (307712 bytes); the
    // alpha-runs record shows that the colour pass is not consulted when alpha pays.
    TestFrame f = Flat(640, 480, Bgra(0x30, 0x20, 0x10, 0xFF));
    std::vector<uint8_t> expected;
    PutHeader(expected, 0xFF000001u, 922112, 4, 307200);
    PutU32(expected, 307200);
    PutU32(expected, 0xFFFFFFFFu);
    PutZeros(expected, 8);
    for (int g = 0; g < 76800; ++g) {
        PutU32(expected, 0x20202020u);
        PutU32(expected, 0x30303030u);
        PutU32(expected, 0x10101010u);
    }
    PutZeros(expected, 922112 - expected.size());
    ASSERT_EQ(expected.size(), 922112u);
    EXPECT_EQ(DiffBytes(expected, Build(f)), "");
}

TEST(PackedBuilder, SmallFramesOfEachType) {
    std::vector<uint8_t> one;
    PutHeader(one, 0xFF000010u, 512, 4, 1);
    one.push_back(0x44);
    PutZeros(one, 15);
    for (uint32_t w : {1u, 0x22222222u, 0x11111111u, 0x33333333u}) PutU32(one, w);
    PutZeros(one, 512 - one.size());

    std::vector<DWORD> six, seven;
    for (int i = 0; i < 7; ++i) (i < 6 ? six : seven).push_back(Bgra((BYTE)(0x10 + i), (BYTE)(0x20 + i), (BYTE)(0x30 + i), (BYTE)(0x40 + i)));
    seven.insert(seven.begin(), six.begin(), six.end());
    std::vector<uint8_t> raw6;
    PutHeader(raw6, 0xFF000000u, 512, 0, 6);
    for (DWORD px : six) PutU32(raw6, px);
    PutZeros(raw6, 512 - raw6.size());

    std::vector<uint8_t> runs7;
    PutHeader(runs7, 0xFF000010u, 512, 4, 7);
    for (int i = 0; i < 7; ++i) runs7.push_back((uint8_t)(0x40 + i));
    PutZeros(runs7, 9);
    for (uint32_t w : {4u, 0x23222120u, 0x13121110u, 0x33323130u, 3u, 0x00262524u, 0x00161514u, 0x00363534u})
        PutU32(runs7, w);
    PutZeros(runs7, 512 - runs7.size());

    // Three alpha runs: 24 bytes of runs padded to 32, colour groups from 48.
    std::vector<uint8_t> three;
    PutHeader(three, 0xFF000001u, 2048, 8, 600);
    for (uint32_t w : {200u, 0x10101010u, 200u, 0x20202020u, 200u, 0x30303030u}) PutU32(three, w);
    PutZeros(three, 8);
    for (int g = 0; g < 150; ++g)
        for (uint32_t w : {0x02020202u, 0x01010101u, 0x03030303u}) PutU32(three, w);
    PutZeros(three, 2048 - three.size());
    TestFrame threeFrame(24, 25, 3);
    for (size_t i = 0; i < 600; ++i) threeFrame.Walk(i) = Bgra(1, 2, 3, (BYTE)(0x10 * (1 + i / 200)));

    struct Case {
        const char* name;
        TestFrame frame;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"1x1", RowFrame({Bgra(0x11, 0x22, 0x33, 0x44)}), one},
        {"6x1 distinct", RowFrame(six), raw6},
        {"7x1 distinct", RowFrame(seven), runs7},
        {"three alpha runs", threeFrame, three},
    };
    for (Case& c : cases) {
        EXPECT_EQ(DiffBytes(c.expected, Build(c.frame, TRUE)), "") << c.name;
        EXPECT_EQ(DiffBytes(c.expected, Build(c.frame, FALSE)), "") << c.name << " (plain)";
    }
}

TEST(PackedBuilder, NoiseFrameIsRawRecordOfTheLargestSize) {
    TestFrame f(640, 480, 16);
    Fill(f, rvotest::Content::Noise, 7);
    std::vector<uint8_t> rec = Build(f);
    ASSERT_EQ(rec.size(), 1229312u);
    std::vector<uint8_t> expected;
    PutHeader(expected, 0xFF000000u, 1229312, 0, 307200);
    for (size_t i = 0; i < f.Count(); ++i) PutU32(expected, f.Walk(i));
    PutZeros(expected, 1229312 - expected.size());
    EXPECT_EQ(DiffBytes(expected, rec), "");
}

TEST(PackedBuilder, RefusesFramesWithoutPixels) {
    BYTE buf[512];
    DWORD px = 0;
    for (SIZE size : {SIZE{0, 5}, SIZE{5, 0}, SIZE{-1, 3}, SIZE{20000, 1}}) {
        SetLastError(0);
        EXPECT_EQ(BuildPackedRecord(buf, &px, 1, size), 0u) << size.cx << "x" << size.cy;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(BuildPackedRecord(buf, nullptr, 1, SIZE{1, 1}), 0u);
}

// Random frames of the kinds a host renders: graphics with long runs and soft
// edges, noise, alternating colours, mixtures that favour each record type,
// all transparent, and the benchmarks' graphics and natural video.
constexpr int kKinds = 9;
TestFrame RandomFrame(std::mt19937& rng, int kind) {
    // Alpha runs pay only above 544 pixels: the kinds with flat alpha are mostly large.
    bool bFlatAlpha = kind == 0 || kind == 2 || kind == 4 || kind >= 6;
    bool bBig = bFlatAlpha ? rng() % 4 != 0 : rng() % 3 == 0;
    LONG cx = 1 + (LONG)(rng() % (bBig ? 97 : 23)), cy = bBig ? 6 + (LONG)(rng() % 15) : 1 + (LONG)(rng() % 5);
    if ((cx * cy) % 4 == 0) ++cx;   // mostly pixel counts not a multiple of 4
    if (rng() % 5 == 0) cx = 1;
    TestFrame f(cx, cy, (int)(rng() % 8), rng() % 5 == 0);
    DWORD c0 = rng(), c1 = rng();
    for (size_t i = 0; i < f.Count(); ++i) {
        LONG x = (LONG)(i % (size_t)cx), y = (LONG)(i / (size_t)cx);
        DWORD px = 0;
        switch (kind) {
        case 0: {   // graphics: a box on a transparent ground, an anti-aliased edge
            bool bIn = x >= cx / 4 && x < 3 * cx / 4 && y >= cy / 4;
            bool bEdge = x == cx / 4 || x == 3 * cx / 4 - 1;
            px = bIn ? (c0 & 0x00FFFFFF) | (bEdge ? (DWORD)(rng() & 0xFF) << 24 : 0xFF000000u) : 0;
            break;
        }
        case 1: px = rng(); break;                                  // noise
        case 2: px = (i % 2) ? c0 : c1; break;                      // alternating colours
        case 3: px = (c0 & 0x00FFFFFF) | (rng() << 24); break;      // flat colour, noisy alpha
        case 4: px = (rng() & 0x00FFFFFF) | 0x80000000u; break;     // flat alpha, noisy colour
        case 5: px = (i * 7 / f.Count()) % 2 ? rng() : c1; break;   // half flat, half noise
        default: px = kind == 6 ? c0 & 0x00FFFFFF : 0; break;       // transparent, colour kept or not
        }
        f.Walk(i) = px;
    }
    if (kind == 7) Fill(f, rvotest::Content::Graphics, rng());
    if (kind == 8) Fill(f, rvotest::Content::Natural, rng());
    return f;
}

// The record sizes of a frame's three types, from reference walks of its channels.
struct TypeSizes {
    uint64_t raw, alpha, colour;
};
TypeSizes SizesOfEachType(const std::vector<DWORD>& px) {
    auto up = [](uint64_t x, uint64_t m) { return (x + m - 1) / m * m; };
    const uint64_t L = px.size();
    const uint64_t nAlpha = ReferenceWalk(px, false).runs.size(), nColour = ReferenceWalk(px, true, false).runs.size();
    return {up(16 + 4 * L, 512), up(16 + up(8 * nAlpha, 16) + 12 * ((L + 3) / 4), 512),
            up(16 + up(L, 16) + 16 * nColour, 512)};
}

TEST(PackedBuilder, RandomFramesExpandExactlyWithEitherVectorSetting) {
    std::mt19937 rng(20240611);
    const int nFrames = 900;
    std::map<uint32_t, int> types;
    int nColourOverAlpha = 0;
    for (int t = 0; t < nFrames; ++t) {
        TestFrame f = RandomFrame(rng, t % kKinds);
        SCOPED_TRACE(::testing::Message() << "frame " << t << " kind " << t % kKinds << " " << f.size.cx << "x"
                                          << f.size.cy << " stride " << f.stride);
        std::vector<uint8_t> rec = Build(f, TRUE);
        ASSERT_FALSE(rec.empty());
        EXPECT_LE(rec.size(), rvo::MaxPackedRecordBytes(f.Count()));
        EXPECT_EQ(DiffBytes(rec, Build(f, FALSE)), "");
        std::vector<DWORD> back = ExpandPackedRecord(rec);
        ASSERT_EQ(back.size(), f.Count()) << "record does not expand";
        EXPECT_TRUE(back == f.Packed());
        // The module's own reader agrees with the writer on the layout.
        DWORD nMax = (DWORD)rvo::MaxPackedRecordBytes(f.Count());
        ASSERT_TRUE(CheckPackedRecord(rec.data(), (DWORD)f.Count(), nMax));
        std::vector<DWORD> decoded(f.Count());
        DecodePackedRecord(rec.data(), decoded.data());
        EXPECT_TRUE(decoded == f.Packed());
        types[GetU32(rec, 0)]++;

        // The smallest record of the three, and the module's own where that
        // is as small.
        std::vector<uint8_t> smallest = Build(f, TRUE, RvoPackRule::Smallest);
        EXPECT_EQ(DiffBytes(smallest, Build(f, FALSE, RvoPackRule::Smallest)), "");
        const TypeSizes sizes = SizesOfEachType(f.Packed());
        const uint64_t nLeast = std::min({sizes.raw, sizes.alpha, sizes.colour});
        EXPECT_EQ(smallest.size(), nLeast);
        if (rec.size() == nLeast) {
            EXPECT_EQ(DiffBytes(rec, smallest), "");
        }
        const uint32_t tag = GetU32(smallest, 0);
        EXPECT_EQ(tag == 0xFF000000u ? sizes.raw : tag == 0xFF000001u ? sizes.alpha
                                                                      : sizes.colour,
                  nLeast);
        ASSERT_TRUE(CheckPackedRecord(smallest.data(), (DWORD)f.Count(), nMax));
        DecodePackedRecord(smallest.data(), decoded.data());
        EXPECT_TRUE(decoded == f.Packed());
        nColourOverAlpha += GetU32(rec, 0) == 0xFF000001u && tag == 0xFF000010u;
    }
    EXPECT_GT(types[0xFF000000u], nFrames / 20);
    EXPECT_GT(types[0xFF000001u], nFrames / 20);
    EXPECT_GT(types[0xFF000010u], nFrames / 20);
    // Smallest stores colour runs where the module's rule keeps alpha runs.
    EXPECT_GT(nColourOverAlpha, nFrames / 20);
}

}   // namespace
