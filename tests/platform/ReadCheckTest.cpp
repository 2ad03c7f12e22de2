// The readability probe on mapped, unmapped and protected memory.
#include "platform/ReadCheck.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

TEST(ReadCheck, ReportsMappedAndUnmappedRanges) {
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    // Four pages: readable, readable, no access, unmapped.
    BYTE* p = (BYTE*)mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    ASSERT_EQ(mprotect(p + 2 * page, page, PROT_NONE), 0);
    ASSERT_EQ(munmap(p + 3 * page, page), 0);

    struct Case {
        size_t from, n;
        BOOL bad;
    } cases[] = {
        {0, 0, FALSE},
        {0, 1, FALSE},
        {0, 2 * page, FALSE},
        {page - 3, 6, FALSE},       // straddles a page boundary
        {2 * page - 1, 1, FALSE},   // last readable byte
        {2 * page - 1, 2, TRUE},    // one byte into the protected page
        {page, 2 * page, TRUE},
        {3 * page, 1, TRUE},   // unmapped
        {0, 4 * page, TRUE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsBadReadPtr(p + c.from, c.n), c.bad) << "from " << c.from << " n " << c.n;
    munmap(p, 3 * page);

    EXPECT_TRUE(IsBadReadPtr(nullptr, 1));
    EXPECT_FALSE(IsBadReadPtr(nullptr, 0));
    EXPECT_TRUE(IsBadReadPtr((const void*)(uintptr_t)-16, 64));   // wraps

    // Many pages: more probes than one system call carries.
    std::vector<BYTE> big(3000 * page);
    EXPECT_FALSE(IsBadReadPtr(big.data(), big.size()));
}
