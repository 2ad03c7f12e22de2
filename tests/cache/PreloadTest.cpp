// Preloading written files: the progress protocol, the stops (host, memory,
// unreadable frame, undecodable blob, page lock) and delivery from the cache
// matching what the reader makes of the file.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "codec/JpegBlob.h"
#include "container/RvoFile.h"
#include "platform/LastError.h"
#include "tests/cache/CacheTestUtil.h"
#include "tests/support/Movies.h"
#include "tests/support/TestFiles.h"

using namespace cachetest;
using rvotest::ScratchPath;
using rvotest::Wide;

namespace {

constexpr LONG kW = 37, kH = 11;

// The host's callback: records every call, answers 0 at stopAt, and may lower
// the available memory or the address-space limit once a frame is stored.
std::vector<int> g_calls;
int g_stopAt = -100;
int g_squeezeAt = -100;
size_t g_squeezeTo = 0;
bool g_bSqueezeAddressSpace = false;

int Progress(int k) {
    g_calls.push_back(k);
    if (k == g_squeezeAt && g_bSqueezeAddressSpace) SetAddressSpaceLimitOverride(true, g_squeezeTo);
    if (k == g_squeezeAt && !g_bSqueezeAddressSpace) SetAvailableMemoryOverride(true, g_squeezeTo);
    return k == g_stopAt ? 0 : 1;
}

struct ProgressScope {
    ProgressScope() {
        g_calls.clear();
        g_stopAt = g_squeezeAt = -100;
        g_bSqueezeAddressSpace = false;
    }
    ~ProgressScope() {
        SetAvailableMemoryOverride(false, 0);
        SetAddressSpaceLimitOverride(false, 0);
    }
};

// A movie of `frames` frames of flat runs written by the frame writer.
std::string WriteMovie(const std::string& name, LONG mode, int frames, LONG w = kW, LONG h = kH) {
    const std::string path = ScratchPath(name);
    std::vector<std::vector<uint32_t>> px;
    for (int k = 0; k < frames; k++) px.push_back(rvotest::MakeFrame(w, h, Content::Runs, 1000u + (uint32_t)k));
    EXPECT_TRUE(rvotest::WriteMovie(path, mode, w, h, px));
    return path;
}

std::unique_ptr<CRvoFile> OpenForPlay(const std::string& path) {
    auto f = std::make_unique<CRvoFile>();
    return rvotest::OpenMovie(*f, path) ? std::move(f) : nullptr;
}

std::string ModeName(LONG mode) { return "mode" + std::to_string(mode); }

// Blocks per stored frame and the bytes of a raw block.
int BlocksPerFrame(LONG mode) { return mode == 3 ? 2 : 1; }

}   // namespace

TEST(Preload, ProgressThenEveryFrameStored) {
    for (LONG mode : {3, 4, 5}) {
        SCOPED_TRACE(ModeName(mode));
        const std::string path = WriteMovie("three" + ModeName(mode) + ".rvo", mode, 3);
        auto f = OpenForPlay(path);
        ASSERT_TRUE(f);
        ProgressScope scope;
        f->SetProgressCallback(Progress);
        EXPECT_TRUE(f->Preload(Wide(path).c_str(), -1, -1));
        EXPECT_EQ(g_calls, (std::vector<int>{-3, 0, 1, 2}));
        ASSERT_EQ(f->Cache().GetSize(), 3 * BlocksPerFrame(mode));
        ASSERT_EQ(f->Cache().GetSize(), f->Cache().GetSize());
        for (int i = 0; i < f->Cache().GetSize(); i++) {
            if (mode != 3) {
                EXPECT_EQ(f->Cache().GetBytesAt(i), 4u * kW * kH);
            }
            EXPECT_EQ(reinterpret_cast<uintptr_t>(f->Cache().GetAt(i)) % 8, 0u);
        }
    }
}

