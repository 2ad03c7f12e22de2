// Field delivery: hand-built records (skips, pads, cuts, damage) and the cache
// lookup of DeliverField for field records and raw frame blocks.
#include <gtest/gtest.h>

#include <string>

#include "container/RvoFile.h"
#include "cache/Delivery.h"
#include "platform/LastError.h"
#include "tests/cache/CacheTestUtil.h"

using namespace cachetest;

namespace {

constexpr DWORD S_ = kSentinel;
constexpr DWORD P0 = 0x01010101u, P1 = 0x02020202u, P2 = 0x03030303u, P3 = 0x04040404u, P4 = 0x05050505u,
                P5 = 0x06060606u, Q0 = 0x11111111u, Q1 = 0x12121212u, X = 0x77777777u, Y = 0x78787878u;

struct DrawCase {
    const char* name;
    std::vector<uint8_t> record;
    LONG stride, width, rows;
    std::vector<DWORD> expected;   // the destination, rows 2 x stride apart
    bool ok;
};

// Record bytes with T, literal offset and total words from the lists given.
std::vector<uint8_t> Rec(const std::vector<uint16_t>& tokens, const std::vector<uint32_t>& slots) {
    std::vector<uint16_t> t = tokens;
    while (t.size() % 4) t.push_back(0);
    std::vector<uint32_t> s = slots;
    if (s.size() % 2) s.push_back(0);
    const uint32_t lo = 4 + (uint32_t)t.size() / 2;
    return RecordBytes(1, 1, (uint32_t)tokens.size(), lo, lo + (uint32_t)s.size(), t, s);
}

std::vector<DrawCase> DrawCases() {
    std::vector<DrawCase> c;
    c.push_back({"skip leaves pixels", Rec({0xC002, 0x1003, 0x4001}, {P0, P1, P2}), 8, 8, 1, {P0, P1, S_, S_, S_, P2, S_, S_}, true});
    c.push_back({"pad shifts the slot cursor", Rec({0xC001, 0x4000, 0x4001}, {P0, X, P1}), 3, 3, 1, {P0, P1, S_}, true});
    c.push_back({"run cut at the row end", Rec({0xA00A}, {P0}), 6, 4, 1, {P0, P0, P0, P0, S_, S_}, true});
    // The first row's literal is cut to 3 pixels; the second row still starts at its own slots.
    c.push_back({"cut literal keeps rows in step", Rec({0xC006, 0xC002}, {P0, P1, P2, P3, P4, P5, Q0, Q1}), 4, 3, 2, {P0, P1, P2, S_, S_, S_, S_, S_, Q0, Q1, S_, S_}, true});
    c.push_back({"rows past the limit are not drawn", Rec({0xC001, 0xC001, 0xC001}, {P0, P1, P2}), 1, 1, 2, {P0, S_, P1, S_}, true});
    c.push_back({"last row of several tokens", Rec({0xC002, 0xA003, 0x4002}, {P0, P1, Q0, P2, P3}), 5, 5, 2, {P0, P1, S_, S_, S_, S_, S_, S_, S_, S_, Q0, Q0, Q0, P2, P3}, true});
    // A skip is not cut: the literal after it finds no room, yet uses its slots.
    c.push_back({"skip past the row end", Rec({0xC001, 0x1010, 0x4002, 0xC001}, {P0, X, Y, Q0}), 2, 2, 2, {P0, S_, S_, S_, Q0, S_}, true});
    c.push_back({"bare header draws nothing", Rec({}, {}), 2, 2, 1, {S_, S_}, true});

    // Damage: nothing is read outside the record (the buffers are exactly its size).
    c.push_back({"shorter than a header", std::vector<uint8_t>(12, 0), 2, 2, 1, {S_, S_}, false});
    c.push_back({"tokens run into the slots", RecordBytes(1, 1, 5, 6, 6, {0xC001, 0, 0, 0}, {}), 2, 2, 1, {S_, S_}, false});
    c.push_back({"token count near 2^32", RecordBytes(1, 1, 0xFFFFFFFFu, 6, 6, {0xC001, 0, 0, 0}, {}), 2, 2, 1, {S_, S_}, false});
    c.push_back({"slots past the record", RecordBytes(1, 1, 1, 100, 102, {0xC001, 0, 0, 0}, {P0, 0}), 2, 2, 1, {S_, S_}, false});
    c.push_back({"literal offset inside the header", RecordBytes(1, 1, 0, 2, 4, {}, {}), 2, 2, 1, {S_, S_}, false});
    // The header claims 1000 words; the block holds 2 slots, the literal needs 4.
    c.push_back({"total words beyond the block", RecordBytes(1, 1, 1, 6, 1000, {0xC004, 0, 0, 0}, {P0, P1}), 4, 4, 1, {S_, S_, S_, S_}, false});
    c.push_back({"run after the last slot", RecordBytes(1, 1, 2, 6, 7, {0xC001, 0x2005, 0, 0}, {P0}), 6, 6, 1, {P0, S_, S_, S_, S_, S_}, false});
    c.push_back({"pad after the last slot", RecordBytes(1, 1, 2, 6, 7, {0xC001, 0x4000, 0, 0}, {P0}), 2, 2, 1, {P0, S_}, false});
    c.push_back({"token before any row", Rec({0x4001}, {P0}), 2, 2, 1, {S_, S_}, false});
    return c;
}

}   // namespace

