// The buffered file and the unbuffered raw file: the same bytes whether the
// file system takes direct I/O (the build folder's disk) or refuses it (tmpfs).
#include <gtest/gtest.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/CString.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"
#include "tests/support/TestFiles.h"

using rvotest::ReadAll;
using rvotest::ScratchPath;
using rvotest::Wide;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr long kTmpfsMagic = 0x01021994;

long FsType(const std::string& dir) {
    struct statfs s;
    return statfs(dir.c_str(), &s) == 0 ? (long)s.f_type : 0;
}

// A fresh folder on tmpfs (/tmp when it is one, else /dev/shm), or "" when there is none.
std::string TmpfsDir() {
    for (const char* base : {"/tmp", "/dev/shm"}) {
        if (FsType(base) != kTmpfsMagic) continue;
        std::string dir = std::string(base) + "/rvo-platform-" + std::to_string(getpid());
        std::filesystem::create_directories(dir);
        return dir;
    }
    return "";
}

Bytes Pattern(size_t n, int seed) {
    Bytes v(n);
    for (size_t i = 0; i < n; i++) v[i] = (uint8_t)(seed + i * 13 + (i >> 9));
    return v;
}

// Writes and reads a file through the raw calls the way the container does:
// an aligned 512-byte header, aligned records, an unaligned tail, a rewrite of
// the header, a cut. Returns the bytes read back through the handle.
Bytes RawScenario(const std::string& path, BOOL* pbDirect, BOOL* pbDirectAfterUnaligned) {
    std::filesystem::remove(path);
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    *pbDirect = IsDirectIo(h);
    BYTE* p = static_cast<BYTE*>(AllocAligned(8192));
    Bytes data = Pattern(8192, 3);
    std::memcpy(p, data.data(), 8192);
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(h, p, 8192, &n, nullptr));
    EXPECT_EQ(n, 8192u);
    EXPECT_TRUE(WriteFile(h, p + 1, 700, &n, nullptr));   // unaligned buffer and length
    EXPECT_EQ(n, 700u);
    *pbDirectAfterUnaligned = IsDirectIo(h);
    LONG nHigh = 0;
    EXPECT_EQ(SetFilePointer(h, 512, &nHigh, FILE_BEGIN), 512u);
    std::memset(p, 0xAB, 512);
    EXPECT_TRUE(WriteFile(h, p, 512, &n, nullptr));
    EXPECT_EQ(SetFilePointer(h, 8192 + 100, nullptr, FILE_BEGIN), 8292u);
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_TRUE(CloseHandle(h));
    FreeAligned(p);

    h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_NO_BUFFERING, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    BYTE* q = static_cast<BYTE*>(AllocAligned(16384));
    DWORD nRead = 0;
    // Asking for more than the file holds delivers what there is.
    EXPECT_TRUE(ReadFile(h, q, 16384, &nRead, nullptr));
    Bytes out(q, q + nRead);
    FreeAligned(q);
    CloseHandle(h);
    return out;
}

}   // namespace

TEST(RawFile, DirectAndFallbackGiveTheSameBytes) {
    Bytes expected = Pattern(8192, 3);
    std::memset(expected.data() + 512, 0xAB, 512);
    const Bytes tail = Pattern(8192, 3);
    expected.insert(expected.end(), tail.begin() + 1, tail.begin() + 101);

    BOOL bDirect = FALSE, bDirectAfter = TRUE;
    const std::string onDisk = ScratchPath("raw.bin");
    EXPECT_EQ(rvotest::DiffBytes(expected, RawScenario(onDisk, &bDirect, &bDirectAfter)), "");
    EXPECT_EQ(rvotest::DiffBytes(expected, ReadAll(onDisk)), "");
    const long fs = FsType(rvotest::ScratchDir());
    if (fs == 0xEF53 || fs == 0x58465342) {   // ext4, xfs: the page cache is bypassed
        EXPECT_TRUE(bDirect);
    }
    EXPECT_FALSE(bDirectAfter);   // the unaligned transfer went buffered, and the handle stays so

    // tmpfs refuses O_DIRECT before Linux 6.6 and takes it since: the bytes are the same either way.
    const std::string tmp = TmpfsDir();
    if (tmp.empty()) GTEST_SKIP() << "no tmpfs folder";
    const std::string onTmpfs = tmp + "/raw.bin";
    EXPECT_EQ(rvotest::DiffBytes(expected, RawScenario(onTmpfs, &bDirect, &bDirectAfter)), "");
    EXPECT_EQ(rvotest::DiffBytes(expected, ReadAll(onTmpfs)), "");
    EXPECT_FALSE(bDirectAfter);
    std::filesystem::remove_all(tmp);
}