TEST(Preload, HostStopsAfterTheFirstFrame) {
    for (LONG mode : {3, 4}) {
        SCOPED_TRACE(ModeName(mode));
        const std::string path = WriteMovie("stop" + ModeName(mode) + ".rvo", mode, 3);
        auto f = OpenForPlay(path);
        ASSERT_TRUE(f);
        ProgressScope scope;
        g_stopAt = 0;
        f->SetProgressCallback(Progress);
        EXPECT_TRUE(f->Preload(Wide(path).c_str(), -1, -1));
        EXPECT_EQ(g_calls, (std::vector<int>{-3, 0}));
        EXPECT_EQ(f->Cache().GetSize(), BlocksPerFrame(mode));
    }
}

TEST(Preload, LastFrameArgumentLimitsTheLoad) {
    const std::string path = WriteMovie("last.rvo", 3, 3);
    auto f = OpenForPlay(path);
    ASSERT_TRUE(f);
    ProgressScope scope;
    f->SetProgressCallback(Progress);
    EXPECT_TRUE(f->Preload(Wide(path).c_str(), 0, 1));
    EXPECT_EQ(g_calls, (std::vector<int>{-2, 0, 1}));
    EXPECT_EQ(f->Cache().GetSize(), 4);
    // The cache is indexed from frame 0: a later first frame is refused.
    SetLastError(0);
    EXPECT_FALSE(f->Preload(Wide(path).c_str(), 1, -1));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

// After preloading, each frame delivered field by field equals the frame the
// reader decodes from the file, and only the area's own rows are written.
TEST(Preload, DeliveryMatchesTheReader) {
    const LONG stride = kW + 9, height = kH + 2;
    for (LONG mode : {3, 4, 5}) {
        SCOPED_TRACE(ModeName(mode));
        const std::string path = WriteMovie("match" + ModeName(mode) + ".rvo", mode, 3);
        auto cached = OpenForPlay(path);
        auto plain = OpenForPlay(path);
        ASSERT_TRUE(cached && plain);
        ASSERT_TRUE(cached->Preload(Wide(path).c_str(), -1, -1));
        for (unsigned k = 0; k < 3; k++) {
            std::vector<DWORD> a((size_t)stride * height, kSentinel), b = a;
            ASSERT_EQ(cached->DeliverField(2 * k, a.data(), stride, height, kW), 1);
            ASSERT_EQ(cached->DeliverField(2 * k + 1, a.data(), stride, height, kW), 1);
            plain->ReadFrame((unsigned)plain->LocateFrame(k), b.data(), stride, height, TRUE, kW);
            // The reader may paint the rows below the frame; the cache leaves them.
            for (LONG y = 0; y < kH; y++)
                for (LONG x = 0; x < stride; x++)
                    ASSERT_EQ(a[(size_t)y * stride + x], b[(size_t)y * stride + x]) << k << " " << x << "," << y;
            for (LONG y = kH; y < height; y++)
                for (LONG x = 0; x < stride; x++) ASSERT_EQ(a[(size_t)y * stride + x], kSentinel);
        }
        EXPECT_EQ(cached->DeliverField(6, nullptr, stride, height, kW), 0);
    }
}

TEST(Preload, MissingFileFailsAtOnce) {
    CRvoFile f;
    ProgressScope scope;
    f.SetProgressCallback(Progress);
    EXPECT_FALSE(f.Preload(Wide(ScratchPath("missing.rvo")).c_str(), -1, -1));
    EXPECT_TRUE(g_calls.empty());
}

TEST(Preload, EmptyFileReportsNoFrames) {
    const std::string path = WriteMovie("empty.rvo", 3, 0);
    CRvoFile f;
    ProgressScope scope;
    f.SetProgressCallback(Progress);
    EXPECT_TRUE(f.Preload(Wide(path).c_str(), -1, -1));
    EXPECT_EQ(g_calls, (std::vector<int>{0}));
    EXPECT_EQ(f.Cache().GetSize(), 0);
}

// Physical memory running short after the first frame, or the address space
// (the limit lowered below what is mapped), stops before the second frame,
// keeping the first.
TEST(Preload, MemoryCheckStopsKeepingWhatWasLoaded) {
    for (bool bAddressSpace : {false, true}) {
        for (LONG mode : {3, 4}) {
            SCOPED_TRACE(ModeName(mode) + (bAddressSpace ? " address space" : " physical memory"));
            const std::string path = WriteMovie("memory" + ModeName(mode) + ".rvo", mode, 3);
            auto f = OpenForPlay(path);
            ASSERT_TRUE(f);
            ProgressScope scope;
            g_squeezeAt = 0;
            g_bSqueezeAddressSpace = bAddressSpace;
            g_squeezeTo = bAddressSpace ? 1 : mode == 3 ? 16
                                                        : 4u * kW * kH - 1;
            f->SetProgressCallback(Progress);
            SetLastError(0);
            EXPECT_FALSE(f->Preload(Wide(path).c_str(), -1, -1));
            EXPECT_EQ(GetLastError(), (DWORD)(bAddressSpace ? ERROR_COMMITMENT_LIMIT : ERROR_NOT_ENOUGH_MEMORY));
            EXPECT_EQ(g_calls, (std::vector<int>{-3, 0}));
            EXPECT_EQ(f->Cache().GetSize(), BlocksPerFrame(mode));
        }
    }
}

// The check's figures at its edges: a block fits while the free address space
// after it keeps 256 MiB, or a quarter of the space when that is less.
TEST(Preload, MemoryCheckKeepsTheHostsReserve) {
    constexpr size_t kMiB = 1u << 20, kBlock = 3 * kMiB;
    const struct {
        size_t availPhys, totalVirtual, availVirtual;
        DWORD error;   // 0: allowed
    } cases[] = {
        {SIZE_MAX, SIZE_MAX, SIZE_MAX, 0},              // nothing limits the space
        {SIZE_MAX, SIZE_MAX, 256 * kMiB + kBlock, 0},   // the whole space: 256 MiB kept
        {SIZE_MAX, SIZE_MAX, 256 * kMiB + kBlock - 1, ERROR_COMMITMENT_LIMIT},
        {SIZE_MAX, 1024 * kMiB, 256 * kMiB + kBlock, 0},   // a quarter is 256 MiB too
        {SIZE_MAX, 1024 * kMiB, 256 * kMiB + kBlock - 1, ERROR_COMMITMENT_LIMIT},
        {SIZE_MAX, 400 * kMiB, 100 * kMiB + kBlock, 0},   // a quarter is less
        {SIZE_MAX, 400 * kMiB, 100 * kMiB + kBlock - 1, ERROR_COMMITMENT_LIMIT},
        {SIZE_MAX, 400 * kMiB, 0, ERROR_COMMITMENT_LIMIT},
        {kBlock, SIZE_MAX, SIZE_MAX, 0},   // physical memory
        {kBlock - 1, SIZE_MAX, SIZE_MAX, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.availPhys) + " " + std::to_string(c.totalVirtual) + " " +
                     std::to_string(c.availVirtual));
        MEMORYSTATUS ms{};
        ms.dwAvailPhys = c.availPhys;
        ms.dwTotalVirtual = c.totalVirtual;
        ms.dwAvailVirtual = c.availVirtual;
        SetLastError(0);
        EXPECT_EQ(PreloadMemoryAllows(kBlock, &ms), c.error == 0 ? TRUE : FALSE);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

// A raw file cut inside its third frame: two frames stored, the third not
// (the buffer still holds the second).
TEST(Preload, UnreadableFrameStopsTheRawPath) {
    const std::string path = WriteMovie("cut.rvo", 4, 3);
    const off_t record = (off_t)((4 * kW * kH + 511) / 512 * 512);
    ASSERT_EQ(truncate(path.c_str(), 512 + 2 * record + 512), 0);
    CRvoFile f;
    ProgressScope scope;
    f.SetProgressCallback(Progress);
    SetLastError(0);
    EXPECT_FALSE(f.Preload(Wide(path).c_str(), -1, -1));
    EXPECT_NE(GetLastError(), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(g_calls, (std::vector<int>{-3, 0, 1}));
    EXPECT_EQ(f.Cache().GetSize(), 2);
}

// The third picture blob claims a width one pixel narrower than the file's,
// in both its copies: the first two frames stay loaded. With one copy so
// damaged, or unreadable, the picture is loaded from the other.
TEST(Preload, UndecodableBlobStopsTheCodedPath) {
    const std::string path = WriteMovie("narrow.rvo", 3, 3);
    std::vector<uint8_t> bytes = rvotest::ReadAll(path);
    // Blob copies in the file (marker, width, height): the frame area's, then the
    // index records'; the third is the third entry's frame-area copy, which is read.
    const uint8_t magic[4] = {0x00, 0xA0, 0xAA, 0x55};
    std::vector<size_t> at;
    for (size_t i = 0; i + 8 <= bytes.size(); i++)
        if (std::memcmp(bytes.data() + i, magic, 4) == 0 && bytes[i + 4] == kW && bytes[i + 8] == kH) at.push_back(i);
    ASSERT_EQ(at.size(), 6u);
    bytes[at[2] + 4] = kW - 1;
    rvotest::WriteAll(path, bytes);
    {
        CRvoFile f;
        ProgressScope scope;
        f.SetProgressCallback(Progress);
        EXPECT_TRUE(f.Preload(Wide(path).c_str(), -1, -1));
        EXPECT_EQ(f.Cache().GetSize(), 6);
    }
    {
        // A copy that cannot be read at all (no marker) is passed over as well.
        std::vector<uint8_t> unread = bytes;
        unread[at[2]] = 0x01;
        rvotest::WriteAll(path, unread);
        CRvoFile f;
        EXPECT_TRUE(f.Preload(Wide(path).c_str(), -1, -1));
        EXPECT_EQ(f.Cache().GetSize(), 6);
    }
    bytes[at[5] + 4] = kW - 1;
    rvotest::WriteAll(path, bytes);

    CRvoFile f;
    ProgressScope scope;
    f.SetProgressCallback(Progress);
    EXPECT_FALSE(f.Preload(Wide(path).c_str(), -1, -1));
    EXPECT_EQ(g_calls, (std::vector<int>{-3, 0, 1}));
    EXPECT_EQ(f.Cache().GetSize(), 4);
}

// Lets the process's lock limit apply even to a privileged process.
bool DropLockPrivilege() {
    __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &hdr, data) != 0) return false;
    data[CAP_IPC_LOCK / 32].effective &= ~(1u << (CAP_IPC_LOCK % 32));
    return syscall(SYS_capset, &hdr, data) == 0;
}

// Run in a child process: the limit and the privilege change stay there. The
// child leaves with _exit, so the parent's scratch folder outlives it.
int PreloadUnderLockLimit(const std::string& path) {
    if (!DropLockPrivilege()) return 10;
    rlimit lim{};
    if (getrlimit(RLIMIT_MEMLOCK, &lim) != 0) return 11;
    lim.rlim_cur = 300 * 1024;
    if (setrlimit(RLIMIT_MEMLOCK, &lim) != 0) return 12;
    CRvoFile f;
    SetLastError(0);
    if (f.Preload(Wide(path).c_str(), -1, -1)) return 1;
    if (GetLastError() != ERROR_WORKING_SET_QUOTA) return 2;
    return f.Cache().GetSize() == 1 ? 0 : 3;
}

// With the lock limit lowered to hold one 200 KiB frame, preloading stops at the
// second, keeps the first and says why.
TEST(PreloadDeathTest, LockLimitStopsKeepingWhatWasLoaded) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer turns mlock into a no-op";
#endif
    const std::string path = WriteMovie("lock.rvo", 4, 3, 256, 200);
    EXPECT_EXIT(_exit(PreloadUnderLockLimit(path)), ::testing::ExitedWithCode(0), "");
}