TEST(DrawFieldRecord, HandBuiltRecords) {
    for (const DrawCase& dc : DrawCases())
        for (bool bSse2 : {false, true}) {
            SCOPED_TRACE(std::string(dc.name) + (bSse2 ? " sse2" : " plain"));
            SavedSse2 keep;
            g_bSse2 = bSse2;
            std::vector<DWORD> dst(dc.expected.size(), kSentinel);
            // An exact-size copy, so the sanitizers see any read past the record.
            std::vector<uint8_t> rec(dc.record);
            SetLastError(0);
            const BOOL r = DrawFieldRecord(dst.data(), dc.stride, dc.width, dc.rows, rec.data(), rec.size());
            EXPECT_EQ(r, dc.ok ? TRUE : FALSE);
            if (!dc.ok) {
                EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA);
            }
            EXPECT_EQ(dst, dc.expected);
        }
}

TEST(DrawFieldRecord, RefusesAMisalignedRecord) {
    std::vector<uint8_t> buf(1 + 32);
    const std::vector<uint8_t> rec = Rec({0xC001}, {P0});
    std::memcpy(buf.data() + 1, rec.data(), rec.size());
    DWORD dst = kSentinel;
    EXPECT_FALSE(DrawFieldRecord(&dst, 1, 1, 1, buf.data() + 1, rec.size()));
    EXPECT_EQ(dst, kSentinel);
}

namespace {

// A preload cache holding the frame as the preload would store it for a file of the mode.
struct CachedFile {
    CPreloadCache cache;
    bool bRecords;
    Frame fr;
    CachedFile(LONG mode, LONG w, LONG h, uint32_t seed) : bRecords(mode == 4 || mode == 5), fr(w, h) {
        Fill(fr, Content::Runs, seed);
        if (bRecords) {
            cache.Add(NewRawFrameBlock(fr.px, w, h), 4u * (UINT)w * (UINT)h);
        } else {
            Work work;
            for (int k = 0; k < 2; k++) {
                Record r = EncodeField(fr, k, work);
                const UINT nBytes = (UINT)r.bytes;
                cache.Add(r.Release(), nBytes);
            }
        }
    }
    int DeliverField(unsigned field, DWORD* pDst, int nStride, int nHeight, int nWidth = -1) const {
        return DeliverCachedField(cache, bRecords, SIZE{fr.w, fr.h}, field, pDst, nStride, nHeight, nWidth);
    }
};

// The host area after field `field` of the cached frame is delivered into it:
// rows of that parity below floor(dstHeight / 2) x 2, each cut to the width.
std::vector<DWORD> ExpectedArea(const Frame& fr, unsigned field, LONG stride, LONG dstHeight, LONG width) {
    std::vector<DWORD> v((size_t)stride * dstHeight, kSentinel);
    const LONG rows = dstHeight / 2;
    for (LONG r = 0; r < rows; r++) {
        const LONG y = 2 * r + (LONG)(field & 1);
        if (y >= fr.h) break;
        for (LONG x = 0; x < std::min(fr.w, width); x++) v[(size_t)y * stride + x] = fr.At(x, y);
    }
    return v;
}

}   // namespace

