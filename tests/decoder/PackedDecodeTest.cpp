// Packed-record decoders and checker: golden records, random run layouts
// through aligned and unaligned targets, and a table of damaged records.
#include <gtest/gtest.h>

#include <cstring>

#include "decoder/PackedDecode.h"
#include "platform/GlobalMemory.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"
#include "tests/decoder/PackedRecords.h"

using namespace dectest;

namespace {

constexpr uint32_t kCanary = 0x5A5A5A5Au;

// Decodes rec into a canary-filled buffer at pixel offset `shift` (0 keeps the
// target 16-byte aligned) and returns the decoded pixels; canaries must survive.
std::vector<uint32_t> Decode(const std::vector<uint8_t>& rec, uint32_t L, size_t shift) {
    // The record in a page-aligned buffer, as the reader holds it.
    BYTE* pRec = static_cast<BYTE*>(AllocAligned(rec.size()));
    std::memcpy(pRec, rec.data(), rec.size());
    // Records of short runs can outgrow the raw record, which no writer stores
    // and the checker refuses; the decoder still expands them.
    const bool bStorable = rec.size() <= rvo::MaxPackedRecordBytes(L);
    EXPECT_EQ(CheckPackedRecord(pRec, L, (DWORD)rec.size()), bStorable ? TRUE : FALSE);
    DWORD* pBuf = static_cast<DWORD*>(AllocAligned(4 * (L + shift + 8)));
    std::fill(pBuf, pBuf + L + shift + 8, kCanary);
    DecodePackedRecord(pRec, pBuf + shift);
    for (size_t i = 0; i < shift; i++) EXPECT_EQ(pBuf[i], kCanary) << "before the target";
    for (size_t i = L + shift; i < L + shift + 8; i++) EXPECT_EQ(pBuf[i], kCanary) << "past pixel L - 1";
    std::vector<uint32_t> out(pBuf + shift, pBuf + shift + L);
    FreeAligned(pBuf);
    FreeAligned(pRec);
    return out;
}

void SetU32(std::vector<uint8_t>& v, size_t off, uint32_t x) {
    for (int i = 0; i < 4; i++) v[off + i] = (uint8_t)(x >> (8 * i));
}

}   // namespace

TEST(PackedDecode, GoldenColourRunsOnePixel) {
    // {tag, 512, 4, 1}, alpha 0x80 at 16, one run {1, green 0x11, blue 0x22, red 0x33} at 32.
    std::vector<uint8_t> rec;
    Put(rec, kTagColourRuns);
    Put(rec, 512);
    Put(rec, 4);
    Put(rec, 1);
    rec.push_back(0x80);
    PadTo(rec, 32);
    Put(rec, 1);
    Put(rec, 0x11111111u);
    Put(rec, 0x22222222u);
    Put(rec, 0x33333333u);
    PadTo(rec, 512);
    for (size_t shift : {0, 1, 3})
        EXPECT_EQ(Decode(rec, 1, shift), std::vector<uint32_t>{0x80331122u});
}

TEST(PackedDecode, GoldenAlphaRunsThreeRuns) {
    // Ten pixels: runs {4, 01 02 03 04}, {4, 0x05 x4}, {2, 07 08 ..}; section 1 is 24
    // bytes padded to 32, so section1Dwords = 8 and the colour groups start at 48.
    std::vector<uint8_t> rec;
    Put(rec, kTagAlphaRuns);
    Put(rec, 512);
    Put(rec, 8);
    Put(rec, 10);
    Put(rec, 4);
    Put(rec, 0x04030201u);
    Put(rec, 4);
    Put(rec, 0x05050505u);
    Put(rec, 2);
    Put(rec, 0x00000807u);
    PadTo(rec, 48);
    // Groups: green word, blue word, red word; pixel i gets b = i, g = 0x10 + i, r = 0x20 + i.
    Put(rec, 0x13121110u);
    Put(rec, 0x03020100u);
    Put(rec, 0x23222120u);
    Put(rec, 0x17161514u);
    Put(rec, 0x07060504u);
    Put(rec, 0x27262524u);
    Put(rec, 0xEEEE1918u);
    Put(rec, 0xEEEE0908u);
    Put(rec, 0xEEEE2928u);
    PadTo(rec, 512);
    const std::vector<uint32_t> expected = {
        0x01201000u, 0x02211101u, 0x03221202u, 0x04231303u, 0x05241404u,
        0x05251505u, 0x05261606u, 0x05271707u, 0x07281808u, 0x08291909u};
    for (size_t shift : {0, 2}) EXPECT_EQ(Decode(rec, 10, shift), expected);
}

