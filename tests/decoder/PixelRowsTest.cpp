// Row copies and zero fills: the SSE2 and plain paths write the same pixels,
// and nothing outside the rows' width.
#include <gtest/gtest.h>

#include <vector>

#include "pixels/PixelRows.h"
#include "platform/Cpu.h"

namespace {

constexpr DWORD kCanary = 0xC0C0C0C0u;

struct SavedSse2 {
    BOOL saved = g_bSse2;
    ~SavedSse2() { g_bSse2 = saved; }
};

// A 40-pixel-stride area, rows written at column `x`, `n` pixels wide, 5 rows.
std::vector<DWORD> Paint(bool bSse2, bool bZero, int x, int n) {
    SavedSse2 keep;
    g_bSse2 = bSse2;
    std::vector<DWORD> src(64 * 5);
    for (size_t i = 0; i < src.size(); i++) src[i] = 0x01000000u * (DWORD)i + 0x00030201u * (DWORD)(i + 1);
    std::vector<DWORD> dst(40 * 6, kCanary);
    if (bZero) ZeroPixelRows(dst.data() + x, 40, n, 5);
    else CopyPixelRows(dst.data() + x, 40, src.data() + 3, 64, n, 5);
    return dst;
}

}   // namespace

TEST(PixelRows, Sse2AndPlainPathsAgree) {
    for (bool bZero : {false, true})
        for (int x : {0, 1, 2, 3, 5})
            for (int n : {0, 1, 2, 3, 4, 5, 7, 8, 9, 17, 31}) {
                SCOPED_TRACE("x=" + std::to_string(x) + " n=" + std::to_string(n) + (bZero ? " zero" : " copy"));
                const std::vector<DWORD> plain = Paint(false, bZero, x, n);
                EXPECT_EQ(Paint(true, bZero, x, n), plain);
                for (int y = 0; y < 6; y++)
                    for (int c = 0; c < 40; c++) {
                        const DWORD v = plain[(size_t)y * 40 + c];
                        const bool bInside = y < 5 && c >= x && c < x + n;
                        if (!bInside) ASSERT_EQ(v, kCanary) << "row " << y << " col " << c;
                        else if (bZero) ASSERT_EQ(v, 0u);
                        else ASSERT_EQ(v, 0x01000000u * (DWORD)(y * 64 + 3 + c - x) + 0x00030201u * (DWORD)(y * 64 + 4 + c - x));
                    }
            }
}
