// The container object's state rules: frame counts, frame positions, working
// buffers, image-list sizes from the host, and what open and close leave behind.
#include <gtest/gtest.h>

#include <climits>

#include "container/RvoFile.h"
#include "platform/HostImageServices.h"
#include "platform/RawFile.h"
#include "tests/container/Fixtures.h"

using namespace fixture;
using rvotest::DiffBytes;
using rvotest::ReadAll;
using rvotest::ScratchPath;
using rvotest::Wide;

TEST(Object, HeaderImageBytes) {
    CRvoHeader f;
    f.m_dwIndexOffset = 0x11223344;
    f.m_nEntryCount = 5;
    f.m_nFrameCount = -2;
    f.m_nMode = 5;
    f.m_nWidth = 1920;
    f.m_nHeight = -1;
    f.m_dwSizeTableFlag = 0xA3;
    f.m_dwSizeTableBytes = 0x400;
    f.m_dwSizeTableOffsetHigh = 0x1;
    f.m_dwSizeTableOffsetLow = 0x80000200;
    BYTE out[160];
    f.StoreHeader(out);
    const Bytes expected = {
        'Q', 'A', 'R', 'V', 'O', 'V', '1', '0',
        0x44, 0x33, 0x22, 0x11,                           // index offset
        0x05, 0x00, 0x00, 0x00,                           // entry count
        0xFE, 0xFF, 0xFF, 0xFF,                           // frame count
        0x05, 0x00, 0x00, 0x00,                           // mode
        0x80, 0x07, 0x00, 0x00,                           // width
        0xFF, 0xFF, 0xFF, 0xFF,                           // height
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,   // reserved
        0xA3, 0x00, 0x00, 0x00,                           // table flag
        0x00, 0x04, 0x00, 0x00,                           // table length
        0x01, 0x00, 0x00, 0x00,                           // table offset, high half first
        0x00, 0x02, 0x00, 0x80,                           // then the low half
    };
    ASSERT_EQ(Bytes(out, out + 56), expected);
    EXPECT_EQ(Bytes(out + 56, out + 160), Bytes(104, 0));
    // Reserved bytes read from a file are written back as they came.
    out[32] = 0xA1;
    out[39] = 0xA2;
    out[56] = 0x01;
    out[159] = 0x5A;
    CRvoHeader g;
    g.LoadHeader(out);
    BYTE again[160];
    g.StoreHeader(again);
    EXPECT_EQ(Bytes(again, again + 160), Bytes(out, out + 160));
    EXPECT_EQ(g.m_dwSizeTableOffsetHigh, 1u);
    EXPECT_EQ(g.m_nHeight, -1);
}

TEST(Object, OpenedFrameCountNeverExceedsTheTable) {
    // A packed file whose header claims 50 frames but counts 2 entries and 2 table words.
    Bytes v = HeaderBytes({.indexOffset = 512, .entryCount = 2, .frameCount = 50, .mode = 5, .width = 4, .height = 4, .sizeTableBytes = 512, .tableLow = 1536},
                          512);
    Append(v, RecordArea(2, 512));
    rvotest::PutU32(v, 512);
    rvotest::PutU32(v, 512);
    rvotest::PutZeros(v, 504);
    const std::string path = ScratchPath("claims50.rvo");
    rvotest::WriteAll(path, v);
    CRvoFile f;
    ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(f.Header().m_nFrameCount, 2);
    EXPECT_FALSE(f.SeekToFrame(2));
    EXPECT_TRUE(f.SeekToFrame(1));
}

