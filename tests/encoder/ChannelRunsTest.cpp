// The alpha and colour run passes: the run lists of known inputs, the colour
// pass's give-up point, and agreement with a pixel-by-pixel reference walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "encoder/ChannelRuns.h"
#include "platform/Cpu.h"
#include "tests/support/TestFiles.h"
#include "tests/encoder/EncoderTestFrames.h"

using namespace enctest;

namespace {

std::vector<RunRec> ToRuns(const AlphaRunList& l) {
    std::vector<RunRec> v;
    for (const AlphaRun& r : l) v.push_back({r.count, r.pattern, 0, 0});
    return v;
}
std::vector<RunRec> ToRuns(const ColourRunList& l) {
    std::vector<RunRec> v;
    for (const ColourRun& r : l) v.push_back({r.count, r.greenPattern, r.bluePattern, r.redPattern});
    return v;
}

// The same alpha bytes laid out in several frame shapes: one row, three-pixel
// rows with a gap, a single column, bottom-up rows.
std::vector<TestFrame> Shapes(const std::vector<BYTE>& alpha) {
    std::vector<TestFrame> shapes;
    LONG L = (LONG)alpha.size();
    shapes.emplace_back(L, 1);
    if (L % 3 == 0) shapes.emplace_back(3, L / 3, 2);
    shapes.emplace_back(1, L, 3);
    if (L % 2 == 0) shapes.emplace_back(2, L / 2, 1, true);
    for (TestFrame& f : shapes)
        for (size_t i = 0; i < alpha.size(); ++i) f.Walk(i) = Bgra((BYTE)(i * 37), (BYTE)i, 9, alpha[i]);
    return shapes;
}

class SimdModes : public ::testing::TestWithParam<BOOL> {
protected:
    void SetUp() override {
        m_bSaved = g_bSse2;
        g_bSse2 = GetParam();
    }
    void TearDown() override { g_bSse2 = m_bSaved; }
    BOOL m_bSaved = 0;
};

INSTANTIATE_TEST_SUITE_P(Encoder, SimdModes, ::testing::Values(1, 0),
                         [](const auto& info) { return info.param ? "Sse2" : "Plain"; });

TEST_P(SimdModes, AlphaRunListsOfKnownInputs) {
    struct Case {
        std::vector<BYTE> alpha;
        std::vector<RunRec> runs;
    } cases[] = {
        {{1, 2, 3, 4, 5, 5, 5, 5, 5, 5}, {{4, 0x04030201}, {6, 0x05050505}}},
        {{7, 7, 7, 7, 7, 7, 8, 9}, {{4, 0x07070707}, {4, 0x09080707}}},
        {{7, 7, 7, 7, 8, 8, 8, 8}, {{4, 0x07070707}, {4, 0x08080808}}},
        {{1, 2, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5}, {{4, 0x04030201}, {8, 0x04040404}, {1, 0x05050505}}},
        {{1, 2}, {{2, 0x00000201}}},
        {{3, 3, 3, 3, 3}, {{5, 0x03030303}}},
        {{9}, {{1, 0x09090909}}},
        // A uniform group after a literal starts a new run, even of the same value.
        {{1, 2, 2, 2, 2, 2, 2, 2}, {{4, 0x02020201}, {4, 0x02020202}}},
        // A literal is never extended, and a uniform short tail extends a run.
        {{6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6}, {{21, 0x06060606}}},
        {{6, 6, 6, 6, 1, 2, 3, 4, 5, 6, 7}, {{4, 0x06060606}, {4, 0x04030201}, {3, 0x00070605}}},
    };
    for (const Case& c : cases) {
        for (TestFrame& f : Shapes(c.alpha)) {
            SCOPED_TRACE(::testing::Message() << "L=" << c.alpha.size() << " cx=" << f.size.cx);
            std::vector<BYTE> plane(c.alpha.size() + 1, 0xEE);
            AlphaRunList runs;
            EXPECT_FALSE(EncodeAlphaRuns(plane.data(), f.Top(), f.stride, f.size, runs));   // too small to pay
            EXPECT_EQ(ToRuns(runs), c.runs);
            EXPECT_TRUE(std::equal(c.alpha.begin(), c.alpha.end(), plane.begin()));
            EXPECT_EQ(plane.back(), 0xEE);
        }
    }
}

TEST_P(SimdModes, AlphaRunsPayOnlyAboveTheirCost) {
    // Alpha runs pay when roundup16(8 n) + 528 < L.
    struct Case {
        LONG cx, cy;
        size_t nStripe;   // alpha alternates every nStripe pixels
        BOOL bPays;
        size_t nRuns;
    } cases[] = {
        {544, 1, 1000, FALSE, 1},   // 16 + 528 = 544 is not less than 544
        {545, 1, 1000, TRUE, 1},
        {560, 1, 188, FALSE, 3},   // 32 + 528 = 560
        {187, 3, 188, TRUE, 3},    // 561 pixels
        {640, 2, 64, TRUE, 20},
        {264, 3, 4, FALSE, 198},
    };
    for (const Case& c : cases) {
        TestFrame f(c.cx, c.cy, 3);
        for (size_t i = 0; i < f.Count(); ++i) f.Walk(i) = Bgra(1, 2, 3, (i / c.nStripe) % 2 ? 0x80 : 0xFF);
        std::vector<BYTE> plane(f.Count());
        AlphaRunList runs;
        EXPECT_EQ(EncodeAlphaRuns(plane.data(), f.Top(), f.stride, f.size, runs), c.bPays) << c.cx;
        EXPECT_EQ(runs.size(), c.nRuns) << c.cx;
    }
    TestFrame big(640, 480);
    for (size_t i = 0; i < big.Count(); ++i) big.Walk(i) = 0xFFFFFFFFu;
    std::vector<BYTE> plane(big.Count());
    AlphaRunList runs;
    ASSERT_TRUE(EncodeAlphaRuns(plane.data(), big.Top(), big.stride, big.size, runs));
    EXPECT_EQ(ToRuns(runs), (std::vector<RunRec>{{307200, 0xFFFFFFFF}}));
}

TEST_P(SimdModes, ColourPassKeepsOrAbandonsAtTheLimit) {
    auto distinct = [](size_t n) {
        std::vector<DWORD> v;
        for (size_t i = 0; i < n; ++i) v.push_back(Bgra((BYTE)(0x10 + i), (BYTE)(0x20 + i), (BYTE)(0x30 + i), 0x77));
        return v;
    };
    const DWORD a = Bgra(1, 2, 3, 0), b = Bgra(1, 2, 4, 0), x = Bgra(9, 9, 9, 9);
    struct Case {
        const char* name;
        std::vector<DWORD> pixels;
        BOOL bPays;
        std::vector<RunRec> runs;
    } cases[] = {
        {"1x1", {Bgra(0x11, 0x22, 0x33, 0x44)}, TRUE, {{1, 0x22222222, 0x11111111, 0x33333333}}},
        // Limit 14: the literal closed at pixel 4 counts, 16 > 14.
        {"6 distinct", distinct(6), FALSE, {}},
        // Limit 16: 16 is not greater.
        {"7 distinct", distinct(7), TRUE, {{4, 0x23222120, 0x13121110, 0x33323130}, {3, 0x00262524, 0x00161514, 0x00363534}}},
        // Limit 12: the run closes while the last pixel is examined, which does not count.
        {"run closed by the last pixel", {a, a, a, a, b}, TRUE, {{4, 0x02020202, 0x01010101, 0x03030303}, {1, 0x02020202, 0x01010101, 0x04040404}}},
        // Limit 28: the literal closes at pixel 4 (counts); the run closes at
        // pixel 11, the last, inside its literal tail (does not count).
        {"run cut inside the last group", {x, b, x, b, a, a, a, a, a, a, a, b}, TRUE, {{4, 0x02090209, 0x01090109, 0x04090409}, {4, 0x02020202, 0x01010101, 0x03030303}, {4, 0x02020202, 0x01010101, 0x04030303}}},
        // Limit 28 again: two elements closed before pixel 11, 32 > 28.
        {"two closed", {x, b, x, b, a, a, a, a, b, a, a, a}, FALSE, {}},
        // Alpha plays no part in colour values.
        {"alpha ignored", {Bgra(5, 6, 7, 0), Bgra(5, 6, 7, 1), Bgra(5, 6, 7, 2), Bgra(5, 6, 7, 3), Bgra(5, 6, 7, 4)}, TRUE, {{5, 0x06060606, 0x05050505, 0x07070707}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFrame f = RowFrame(c.pixels);
        ColourRunList runs;
        runs.push_back({1, 2, 3, 4});   // stale contents are dropped
        EXPECT_EQ(EncodeColourRuns(f.Top(), f.stride, f.size, runs), c.bPays);
        EXPECT_EQ(ToRuns(runs), c.runs);
    }
}

TEST_P(SimdModes, PassesAgreeWithAReferenceWalk) {
    std::mt19937 rng(1234);
    const int nFrames = 400;
    int nAbandoned = 0;
    for (int t = 0; t < nFrames; ++t) {
        LONG cx = 1 + (LONG)(rng() % 40), cy = 1 + (LONG)(rng() % 6);
        TestFrame f(cx, cy, (int)(rng() % 3), rng() % 4 == 0);
        // Few distinct values and a varying chance to repeat, so that frames land
        // on both sides of the colour limit and runs end at every position.
        unsigned repeat = rng() % 100, palette = 1 + rng() % 4;
        DWORD cur = 0;
        for (size_t i = 0; i < f.Count(); ++i) {
            if (rng() % 100 >= repeat) cur = Bgra((BYTE)(rng() % palette), 7, (BYTE)(rng() % palette), (BYTE)(rng() % palette));
            f.Walk(i) = cur;
        }
        std::vector<DWORD> px = f.Packed();
        SCOPED_TRACE(::testing::Message() << "frame " << t << " " << cx << "x" << cy);

        RefResult colourRef = ReferenceWalk(px, true);
        ColourRunList colour;
        EXPECT_EQ(EncodeColourRuns(f.Top(), f.stride, f.size, colour), !colourRef.bAbandoned);
        EXPECT_EQ(ToRuns(colour), colourRef.runs);
        nAbandoned += colourRef.bAbandoned;

        RefResult alphaRef = ReferenceWalk(px, false);
        std::vector<BYTE> plane(px.size());
        AlphaRunList alpha;
        EncodeAlphaRuns(plane.data(), f.Top(), f.stride, f.size, alpha);
        EXPECT_EQ(ToRuns(alpha), alphaRef.runs);

        // For a record chosen by size: the whole list when it holds at most
        // nMax elements, else nothing; the alpha sweep's count of literal
        // colour groups never exceeds the list's length, or colour runs that
        // would win could be passed over.
        const std::vector<RunRec> whole = ReferenceWalk(px, true, false).runs;
        for (size_t nMax : {whole.size() - 1, whole.size(), whole.size() + 1 + rng() % 3}) {
            EXPECT_EQ(EncodeColourRunsWithin(f.Top(), f.stride, f.size, nMax, colour), whole.size() <= nMax);
            EXPECT_EQ(ToRuns(colour), whole.size() <= nMax ? whole : std::vector<RunRec>()) << "at most " << nMax;
        }
        ULONGLONG nLiterals = ~0ull;
        EncodeAlphaRuns(plane.data(), f.Top(), f.stride, f.size, alpha, &nLiterals);
        EXPECT_EQ(ToRuns(alpha), alphaRef.runs);
        EXPECT_LE(nLiterals, whole.size());
    }
    // Both outcomes of the colour pass must be well represented.
    EXPECT_GT(nAbandoned, nFrames / 5);
    EXPECT_LT(nAbandoned, nFrames * 4 / 5);
}

TEST_P(SimdModes, ColourGroupsAndRowCopies) {
    // Six pixels in rows of two with a gap; groups {0..3} and {4, 5}.
    TestFrame f(2, 3, 1);
    for (size_t i = 0; i < 6; ++i) f.Walk(i) = Bgra((BYTE)(0xB0 + i), (BYTE)(0x60 + i), (BYTE)(0xD0 + i), 0xAA);
    std::vector<uint8_t> groups(24, 0xEE);
    PackColourGroups(groups.data(), f.Top(), f.stride, f.size);
    const std::vector<uint8_t> expected = {
        0x60,
        0x61,
        0x62,
        0x63,
        0xB0,
        0xB1,
        0xB2,
        0xB3,
        0xD0,
        0xD1,
        0xD2,
        0xD3,
        0x64,
        0x65,
        0x00,
        0x00,
        0xB4,
        0xB5,
        0x00,
        0x00,
        0xD4,
        0xD5,
        0x00,
        0x00,
    };
    EXPECT_EQ(rvotest::DiffBytes(expected, groups), "");

    std::vector<uint8_t> rows(6 * 4 + 1, 0xEE);
    CopyFrameRows(rows.data(), f.Top(), f.stride, f.size);
    std::vector<uint8_t> expectRows;
    for (size_t i = 0; i < 6; ++i) rvotest::PutU32(expectRows, f.Walk(i));
    expectRows.push_back(0xEE);
    EXPECT_EQ(rvotest::DiffBytes(expectRows, rows), "");
}

}   // namespace
