// The host's questions to the module: exports, capabilities, the extension
// test, the filter text, unknown commands and paths without a terminator.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "HostRecord.h"

using namespace host;

namespace {

class HostCommands : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Module().main, nullptr) << Module().error; }
};

TEST_F(HostCommands, ExportsOnlyTheHostInterface) {
    for (const char* name : {"Main", "SetReadImageFunc", "SetGetImgInfoFunc"})
        EXPECT_NE(dlsym(Module().lib, name), nullptr) << name;
    for (const char* name : {"g_szFilterText", "g_bSse2", "g_pfnReadImage", "_Z10DetectSse2v",
                             "_Z15RvoModuleAttachv", "_Z11RvoDispatchjP13HostMediaInfoS0_PP9RvoHandle"})
        EXPECT_EQ(dlsym(Module().lib, name), nullptr) << name;
}

// Each answer touches only its own output bytes.
TEST_F(HostCommands, CapabilitiesAndFilterText) {
    Record in, out(0xCC), before(0xCC);
    void* slot = nullptr;
    EXPECT_EQ(Call(1, in, out, &slot), 0);
    EXPECT_EQ(out.I32(kOffCaps1), 1);
    EXPECT_EQ(out.I32(kOffCaps2), 1);
    out.PutI32(kOffCaps1, before.I32(kOffCaps1));
    out.PutI32(kOffCaps2, before.I32(kOffCaps2));
    EXPECT_EQ(0, std::memcmp(out.Bytes(), before.Bytes(), kRecordBytes));

    EXPECT_EQ(Call(3, in, out, &slot), 0);
    const char16_t* filter = static_cast<const char16_t*>(out.Ptr(kOffFilter));
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(std::u16string(filter), u"RVO File(*.RVO)|*.RVO");
    out.PutPtr(kOffFilter, before.Ptr(kOffFilter));
    EXPECT_EQ(0, std::memcmp(out.Bytes(), before.Bytes(), kRecordBytes));
    EXPECT_EQ(slot, nullptr);
}

TEST_F(HostCommands, ExtensionTest) {
    const struct {
        const char* ext;
        int result;
    } cases[] = {{"RVO", 0}, {"rvo", 0}, {"Rvo", 0}, {"rVO", 0}, {"RVO ", 2}, {".RVO", 2}, {".rvo", 2}, {"AVI", 2}, {"", 2}};
    Record in, out;
    void* slot = nullptr;
    for (const auto& c : cases) {
        in.PutPath(c.ext);
        EXPECT_EQ(Call(2, in, out, &slot), c.result) << "'" << c.ext << "'";
    }
    EXPECT_EQ(slot, nullptr);
}

TEST_F(HostCommands, UnknownCommandsAndCloseWithoutHandle) {
    Record in(0x11), out(0x22), before(0x22);
    void* slot = nullptr;
    for (unsigned cmd : {0u, 11u, 12u, 0x80000000u}) {
        EXPECT_EQ(Call(cmd, in, out, &slot), 0) << cmd;
        EXPECT_EQ(slot, nullptr);
    }
    EXPECT_EQ(0, std::memcmp(out.Bytes(), before.Bytes(), kRecordBytes));
    EXPECT_EQ(Call(10, in, out, &slot), 0);
    EXPECT_EQ(slot, nullptr);
}

// A path field of 256 code units without a NUL is refused. For commands that
// read nothing after the path, the record is placed so that offset 568 is the
// first byte of an inaccessible page: any read past the field would crash.
TEST_F(HostCommands, PathWithoutTerminator) {
    long page = sysconf(_SC_PAGESIZE);
    uint8_t* mem = static_cast<uint8_t*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mem, MAP_FAILED);
    ASSERT_EQ(mprotect(mem + page, page, PROT_NONE), 0);
    uint8_t* rec = mem + page - kOffPath - 2 * kPathUnits;
    std::memset(rec, 0, kOffPath);
    double d = 1.0;
    std::memcpy(rec + kOffFieldDuration, &d, 8);
    for (size_t i = 0; i < kPathUnits; i++) {
        rec[kOffPath + 2 * i] = 'A';
        rec[kOffPath + 2 * i + 1] = 0;
    }
    Record out;
    void* slot = nullptr;
    for (unsigned cmd : {2u, 4u, 5u}) {
        EXPECT_EQ(Module().main(cmd, rec, out.Bytes(), &slot), 1) << cmd;
        EXPECT_EQ(slot, nullptr);
    }
    munmap(mem, 2 * page);

    Record in;
    std::memset(in.Bytes() + kOffPath, 'A', 2 * kPathUnits);
    in.PutRegion(0, 0, 8, 8);
    in.PutDouble(kOffFieldDuration, 1.0);
    in.PutDouble(kOffTotalDuration, 10.0);
    for (unsigned cmd : {6u, 9u}) {
        EXPECT_EQ(Call(cmd, in, out, &slot), 1) << cmd;
        EXPECT_EQ(slot, nullptr);
    }
}

}   // namespace