TEST(Object, FrameCountRules) {
    struct Case {
        LONG mode, headerCount;   // the header's entry count (modes 4 and 5) or frame count
        int entries;
        LONG start, last;
        int expected;
    } cases[] = {
        {3, 0, 0, 0, 0, 0},   // no entries: 0 whatever the header says
        {3, 9, 0, 0, 0, 0},
        {4, 9, 0, 0, 0, 9},   // raw modes opened for reading: the header's count
        {5, 7, 0, 0, 0, 7},
        {5, 7, 3, 0, 0, 3},    // raw modes being written: one entry per frame
        {3, 0, 2, 1, 7, 8},    // last frame 7: eight frames
        {3, 0, 2, 4, -1, 5},   // last frame -1 or 0: the start frame alone
        {2, 0, 1, 4, 0, 5},
        {1, 0, 1, 0, INT_MAX, INT_MAX},   // a damaged record never makes the count wrap
        {3, 0, 1, -9, -1, 0},
    };
    const std::string path = ScratchPath("counts.rvo");
    for (const Case& c : cases) {
        CRvoFile f;
        const bool bRecords = c.mode == 4 || c.mode == 5;
        if (bRecords && c.entries > 0) {
            ASSERT_TRUE(f.Create(Wide(path).c_str(), c.mode));
            AppendRecords(f, c.entries, 512);
        } else if (bRecords) {
            // A header block, then (mode 5) a table that covers the count.
            const uint32_t nTable = c.mode == 5 ? 512 : 0;
            Bytes v = HeaderBytes({.indexOffset = 512, .entryCount = (uint32_t)c.headerCount, .mode = c.mode,
                                   .sizeTableBytes = nTable, .tableLow = 512},
                                  512);
            rvotest::PutZeros(v, nTable);
            rvotest::WriteAll(path, v);
            ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
        } else {
            Bytes v = HeaderBytes({.entryCount = (uint32_t)c.entries, .frameCount = c.headerCount, .mode = c.mode});
            for (int i = 0; i < c.entries; i++)
                Append(v, RecordBytes({.kind = c.mode == 2 ? 2 : 1, .startFrame = c.start, .lastFrame = c.last}));
            rvotest::WriteAll(path, v);
            ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
        }
        EXPECT_EQ(f.GetFrameCount(), c.expected) << "mode " << c.mode << " last " << c.last;
        EXPECT_EQ(f.Header().m_nFrameCount, c.expected);
    }
}

TEST(Object, WorkingBuffersPerMode) {
    struct Case {
        LONG mode, cx, cy;
        DWORD frameBytes;
    } cases[] = {
        {5, 4, 4, 512},         // 64 + 16 bytes, rounded up
        {4, 100, 100, 40448},   // 40000 rounded up
        {4, 128, 1, 512},
        {3, 3, 5, 60},
        {2, 0, 0, 0},   // zero is accepted
        {4, 0, 7, 0},
    };
    const std::string path = ScratchPath("buffers.rvo");
    for (const Case& c : cases) {
        CRvoFile f;
        const SIZE s{c.cx, c.cy};
        ASSERT_TRUE(f.Create(Wide(path).c_str(), c.mode, &s)) << c.mode << " " << c.cx << "x" << c.cy;
        EXPECT_EQ(f.FrameBytes(), c.frameBytes) << c.mode << " " << c.cx << "x" << c.cy;
        EXPECT_EQ(f.FrameSize().cx, c.cx);
        EXPECT_EQ(f.FrameSize().cy, c.cy);
    }
}

TEST(Object, RefusedFrameSizesChangeNothing) {
    const std::string path = ScratchPath("refused.rvo");
    CRvoFile f;
    const SIZE good{10, 10};
    ASSERT_TRUE(f.Create(Wide(path).c_str(), 4, &good));
    for (SIZE bad : {SIZE{-1, 10}, SIZE{10, -1}, SIZE{16385, 1}, SIZE{1, 16385}, SIZE{8192, 8193},
                     SIZE{INT_MIN, INT_MIN}, SIZE{INT_MAX, INT_MAX}}) {
        EXPECT_FALSE(f.SetFrameSize(&bad));
        EXPECT_EQ(f.FrameSize().cx, 10);
        EXPECT_EQ(f.FrameSize().cy, 10);
        EXPECT_EQ(f.FrameBytes(), 512u);
    }
    // The buffers kept their size: a frame of the old size is written and read back whole.
    std::vector<DWORD> px(100);
    for (DWORD i = 0; i < 100; i++) px[i] = 0x01020304u * (i + 1);
    ASSERT_TRUE(f.WriteFrame(px.data(), 10));
    ASSERT_TRUE(f.Close(TRUE));
    CRvoFile r;
    ASSERT_TRUE(r.OpenForReading(Wide(path).c_str()));
    std::vector<DWORD> back(100);
    ASSERT_EQ(r.ReadFrame(0, back.data(), 10, 10, TRUE), 1);
    EXPECT_EQ(back, px);
}

