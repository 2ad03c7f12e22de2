// Global memory handles, page locking and the memory status.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cstring>
#include <thread>

#include "platform/GlobalMemory.h"
#include "platform/LastError.h"
#include "platform/Memory.h"
#include "platform/RawFile.h"

TEST(GlobalMemory, LockCountsAndSizes) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 100);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 100u);
    EXPECT_EQ(GlobalFlags(h), 0u);
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; i++) ASSERT_EQ(p[i], 0);
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);
    EXPECT_TRUE(GlobalUnlock(h));    // still locked once
    EXPECT_FALSE(GlobalUnlock(h));   // count reached 0
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_FALSE(GlobalUnlock(h));   // not locked
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_LOCKED);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, FreedAndForgedHandlesAreRecognisedWithoutBeingTouched) {
    HGLOBAL hFreed = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_EQ(GlobalFree(hFreed), nullptr);
    BYTE forged[64];
    std::memset(forged, 0xFF, sizeof forged);
    // The sanitizer build shows that none of these reads freed or foreign memory.
    for (HGLOBAL h : {hFreed, (HGLOBAL)forged, (HGLOBAL) nullptr, (HGLOBAL)(uintptr_t)0x10}) {
        EXPECT_EQ(GlobalFlags(h), GMEM_INVALID_HANDLE);
        EXPECT_EQ(GlobalSize(h), 0u);
        SetLastError(0);
        EXPECT_EQ(GlobalLock(h), nullptr);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
        EXPECT_FALSE(GlobalUnlock(h));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
        if (h) {
            EXPECT_EQ(GlobalFree(h), h);   // a second free is refused, not performed
        }
    }
}

TEST(GlobalMemory, ImpossibleSizesFail) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer aborts on such requests instead of returning null";
#endif
    SetLastError(0);
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, SIZE_MAX - 16), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(AllocAligned(SIZE_MAX - 16), nullptr);
}

TEST(Memory, StatusAndOverride) {
    MEMORYSTATUS s;
    GlobalMemoryStatus(&s);
    EXPECT_EQ(s.dwLength, sizeof s);
    EXPECT_GT(s.dwTotalPhys, 0u);
    EXPECT_LE(s.dwAvailPhys, s.dwTotalPhys);
    EXPECT_LE(s.dwMemoryLoad, 100u);
    SetAvailableMemoryOverride(true, 12345);
    GlobalMemoryStatus(&s);
    EXPECT_EQ(s.dwAvailPhys, 12345u);
    SetAvailableMemoryOverride(false, 0);
    GlobalMemoryStatus(&s);
    EXPECT_NE(s.dwAvailPhys, 12345u);
}

// The address space: the limit (RLIMIT_AS, or the hook's figure in its place),
// at most 4 GiB on the 32-bit build, less what is mapped.
TEST(Memory, AddressSpaceIsTheLimitLessWhatIsMapped) {
    constexpr ULONGLONG kGiB = 1ull << 30, kMiB = 1ull << 20;
    const bool b32 = sizeof(void*) == 4;
    MEMORYSTATUS s;
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &lim), 0);
    GlobalMemoryStatus(&s);
    if (lim.rlim_cur == RLIM_INFINITY && !b32) {
        EXPECT_EQ(s.dwTotalVirtual, SIZE_MAX);   // nothing limits a 64-bit process
        EXPECT_EQ(s.dwAvailVirtual, SIZE_MAX);
    } else {
        EXPECT_LT(s.dwAvailVirtual, s.dwTotalVirtual);
    }

    // What is mapped now, seen through a limit far above it (the 32-bit build's 4 GiB).
    const ULONGLONG nHigh = b32 ? 4 * kGiB : 1ull << 60;
    SetAddressSpaceLimitOverride(true, nHigh);
    GlobalMemoryStatus(&s);
    EXPECT_EQ(s.dwTotalVirtual, b32 ? SIZE_MAX : (size_t)nHigh);   // 4 GiB is one more than a 32-bit size
    const ULONGLONG nMapped = nHigh - s.dwAvailVirtual;
    EXPECT_GT(nMapped, kMiB);
    // Past what the build can address, the limit is the build's.
    SetAddressSpaceLimitOverride(true, 8 * kGiB);
    GlobalMemoryStatus(&s);
    EXPECT_EQ(s.dwTotalVirtual, b32 ? SIZE_MAX : (size_t)(8 * kGiB));

    // A new mapping takes its size from what is free; a limit below what is mapped leaves nothing.
    SetAddressSpaceLimitOverride(true, nMapped + kGiB);
    GlobalMemoryStatus(&s);
    const ULONGLONG nFreeBefore = s.dwAvailVirtual;
    void* p = mmap(nullptr, 64 * kMiB, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    GlobalMemoryStatus(&s);
    EXPECT_GE(nFreeBefore - s.dwAvailVirtual, 64 * kMiB);
    EXPECT_LE(nFreeBefore - s.dwAvailVirtual, 68 * kMiB);   // whatever else the process mapped meanwhile
    munmap(p, 64 * kMiB);
    SetAddressSpaceLimitOverride(true, kMiB);
    GlobalMemoryStatus(&s);
    EXPECT_EQ(s.dwTotalVirtual, kMiB);
    EXPECT_EQ(s.dwAvailVirtual, 0u);
    SetAddressSpaceLimitOverride(false, 0);
}

TEST(Memory, PageLocking) {
    void* p = AllocAligned(4096);
    // The kernel may refuse (RLIMIT_MEMLOCK); a lock that was given can be undone.
    if (VirtualLock(p, 4096)) {
        EXPECT_TRUE(VirtualUnlock(p, 4096));
    } else {
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    }
    FreeAligned(p);
}

TEST(LastError, IsPerThread) {
    SetLastError(ERROR_DISK_FULL);
    DWORD seen = 1;
    std::thread t([&] { seen = GetLastError(); SetLastError(ERROR_BUSY); });
    t.join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DISK_FULL);
    EXPECT_EQ(Fail(ERROR_INVALID_DATA), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA);
}