TEST(PackedDecode, RandomRunLayoutsRoundTrip) {
    // Frame sizes around the 4- and 16-pixel steps, short and long runs, empty
    // second slots, aligned and unaligned targets.
    std::mt19937 rng(1234);
    for (uint32_t L : {1u, 2u, 3u, 4u, 5u, 15u, 16u, 17u, 31u, 33u, 64u, 67u, 1000u, 4099u, 20000u}) {
        for (uint32_t maxGroups : {1u, 3u, 9u, 200u}) {
            SCOPED_TRACE("L=" + std::to_string(L) + " maxGroups=" + std::to_string(maxGroups));
            const RunFrame a = AlphaRunFrame(L, maxGroups, rng);
            const auto recA = AlphaRunRecord(a, maxGroups % 2 == 1, rng);
            const RunFrame c = ColourRunFrame(L, maxGroups, rng);
            const auto recC = ColourRunRecord(c);
            for (size_t shift : {0, 1, 2, 3}) {
                EXPECT_EQ(Decode(recA, L, shift), a.pixels);
                EXPECT_EQ(Decode(recC, L, shift), c.pixels);
            }
            EXPECT_EQ(Decode(RawRecord(a.pixels), L, 1), a.pixels);
        }
    }
}

TEST(PackedDecode, DamagedRecordsAreRefused) {
    std::mt19937 rng(77);
    const uint32_t L = 40;
    const auto alpha = AlphaRunRecord(AlphaRunFrame(L, 3, rng), false, rng);   // runs of 4-12 pixels
    const auto colour = ColourRunRecord(ColourRunFrame(L, 3, rng));
    const auto raw = RawRecord(std::vector<uint32_t>(L, 7));
    struct Case {
        const char* name;
        const std::vector<uint8_t>* base;
        size_t off;
        uint32_t value;
        uint32_t maxRecord;
    };
    const Case cases[] = {
        {"unknown tag", &alpha, 0, 0xFF000002u, 512},
        {"size not a multiple of 512", &alpha, 4, 500, 1024},
        {"size 0", &colour, 4, 0, 512},
        {"size above the frame's largest record", &raw, 4, 1024, 4096},
        {"size above the caller's buffer", &colour, 4, 1024, 512},
        {"pixel count differs", &colour, 12, L + 1, 512},
        {"alpha: section 1 pushes the groups past the record", &alpha, 8, 124, 512},
        {"alpha: first run empty", &alpha, 16, 0, 512},
        {"alpha: run not a multiple of 4", &alpha, 16, 5, 512},
        {"alpha: runs cover more than the frame", &alpha, 16, 400, 512},
        {"alpha: runs end before the frame (section too short)", &alpha, 8, 2, 512},
        {"colour: alpha plane longer than section 1", &colour, 8, 9, 512},
        {"colour: section 2 past the record", &colour, 8, 200, 512},
        {"colour: run empty", &colour, 16 + 48, 0, 512},
        {"colour: run not a multiple of 4", &colour, 16 + 48, 6, 512},
        {"colour: runs cover more than the frame", &colour, 16 + 48, 0x80000000u, 512},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> rec = *c.base;
        SetU32(rec, c.off, c.value);
        SetLastError(0);
        EXPECT_FALSE(CheckPackedRecord(rec.data(), L, c.maxRecord)) << c.name;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA) << c.name;
    }
    // The undamaged records pass.
    for (const auto* r : {&alpha, &colour, &raw}) EXPECT_TRUE(CheckPackedRecord(r->data(), L, 512));
}

TEST(PackedDecode, RunsThatStopShortOfTheFrameAreRefused) {
    // The last run of each list is cut by 4: the lists then cover L - 4 pixels.
    std::mt19937 rng(5);
    const uint32_t L = 64;
    RunFrame a = AlphaRunFrame(L, 4, rng);
    a.runs.back().count -= a.runs.back().count > 4 ? 4 : 0;
    if (a.runs.back().count == 0) a.runs.pop_back();
    EXPECT_FALSE(CheckPackedRecord(AlphaRunRecord(a, false, rng).data(), L, 1024));
    RunFrame c = ColourRunFrame(L, 4, rng);
    c.runs.back().count = 4 * ((c.runs.back().count - 1) / 4);
    if (c.runs.back().count == 0) c.runs.pop_back();
    EXPECT_FALSE(CheckPackedRecord(ColourRunRecord(c).data(), L, 1024));
}
