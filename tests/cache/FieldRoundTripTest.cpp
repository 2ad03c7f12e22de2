// Encode then draw: every field of noise, flat-run and natural frames of widths
// 1 to 16384 comes back exactly, into destinations of any alignment, wider
// strides and narrower widths, writing only the rows of its parity; the SSE2
// and plain paths write the same bytes.
#include <gtest/gtest.h>

#include <string>

#include "cache/Delivery.h"
#include "tests/cache/CacheTestUtil.h"

using namespace cachetest;

namespace {

constexpr uint8_t kFillByte = 0xEF;

struct Target {
    LONG stride;     // pixels between rows
    LONG width;      // pixels of each row that may be written
    size_t offset;   // bytes from an aligned buffer start
    const char* name;
};

// The destination after drawing field f of fr into it (rows 0..h-1 of the frame
// map to rows 0..h-1 of the destination), built pixel by pixel from the frame.
std::vector<uint8_t> Expected(const Frame& fr, int f, const Target& t) {
    std::vector<uint8_t> v(t.offset + 4 * (size_t)t.stride * fr.h + 16, kFillByte);
    const LONG cols = std::min(fr.w, t.width);
    for (LONG y = f; y < fr.h; y += 2)
        for (LONG x = 0; x < cols; x++) {
            const DWORD p = fr.At(x, y);
            std::memcpy(v.data() + t.offset + 4 * ((size_t)y * t.stride + x), &p, 4);
        }
    return v;
}

std::vector<uint8_t> Draw(const Record& r, const Frame& fr, int f, const Target& t, bool bSse2) {
    SavedSse2 keep;
    g_bSse2 = bSse2;
    std::vector<uint8_t> v(t.offset + 4 * (size_t)t.stride * fr.h + 16, kFillByte);
    DWORD* dst = reinterpret_cast<DWORD*>(v.data() + t.offset);
    const LONG rows = (fr.h - f + 1) / 2;
    if (rows > 0) {
        EXPECT_TRUE(DrawFieldRecord(dst + (ptrdiff_t)f * t.stride, t.stride, t.width, rows, r.p, r.bytes));
    }
    return v;
}

std::vector<LONG> Widths() {
    if (kSlowTarget) return {1, 2, 3, 5, 9, 10, 17, 33, 4095, 4097, 5000, 16384};
    return {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 15, 16, 17, 18, 31, 32, 33, 100, 1023, 1024,
            4095, 4096, 4097, 4098, 4099, 5000, 8191, 8193, 12345, 16384};
}

std::vector<LONG> Heights(LONG w) {
    if (kSlowTarget || w > 1024) return {3};
    return {1, 2, 5, 6};
}

std::vector<Target> Targets(LONG w) {
    const LONG narrow = std::max<LONG>(1, w / 2 - 1);
    return {
        {w, w, 0, "packed"},
        {w + 5, w, 4, "wider stride, 4-byte offset"},
        {w + 1, w, 8, "odd stride, 8-byte offset"},
        {w + 3, w, 2, "unaligned"},
        {narrow + 3, narrow, 12, "narrower than the frame"},
        {w, narrow, 0, "width below the stride"},
    };
}

}   // namespace

TEST(FieldRoundTrip, EveryFieldComesBackExactly) {
    uint32_t seed = 1;
    for (Content c : {Content::Noise, Content::Runs, Content::Natural})
        for (LONG w : Widths())
            for (LONG h : Heights(w)) {
                Frame fr(w, h);
                Fill(fr, c, seed++);
                Work work;
                for (int f = 0; f < 2; f++) {
                    Record r = EncodeField(fr, f, work);
                    ASSERT_NE(r.p, nullptr);
                    for (const Target& t : Targets(w)) {
                        SCOPED_TRACE(std::string(rvotest::ContentName(c)) + " " + std::to_string(w) + "x" +
                                     std::to_string(h) + " field " + std::to_string(f) + " " + t.name);
                        const std::vector<uint8_t> plain = Draw(r, fr, f, t, false);
                        ASSERT_TRUE(plain == Expected(fr, f, t));
                        ASSERT_TRUE(Draw(r, fr, f, t, true) == plain);
                    }
                }
            }
}

// Both fields drawn into one area give the whole frame.
TEST(FieldRoundTrip, BothFieldsMakeTheFrame) {
    for (LONG h : {1, 2, 7, 8}) {
        Frame fr(37, h);
        Fill(fr, Content::Runs, 99u + (uint32_t)h);
        Work work;
        Record r0 = EncodeField(fr, 0, work);
        Record r1 = EncodeField(fr, 1, work);
        std::vector<DWORD> dst((size_t)37 * h, kSentinel);
        EXPECT_TRUE(DrawFieldRecord(dst.data(), 37, 37, (h + 1) / 2, r0.p, r0.bytes));
        if (h > 1) {
            EXPECT_TRUE(DrawFieldRecord(dst.data() + 37, 37, 37, h / 2, r1.p, r1.bytes));
        }
        EXPECT_EQ(0, std::memcmp(dst.data(), fr.px, dst.size() * 4)) << "height " << h;
    }
}