TEST(RawFile, PointerHandlingAndErrors) {
    const std::string path = ScratchPath("ptr.bin");
    rvotest::WriteAll(path, Pattern(1024, 1));
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LONG nHigh = 2;
    // 2^33 + 5: the high half goes in and comes back.
    EXPECT_EQ(SetFilePointer(h, 5, &nHigh, FILE_BEGIN), 5u);
    EXPECT_EQ(nHigh, 2);
    EXPECT_EQ(GetLastError(), 0u);
    nHigh = -1;   // with a high half, the distance is the 64-bit value of both
    EXPECT_EQ(SetFilePointer(h, -24, &nHigh, FILE_END), 1000u);
    EXPECT_EQ(nHigh, 0);
    EXPECT_EQ(SetFilePointer(h, -2000, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 1000u);   // a refused seek leaves the pointer
    BYTE buf[64];
    DWORD n = 99;
    EXPECT_TRUE(ReadFile(h, buf, 64, &n, nullptr));
    EXPECT_EQ(n, 24u);   // short at the end
    EXPECT_TRUE(ReadFile(h, buf, 64, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(CloseHandle(h));

    EXPECT_EQ(CreateFileW(Wide(ScratchPath("none.bin")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileW(Wide(rvotest::ScratchDir()).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    for (HANDLE bad : {(HANDLE) nullptr, INVALID_HANDLE_VALUE}) {
        EXPECT_FALSE(ReadFile(bad, buf, 1, &n, nullptr));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
        EXPECT_FALSE(SetEndOfFile(bad));
        EXPECT_FALSE(CloseHandle(bad));
    }
    void* p = AllocAligned(1);
    EXPECT_EQ((uintptr_t)p % kDirectAlignment, 0u);
    FreeAligned(p);
}

TEST(File, ReadWriteSeekAndOpenModes) {
    const std::string path = ScratchPath("cfile.bin");
    CFile f;
    EXPECT_FALSE(f.Open(Wide(path).c_str(), CFile::modeRead));   // absent
    ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeCreate | CFile::modeReadWrite));
    const Bytes data = Pattern(5000, 9);
    EXPECT_EQ(f.Write(data.data(), 5000), 5000u);
    EXPECT_EQ(f.GetLength(), 5000u);
    EXPECT_EQ(f.GetPosition(), 5000u);
    EXPECT_EQ(f.Seek(-10, CFile::end), 4990u);
    Bytes buf(64);
    EXPECT_EQ(f.Read(buf.data(), 64), 10u);   // fewer at the end
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 10), Bytes(data.end() - 10, data.end()));
    EXPECT_EQ(f.Seek(-1, CFile::begin), (ULONGLONG)-1);
    EXPECT_EQ(f.Seek(100, CFile::begin), 100u);
    EXPECT_EQ(f.Seek(-50, CFile::current), 50u);
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.Read(buf.data(), 1), 0u);

    // Without modeNoTruncate, modeCreate empties an existing file; with it, keeps it.
    ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
    EXPECT_EQ(f.GetLength(), 5000u);
    ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeCreate | CFile::modeReadWrite));
    EXPECT_EQ(f.GetLength(), 0u);
    f.Close();
    // Read-only: writes take nothing.
    ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(f.Write(data.data(), 10), 0u);
    f.Close();
    EXPECT_FALSE(f.Open(Wide(rvotest::ScratchDir()).c_str(), CFile::modeRead));   // a folder is not a file
}

