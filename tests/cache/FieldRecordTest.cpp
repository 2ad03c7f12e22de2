// Field records of known rows, byte for byte; the packer's memory check; the
// work arrays kept across fields.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/LastError.h"
#include "tests/cache/CacheTestUtil.h"
#include "tests/support/TestFiles.h"

using namespace cachetest;
using rvotest::DiffBytes;

namespace {

constexpr DWORD A = 0xFF112233u, B = 0x80445566u, C = 0x01778899u, D = 0x00AABBCCu;

// Pixel x of row y, all different.
DWORD Distinct(LONG x, LONG y) { return 0x10000000u + (DWORD)y * 0x10000u + (DWORD)x; }

struct GoldenCase {
    const char* name;
    LONG w, h;
    int field;
    std::function<DWORD(LONG, LONG)> pixel;
    std::vector<uint8_t> expected;
};

std::vector<uint32_t> DistinctRow(LONG w, LONG y) {
    std::vector<uint32_t> v;
    for (LONG x = 0; x < w; x++) v.push_back(Distinct(x, y));
    return v;
}

std::vector<uint32_t> Cat(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<GoldenCase> GoldenCases() {
    std::vector<GoldenCase> c;
    // 20 equal: a run of 18 (first of the row), then the last two as a literal;
    // pixel 18 is even and one slot is used, so a pad comes first.
    c.push_back({"run20", 20, 1, 0, [](LONG, LONG) { return A; },
                 RecordBytes(20, 1, 3, 6, 10, {0xA012, 0x4000, 0x4002, 0}, {A, 0, A, A})});
    // 11 equal then B: a run of 9; pixel 9 is odd like the slot count, so no pad.
    c.push_back({"run11", 12, 1, 0, [](LONG x, LONG) { return x < 11 ? A : B; },
                 RecordBytes(12, 1, 2, 6, 10, {0xA009, 0x4003, 0, 0}, {A, A, A, B})});
    // 9 equal: below the run threshold, 8 pixels then 1 more in one literal.
    c.push_back({"equal9", 9, 1, 0, [](LONG, LONG) { return A; },
                 RecordBytes(9, 1, 1, 6, 16, {0xC009, 0, 0, 0}, {A, A, A, A, A, A, A, A, A, 0})});
    // All different: one literal of the row's width.
    c.push_back({"distinct5", 5, 1, 0, Distinct,
                 RecordBytes(5, 1, 1, 6, 12, {0xC005, 0, 0, 0}, Cat(DistinctRow(5, 0), {0}))});
    // The odd field of a 5-wide frame starts at pixel 5: a pad (with the row
    // bit) puts its first pixel on an odd slot.
    c.push_back({"padOddRow", 5, 2, 1, Distinct,
                 RecordBytes(5, 2, 2, 6, 12, {0xC000, 0x4005, 0, 0}, Cat({0}, DistinctRow(5, 1)))});
    // Width 4, height 3: the even field is rows 0 and 2, the odd field row 1.
    c.push_back({"w4h3even", 4, 3, 0, Distinct,
                 RecordBytes(4, 3, 2, 6, 14, {0xC004, 0xC004, 0, 0}, Cat(DistinctRow(4, 0), DistinctRow(4, 2)))});
    c.push_back({"w4h3odd", 4, 3, 1, Distinct,
                 RecordBytes(4, 3, 1, 6, 10, {0xC004, 0, 0, 0}, DistinctRow(4, 1))});
    // A field with no rows (odd field of a one-row frame) is a bare header.
    c.push_back({"emptyField", 3, 1, 1, Distinct, RecordBytes(3, 1, 0, 4, 4, {}, {})});
    // Two rows of width 3: row 2 starts at pixel 6 after 3 slots, so its first
    // token is a pad carrying the row bit.
    c.push_back({"twoRows", 3, 4, 0, [](LONG x, LONG) { return x == 1 ? B : C; },
                 RecordBytes(3, 4, 3, 6, 14, {0xC003, 0xC000, 0x4003, 0}, {C, B, C, 0, C, B, C, 0})});
    // Run, literal (after a pad), run, literal (no pad: pixel 28 and slot 6 are even).
    c.push_back({"runsBetween", 30, 1, 0, [](LONG x, LONG) { return x < 12 ? A : x < 13 ? D
                                                                                        : B; },
                 RecordBytes(30, 1, 5, 8, 16, {0xA00A, 0x4000, 0x4003, 0x200F, 0x4002, 0, 0, 0},
                             {A, 0, A, A, D, B, B, B})});
    // A run of 4998 is split at 4095; the split needs no pad.
    c.push_back({"run5000", 5000, 1, 0, [](LONG, LONG) { return A; },
                 RecordBytes(5000, 1, 3, 6, 10, {0xAFFF, 0x2387, 0x4002, 0}, {A, A, A, A})});
    // A literal of 5000 is split at 4095 into 4095 + 905, continuing without a pad.
    c.push_back({"literal5000", 5000, 1, 0, Distinct,
                 RecordBytes(5000, 1, 2, 6, 5006, {0xCFFF, 0x4389, 0, 0}, DistinctRow(5000, 0))});
    return c;
}

}   // namespace

TEST(FieldRecord, GoldenBytes) {
    for (const GoldenCase& gc : GoldenCases()) {
        SCOPED_TRACE(gc.name);
        Frame fr(gc.w, gc.h);
        for (LONG y = 0; y < gc.h; y++)
            for (LONG x = 0; x < gc.w; x++) fr.At(x, y) = gc.pixel(x, y);
        Work w;
        Record r = EncodeField(fr, gc.field, w);
        ASSERT_NE(r.p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(r.p) % 8, 0u);
        EXPECT_EQ(DiffBytes(gc.expected, r.Bytes()), "");
    }
}

// A literal that reaches 4095 in the middle of a 6-pixel group (5 + 1 pixels
// per group) is filled to 4095 and the rest continues in a new token.
TEST(FieldRecord, LiteralSplitInsideAGroup) {
    const LONG w = 4200;
    Frame fr(w, 1);
    for (LONG x = 0; x < w; x++) fr.At(x, 0) = Distinct(x / 6, 0);
    Work work;
    Record r = EncodeField(fr, 0, work);
    ASSERT_NE(r.p, nullptr);
    std::vector<uint32_t> slots;
    for (LONG x = 0; x < w; x++) slots.push_back(fr.At(x, 0));
    EXPECT_EQ(DiffBytes(RecordBytes(w, 1, 2, 6, 6 + w, {0xCFFF, 0x4069, 0, 0}, slots), r.Bytes()), "");
}

TEST(FieldRecord, PackStopsBelowAvailableMemory) {
    const std::vector<WORD> tokens{0xC004};
    const std::vector<DWORD> slots{A, B, C, D};
    // 4 + 2 + 4 = 10 words: 40 bytes.
    for (size_t avail : {size_t(0), size_t(39), size_t(40), size_t(1) << 20}) {
        SCOPED_TRACE(avail);
        MemoryOverride mem(avail);
        SetLastError(0);
        LONG units = -1;
        BYTE* p = FieldPack(4, 1, tokens.data(), 1, slots.data(), 4, units);
        if (avail < 40) {
            EXPECT_EQ(p, nullptr);
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
            EXPECT_EQ(units, 0);
        } else {
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(units, 5);
            FreeLockedBlock(p, 40);
        }
    }
}

TEST(FieldRecord, PackRefusesSizesTheHeaderCannotState) {
    LONG units = 0;
    const WORD tok = 0xC001;
    const DWORD slot = A;
    for (auto [w, h] : {std::pair<LONG, LONG>{65536, 1}, {1, 65536}, {-1, 1}}) {
        SetLastError(0);
        EXPECT_EQ(FieldPack(w, h, &tok, 1, &slot, 1, units), nullptr);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    }
}

// The work arrays grow for a wide field and are reused, not reallocated, for
// the next fields; each field is encoded from empty counts.
TEST(FieldRecord, WorkArraysGrowAndAreKept) {
    const LONG w = kSlowTarget ? 6000 : 16384;
    Frame wide(w, 4);
    Fill(wide, Content::Noise, 7);
    Work work;
    Record r0 = EncodeField(wide, 0, work);
    EXPECT_GE(work.tokCap, w + 4);
    EXPECT_GE(work.slotCap, 2 * w + 4);
    EXPECT_EQ((work.tokCap - 4096) % 1024, 0);
    EXPECT_EQ((work.slotCap - 4096) % 4096, 0);
    void* tok = work.tok;
    void* slot = work.slot;
    Record r1 = EncodeField(wide, 1, work);
    Frame small(5, 2);
    Fill(small, Content::Noise, 9);
    Record r2 = EncodeField(small, 0, work);
    EXPECT_EQ(work.tok, tok);
    EXPECT_EQ(work.slot, slot);
    EXPECT_EQ(r2.bytes, 4u * 12);
    EXPECT_EQ(r0.Bytes().size(), r1.Bytes().size());
}

TEST(FieldRecord, EncodeRefusesBadGeometry) {
    Frame fr(4, 2);
    Fill(fr, Content::Noise, 1);
    Work work;
    LONG T = 7, S = 7;
    EXPECT_FALSE(FieldEncode(fr.px, 0, 8, fr.px + 8, work.tok, work.tokCap, T, work.slot, work.slotCap, S));
    EXPECT_FALSE(FieldEncode(fr.px, 4, 3, fr.px + 8, work.tok, work.tokCap, T, work.slot, work.slotCap, S));
    EXPECT_EQ(T, 0);
    EXPECT_EQ(S, 0);
    // A row that would run past the limit is not read.
    EXPECT_TRUE(FieldEncode(fr.px + 4, 4, 8, fr.px + 7, work.tok, work.tokCap, T, work.slot, work.slotCap, S));
    EXPECT_EQ(T, 0);
}

namespace {

// The encoder's rules taken one step at a time, as written: R equal pixels from
// p; R >= 10 gives runs of R - 2 (at most 4095 each); otherwise c = R - 1 (1 for
// R = 1) pixels join the open literal, or start one after a parity pad; a
// literal holds at most 4095 pixels. Produces the same tokens and slots as the
// encoder, which takes whole literal stretches at once.
void StepwiseEncode(const DWORD* first, LONG w, LONG rows, std::vector<WORD>& tok, std::vector<DWORD>& slot) {
    for (LONG y = 0; y < rows; y++) {
        const DWORD* row = first + 2 * (ptrdiff_t)w * y;
        WORD rowBit = 0x8000;
        long open = -1;
        for (LONG p = 0; p < w;) {
            LONG R = 1;
            while (p + R < w && row[p + R] == row[p]) R++;
            if (R >= 10) {
                for (LONG n = R - 2; n > 0; n -= std::min<LONG>(n, 4095)) {
                    tok.push_back((WORD)(rowBit | 0x2000 | std::min<LONG>(n, 4095)));
                    slot.push_back(row[p]);
                    rowBit = 0;
                }
                p += R - 2;
                open = -1;
                continue;
            }
            for (LONG c = R == 1 ? 1 : R - 1; c > 0; c--, p++) {
                if (open < 0 || (tok[open] & 0xFFF) == 4095) {
                    if (((reinterpret_cast<uintptr_t>(row + p) >> 2) & 1) != (slot.size() & 1)) {
                        tok.push_back((WORD)(rowBit | 0x4000));
                        slot.push_back(0);
                        rowBit = 0;
                    }
                    open = (long)tok.size();
                    tok.push_back((WORD)(rowBit | 0x4000));
                    rowBit = 0;
                }
                tok[open]++;
                slot.push_back(row[p]);
            }
        }
    }
}

}   // namespace

TEST(FieldRecord, SameTokensAsTakenStepByStep) {
    uint32_t seed = 3;
    for (Content c : {Content::Runs, Content::Natural, Content::Noise})
        for (LONG w : {1, 2, 9, 10, 11, 13, 50, 4100, 9000}) {
            Frame fr(w, 4);
            Fill(fr, c, seed++);
            // Short stretches of two and three equal pixels between the runs.
            for (LONG x = 0; x + 3 < w; x += 7) fr.At(x + 1, 1) = fr.At(x, 1);
            for (int f = 0; f < 2; f++) {
                SCOPED_TRACE("width " + std::to_string(w) + " field " + std::to_string(f));
                std::vector<WORD> tok;
                std::vector<DWORD> slot;
                StepwiseEncode(fr.px + f * w, w, 2, tok, slot);
                Work work;
                LONG T = 0, S = 0;
                ASSERT_TRUE(FieldEncode(fr.px + f * w, w, 2 * (ptrdiff_t)w, fr.px + 4 * (ptrdiff_t)w, work.tok,
                                        work.tokCap, T, work.slot, work.slotCap, S));
                ASSERT_EQ(std::vector<WORD>(static_cast<WORD*>(work.tok), static_cast<WORD*>(work.tok) + T), tok);
                ASSERT_EQ(std::vector<DWORD>(static_cast<DWORD*>(work.slot), static_cast<DWORD*>(work.slot) + S), slot);
            }
        }
}