TEST(DeliverField, CopiesOnlyItsRowsFromEitherCacheKind) {
    struct Area {
        LONG stride, height, width;
    };
    for (LONG mode : {3, 4, 5})
        for (Area a : {Area{21, 5, -1}, Area{21, 6, -1}, Area{30, 9, 21}, Area{12, 5, -1}, Area{21, 4, 7}})
            for (unsigned field : {0u, 1u}) {
                SCOPED_TRACE("mode " + std::to_string(mode) + " stride " + std::to_string(a.stride) + " height " +
                             std::to_string(a.height) + " width " + std::to_string(a.width) + " field " +
                             std::to_string(field));
                CachedFile cf(mode, 21, 7, 5u + field);
                const LONG width = a.width < 0 ? a.stride : a.width;
                for (bool bSse2 : {false, true}) {
                    SavedSse2 keep;
                    g_bSse2 = bSse2;
                    std::vector<DWORD> dst((size_t)a.stride * a.height, kSentinel);
                    EXPECT_EQ(cf.DeliverField(field, dst.data(), a.stride, a.height, a.width), 1);
                    EXPECT_EQ(dst, ExpectedArea(cf.fr, field, a.stride, a.height, width)) << "sse2 " << bSse2;
                }
            }
}

TEST(DeliverField, FieldsPastTheCacheAreNotDelivered) {
    for (LONG mode : {3, 4}) {
        CachedFile cf(mode, 6, 4, 3);
        std::vector<DWORD> dst(6 * 4, kSentinel);
        // One frame cached: fields 0 and 1 are there, field 2 (frame 1) is not.
        EXPECT_EQ(cf.DeliverField(1, dst.data(), 6, 4), 1);
        std::fill(dst.begin(), dst.end(), kSentinel);
        EXPECT_EQ(cf.DeliverField(2, dst.data(), 6, 4), 0);
        EXPECT_EQ(cf.DeliverField(0xFFFFFFFFu, dst.data(), 6, 4), 0);
        EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](DWORD p) { return p == kSentinel; }));
    }
    CRvoFile empty;
    DWORD px = kSentinel;
    EXPECT_EQ(empty.DeliverField(0, &px, 1, 1), 0);
}

// Random damage: whatever the header and tokens say, nothing is read outside
// the record (the sanitizers watch the exact-size buffer) and nothing is
// written outside the field's rows and width.
TEST(DrawFieldRecord, RandomRecordsStayInBounds) {
    rvotest::XorShift32 rng(12345);
    const LONG stride = 9, width = 7, rows = 3;
    for (int n = 0; n < (kSlowTarget ? 300 : 3000); n++) {
        std::vector<uint8_t> rec(16 + 4 * (rng() % 24));
        for (uint8_t& b : rec) b = (uint8_t)rng();
        // Mostly plausible counts, so decoding gets past the header checks.
        const uint32_t words = (uint32_t)rec.size() / 4;
        const uint32_t T = rng() % 3 ? rng() % (2 * words) : rng();
        const uint32_t lo = rng() % 3 ? 4 + rng() % words : rng();
        const uint32_t tw = rng() % 3 ? words : rng();
        std::memcpy(rec.data() + 4, &T, 4);
        std::memcpy(rec.data() + 8, &lo, 4);
        std::memcpy(rec.data() + 12, &tw, 4);
        std::vector<DWORD> dst((size_t)stride * 2 * rows, kSentinel);
        DrawFieldRecord(dst.data(), stride, width, rows, rec.data(), rec.size());
        for (size_t i = 0; i < dst.size(); i++) {
            const bool inField = (i / stride) % 2 == 0 && (LONG)(i % stride) < width;
            if (!inField) {
                ASSERT_EQ(dst[i], kSentinel) << "case " << n << " pixel " << i;
            }
        }
    }
}
