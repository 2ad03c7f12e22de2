// The memory stream's bounds: strict capacity on writes, short reads at the end.
#include "codec/MemoryStream.h"

#include <gtest/gtest.h>

#include <vector>

TEST(MemoryStream, WritesStayStrictlyBelowTheCapacity) {
    struct Case {
        DWORD capacity, position, n, wrote, positionAfter;
    } cases[] = {
        {100, 0, 99, 99, 99},
        {100, 0, 100, 0, 0},   // ending exactly at the capacity fails
        {100, 50, 49, 49, 99},
        {100, 50, 50, 0, 50},
        {100, 99, 0, 0, 99},
        {4, 0, 0xFFFFFFFFu, 0, 0},   // no wrap-around of position + n
    };
    for (const Case& c : cases) {
        std::vector<BYTE> block(c.capacity, 0xEE), src(c.n < 1000 ? c.n : 1, 0x11);
        MemoryStream s = {c.capacity, c.position, block.data()};
        EXPECT_EQ(MemoryStreamWrite(&s, src.data(), c.n), c.wrote) << c.capacity << "/" << c.position << "/" << c.n;
        EXPECT_EQ(s.position, c.positionAfter);
        if (c.wrote == 0) {
            EXPECT_EQ(block, std::vector<BYTE>(c.capacity, 0xEE));
        }
    }
}

TEST(MemoryStream, ReadsAreShortAtTheEnd) {
    struct Case {
        DWORD capacity, position, n, read, positionAfter;
    } cases[] = {
        {10, 0, 10, 10, 10},
        {10, 8, 5, 2, 10},
        {10, 10, 0, 0, 10},
        {10, 10, 4, 0, 10},
        {0, 0, 65536, 0, 0},
    };
    std::vector<BYTE> block(16);
    for (size_t i = 0; i < block.size(); i++) block[i] = (BYTE)i;
    for (const Case& c : cases) {
        MemoryStream s = {c.capacity, c.position, block.data()};
        std::vector<BYTE> dst(c.n + 1, 0xEE);
        EXPECT_EQ(MemoryStreamRead(&s, dst.data(), c.n), c.read) << c.capacity << "/" << c.position << "/" << c.n;
        EXPECT_EQ(s.position, c.positionAfter);
        for (DWORD k = 0; k < c.read; k++) EXPECT_EQ(dst[k], (BYTE)(c.position + k));
        EXPECT_EQ(dst[c.read], 0xEE);
    }
}