TEST(Object, SeekToFrameInRawAndPackedFiles) {
    // Each frame is read after SeekToFrame placed the handle: its pixels show the position.
    const std::string path = ScratchPath("raw100.rvo");
    {
        CRvoFile f;
        const SIZE s{100, 100};
        ASSERT_TRUE(f.Create(Wide(path).c_str(), 4, &s));
        AppendRecords(f, 3, 40448);
        ASSERT_TRUE(f.Close(TRUE));
    }
    const Bytes file = ReadAll(path);
    ASSERT_EQ(file.size(), 512u + 3 * 40448u);
    CRvoFile r;
    ASSERT_TRUE(r.OpenForReading(Wide(path).c_str()));
    EXPECT_EQ(r.Header().m_nWidth, 100);
    std::vector<DWORD> px(100 * 100);
    for (unsigned i : {2u, 0u, 1u, 2u}) {
        ASSERT_TRUE(r.SeekToFrame(i));
        ASSERT_EQ(r.ReadFrame(i, px.data(), 100, 100, TRUE), 1);
        const size_t at = 512 + (size_t)i * 40448;
        EXPECT_EQ(std::memcmp(px.data(), file.data() + at, 40000), 0) << "frame " << i;
    }
    EXPECT_FALSE(r.SeekToFrame(3));
    EXPECT_FALSE(r.SeekToFrame(0xFFFFFFFFu));

    // Mode 5 positions sum the table: records of one, three and one 512-byte units.
    const std::string packed = ScratchPath("packed3.rvo");
    std::vector<std::vector<DWORD>> frames(3, std::vector<DWORD>(16 * 16, 0));
    for (DWORD k = 0; k < 256; k++) frames[1][k] = 0x9E3779B9u * (k + 1);   // no runs: a raw record
    frames[2].assign(256, 0xFF00FF00u);
    {
        CRvoFile f;
        const SIZE s{16, 16};
        ASSERT_TRUE(f.Create(Wide(packed).c_str(), 5, &s));
        for (const auto& fr : frames) ASSERT_TRUE(f.WriteFrame(fr.data(), 16));
        ASSERT_TRUE(f.Close(TRUE));
    }
    CRvoFile p;
    ASSERT_TRUE(p.OpenForReading(Wide(packed).c_str()));
    EXPECT_EQ(p.RecordBytesAt(0), 512u);
    EXPECT_EQ(p.RecordBytesAt(1), 1536u);
    EXPECT_EQ(p.RecordBytesAt(2), 512u);
    std::vector<DWORD> back(256);
    for (unsigned i : {2u, 0u, 1u, 2u, 1u}) {
        ASSERT_EQ(p.ReadFrame(i, back.data(), 16, 16, TRUE), 1);
        EXPECT_EQ(back, frames[i]) << "frame " << i;
    }
    EXPECT_FALSE(p.SeekToFrame(3));
}

TEST(Object, SeekRawKeepsAllOnesLowHalfWithoutError) {
    const std::string path = ScratchPath("seek.bin");
    rvotest::WriteAll(path, Bytes(16, 0));
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SeekRaw(h, 0xFFFFFFFFll, FILE_BEGIN), 0xFFFFFFFFll);   // a valid position, not an error
    EXPECT_EQ(SeekRaw(h, 0x123456789ll, FILE_BEGIN), 0x123456789ll);
    EXPECT_EQ(SeekRaw(h, -0x123456790ll, FILE_CURRENT), -1);   // before the start
    EXPECT_EQ(SeekRaw(nullptr, 0, FILE_BEGIN), -1);
    CloseHandle(h);
}

TEST(Object, OpenForCreationIsRefusedWithoutTouchingTheFile) {
    const std::string path = ScratchPath("keep.rvo");
    const Bytes original = HeaderBytes({.mode = 3});
    rvotest::WriteAll(path, original);
    CRvoFile f;
    EXPECT_FALSE(f.Open(Wide(path).c_str(), CFile::modeCreate));
    EXPECT_FALSE(f.Open(Wide(path).c_str(), CFile::modeCreate | CFile::shareDenyWrite));
    EXPECT_EQ(ReadAll(path), original);
    const std::string absent = ScratchPath("absent.rvo");
    EXPECT_FALSE(f.Open(Wide(absent).c_str(), CFile::modeCreate | CFile::modeReadWrite));
    EXPECT_FALSE(std::filesystem::exists(absent));
    EXPECT_FALSE(f.IsOpen());
}