TEST(File, Utf16PathsBecomeUtf8Names) {
    const std::u16string name = u"caf\u00e9-\u6f22-\U0001F600.bin";
    const std::u16string path = Wide(rvotest::ScratchDir()) + u"/" + name;
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    f.Close();
    EXPECT_TRUE(std::filesystem::exists(rvotest::ScratchDir() + "/caf\xC3\xA9-\xE6\xBC\xA2-\xF0\x9F\x98\x80.bin"));
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

namespace {

// The ways the module opens a file: CFile readers (commands 4, 5, 9) and the
// mode-3 writer, the raw reader of modes 4 and 5 and their writer.
enum class Way { Reader,
                 RawReader,
                 Writer,
                 RawWriter,
                 RawCreator };

const char* WayName(Way w) {
    switch (w) {
    case Way::Reader: return "reader";
    case Way::RawReader: return "raw reader";
    case Way::Writer: return "writer";
    case Way::RawWriter: return "raw writer";
    default: return "raw creator";
    }
}

// One open handle, closed when it goes.
struct Held {
    CFile file;
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Held() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    bool Open(Way w, const std::string& path) {
        const std::u16string p = Wide(path);
        switch (w) {
        case Way::Reader: return file.Open(p.c_str(), CFile::modeRead | CFile::shareDenyWrite);
        case Way::Writer: return file.Open(p.c_str(), CFile::modeCreate | CFile::modeReadWrite);   // empties it
        case Way::RawReader:
            h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING,
                            nullptr);
            break;
        case Way::RawWriter:
            h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_NO_BUFFERING, nullptr);
            break;
        case Way::RawCreator:
            h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);   // empties it
            break;
        }
        return h != INVALID_HANDLE_VALUE;
    }
};

struct ShareCase {
    Way first, second;
    bool admitted;
};

// Readers share; a writer keeps everyone out and is kept out by anyone.
const ShareCase kShareCases[] = {
    {Way::Reader, Way::Reader, true},
    {Way::Reader, Way::RawReader, true},
    {Way::RawReader, Way::Reader, true},
    {Way::RawReader, Way::RawReader, true},
    {Way::Reader, Way::Writer, false},
    {Way::Reader, Way::RawWriter, false},
    {Way::Reader, Way::RawCreator, false},
    {Way::RawReader, Way::Writer, false},
    {Way::RawReader, Way::RawCreator, false},
    {Way::Writer, Way::Reader, false},
    {Way::Writer, Way::RawReader, false},
    {Way::RawWriter, Way::Reader, false},
    {Way::RawWriter, Way::RawReader, false},
    {Way::Writer, Way::RawWriter, false},
    {Way::RawWriter, Way::Writer, false},
};

// The second open while the first handle is held: admitted, or refused with
// ERROR_SHARING_VIOLATION and the file as it was.
void ExpectSecondOpen(const ShareCase& c, const std::string& path, const Bytes& before) {
    Held second;
    SetLastError(0);
    EXPECT_EQ(second.Open(c.second, path), c.admitted);
    if (!c.admitted) {
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
        EXPECT_EQ(rvotest::DiffBytes(before, ReadAll(path)), "");
    }
}

}   // namespace

TEST(File, ShareModesBetweenHandlesOfOneProcess) {
    const std::string path = ScratchPath("shared.bin");
    const Bytes bytes = Pattern(3000, 5);
    for (const ShareCase& c : kShareCases) {
        SCOPED_TRACE(std::string(WayName(c.first)) + " then " + WayName(c.second));
        rvotest::WriteAll(path, bytes);
        {
            Held first;
            ASSERT_TRUE(first.Open(c.first, path));
            ExpectSecondOpen(c, path, ReadAll(path));
        }
        // The share mode goes with the handle.
        Held again;
        EXPECT_TRUE(again.Open(c.second, path));
    }
}

TEST(File, ShareModesBetweenProcesses) {
    const std::string path = ScratchPath("shared-fork.bin");
    const Bytes bytes = Pattern(3000, 6);
    for (const ShareCase& c : kShareCases) {
        SCOPED_TRACE(std::string(WayName(c.first)) + " in another process, then " + WayName(c.second));
        rvotest::WriteAll(path, bytes);
        int opened[2], release[2];
        ASSERT_EQ(pipe(opened), 0);
        ASSERT_EQ(pipe(release), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Holds the first handle until the parent is done; _exit keeps the parent's scratch folder.
            close(opened[0]);
            close(release[1]);
            Held first;
            const char ok = first.Open(c.first, path) ? 1 : 0;
            char done;
            if (write(opened[1], &ok, 1) != 1 || read(release[0], &done, 1) < 0) _exit(2);
            _exit(0);
        }
        close(opened[1]);
        close(release[0]);
        char ok = 0;
        ASSERT_EQ(read(opened[0], &ok, 1), 1);
        EXPECT_EQ(ok, 1);
        ExpectSecondOpen(c, path, ReadAll(path));
        close(release[1]);
        close(opened[0]);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}