TEST(Object, CloseReturnsToTheEmptyState) {
    const std::string path = ScratchPath("closed.rvo");
    const BlobSpec blob{4, 4, 2, 2, 5};
    CRvoFile f;
    ASSERT_TRUE(f.Create(Wide(path).c_str(), 3));
    RvoEncodedFrame frame;
    frame.hBlob = MakeBlob(blob);
    ASSERT_TRUE(f.AppendEncodedFrame(frame));
    ASSERT_TRUE(f.Close(TRUE));
    const Bytes written = ReadAll(path);
    // A second close finds no file and only resets.
    EXPECT_TRUE(f.Close(TRUE));
    EXPECT_EQ(ReadAll(path), written);
    EXPECT_EQ(f.Header().m_nMode, 2);
    EXPECT_EQ(f.Header().m_nEntryCount, 0);
    EXPECT_EQ(f.Header().m_nFrameCount, 0);
    EXPECT_EQ(f.GetEntryCount(), 0);
    EXPECT_FALSE(f.IsOpen());
    BYTE header[160];
    f.Header().StoreHeader(header);
    EXPECT_EQ(DiffBytes(HeaderBytes({.mode = 2}), Bytes(header, header + 160)), "");
    // The same object opens again; Open closes what it had without finalizing.
    ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(f.Header().m_nFrameCount, 1);
    ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(f.GetEntryCount(), 1);
    EXPECT_EQ(ReadAll(path), written);
}

TEST(Object, TheRecordStoreClosesARawHandleLeftBehind) {
    const std::string path = ScratchPath("left.rvo");
    rvotest::WriteAll(path, Bytes(512, 0));
    const int nBefore = OpenDescriptors();
    {
        CRecordStore store;
        store.m_hRawFile = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_NO_BUFFERING, nullptr);
        ASSERT_NE(store.m_hRawFile, INVALID_HANDLE_VALUE);
        EXPECT_EQ(OpenDescriptors(), nBefore + 1);
    }
    EXPECT_EQ(OpenDescriptors(), nBefore);
}

namespace {

int FakeImageInfo(const WCHAR* pszPath, int*, int*, int* pWidth, int* pHeight) {
    const CString s(pszPath);
    if (s == CString(u"/img/a.png")) {
        *pWidth = 320;
        *pHeight = 240;
        return 1;
    }
    if (s == CString(u"/img/b.png")) {
        *pWidth = 100;
        *pHeight = 400;
        return 1;
    }
    if (s == CString(u"/img/neg.png")) {
        *pWidth = -7;
        *pHeight = 0;
        return 1;
    }
    return 0;
}

struct ImageInfoScope {
    explicit ImageInfoScope(PFN_GETIMGINFO pfn) { SetGetImgInfoFunc(pfn); }
    ~ImageInfoScope() { SetGetImgInfoFunc(nullptr); }
};

Bytes ImageListFile(const std::u16string& first, int32_t width, int32_t height) {
    Bytes v = HeaderBytes({.entryCount = 2, .frameCount = 2, .mode = 2, .width = width, .height = height});
    Append(v, RecordBytes({.kind = 2, .name = first, .flags = 1}));
    Append(v, RecordBytes({.kind = 2, .name = u"/img/b.png", .startFrame = 1, .flags = 1}));
    return v;
}

}   // namespace

TEST(Object, ImageListSizesComeFromTheHost) {
    const std::string path = ScratchPath("list.rvo");
    struct Case {
        PFN_GETIMGINFO pfn;
        std::u16string first;
        int32_t width, height;
        LONG expectW, expectH;
    } cases[] = {
        {FakeImageInfo, u"/img/a.png", 0, 0, 320, 240},       // missing size: record 0's image
        {FakeImageInfo, u"/img/a.png", 640, 480, 640, 480},   // stored size kept
        {FakeImageInfo, u"/img/a.png", 0, 480, 320, 240},
        {FakeImageInfo, u"/img/neg.png", 0, 0, -1, 0},        // below -1 raised to -1
        {FakeImageInfo, u"/img/unknown.png", 0, 0, -1, -1},   // failed query
        {nullptr, u"/img/a.png", 0, 0, -1, -1},               // no host service: a failed query
    };
    for (const Case& c : cases) {
        ImageInfoScope scope(c.pfn);
        rvotest::WriteAll(path, ImageListFile(c.first, c.width, c.height));
        CRvoFile f;
        ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
        EXPECT_EQ(f.Header().m_nWidth, c.expectW) << c.width << "x" << c.height;
        EXPECT_EQ(f.Header().m_nHeight, c.expectH) << c.width << "x" << c.height;
        EXPECT_EQ(f.GetFrameCount(), 2);
    }
}
