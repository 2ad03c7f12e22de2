// Files the container writes, compared byte for byte with hand-built fixtures,
// then opened again.
#include <gtest/gtest.h>

#include "container/RvoFile.h"
#include "platform/RawFile.h"
#include "tests/container/Fixtures.h"
#include "tests/support/Movies.h"

using namespace fixture;
using rvotest::DiffBytes;
using rvotest::ReadAll;
using rvotest::ScratchPath;
using rvotest::Wide;

namespace {

// Appends a frame of the blob (null: a frame the codec could not compress,
// which keeps its entry and fails) through the writer's own append.
BOOL AppendBlob(CRvoFile& f, HGLOBAL hBlob) {
    RvoEncodedFrame frame;
    frame.hBlob = hBlob;
    return f.AppendEncodedFrame(frame);
}

}   // namespace

TEST(WrittenFile, JpegBlobsOneFrame) {
    const BlobSpec blob{33, 17, 5, 9, 0x40};
    const std::string path = ScratchPath("one.rvo");
    {
        CRvoFile f;
        ASSERT_TRUE(f.Create(Wide(path).c_str(), 3));
        // Between Create and Close only the initial header is on disk.
        EXPECT_EQ(DiffBytes(HeaderBytes({.indexOffset = 160, .mode = 3}), ReadAll(path)), "");
        ASSERT_TRUE(AppendBlob(f, MakeBlob(blob)));
        ASSERT_TRUE(f.Close(TRUE));
    }
    const uint32_t nBlob = 20 + 5 + 9;
    Bytes expected = HeaderBytes({.indexOffset = 160 + nBlob, .entryCount = 1, .frameCount = 1, .mode = 3, .width = 33, .height = 17});
    Append(expected, BlobFileBytes(blob));
    Append(expected, RecordBytes({.flags = 0, .blob = &blob, .blobOffset = 160}));
    ASSERT_EQ(DiffBytes(expected, ReadAll(path)), "");
    // The record's first bytes, written out: reserved 0, kind 1, then "No.0".
    const Bytes rec(expected.begin() + 160 + nBlob, expected.begin() + 160 + nBlob + 20);
    EXPECT_EQ(rec, (Bytes{0, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFE, 0xFF, 0x04, 0x4E, 0, 0x6F, 0, 0x2E, 0, 0x30, 0}));

    CRvoFile r;
    ASSERT_TRUE(r.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(r.Header().m_nMode, 3);
    EXPECT_EQ(r.GetFrameCount(), 1);
    EXPECT_EQ(r.Header().m_nWidth, 33);
    EXPECT_EQ(r.Header().m_nHeight, 17);
    ASSERT_EQ(r.GetEntryCount(), 1);
    const RvoIndexEntry* e = r.GetEntry(0);
    EXPECT_TRUE(e->m_strName == CString(u"No.0"));
    EXPECT_EQ(e->m_dwBlobOffset, 160u);
    EXPECT_EQ(e->m_dwFlags, 0u);
    EXPECT_EQ(e->m_nIndexBlobAt, 160u + nBlob + 44u);   // after the record's first nine fields
    // The blob read back from the file is the in-memory form again.
    HGLOBAL hBack = r.TakeBlob(0);
    ASSERT_NE(hBack, nullptr);
    Bytes mem(GlobalSize(hBack));
    std::memcpy(mem.data(), GlobalLock(hBack), mem.size());
    GlobalUnlock(hBack);
    GlobalFree(hBack);
    Bytes want = BlobFileBytes(blob);
    want[0] = 0x01;
    want[1] = 0x00;
    want[2] = 0xAA;
    want[3] = 0x55;
    rvotest::PutZeros(want, 4);
    EXPECT_EQ(DiffBytes(want, mem), "");
}

// Opening keeps no blob in memory. A record whose blob has no frame-area copy
// (offset 0, or flag bit 0 set: not stored there; an image list's records)
// has its picture read from the copy inside the record; otherwise the
// frame-area copy is read.
TEST(WrittenFile, RecordBlobIsReadFromTheFrameAreaOrElseTheRecord) {
    const BlobSpec inRecord{4, 4, 2, 2, 5}, inFrameArea{4, 4, 2, 2, 9};
    const struct {
        uint32_t flags, blobOffset;
        bool bFromFrameArea;
    } rows[] = {{1, 0, false}, {0, 0, false}, {1, 160, false}, {0, 160, true}};
    for (const auto& row : rows) {
        const std::string path = ScratchPath("record-blob.rvo");
        const uint32_t nArea = 20 + 4;
        Bytes file = HeaderBytes({.indexOffset = 160 + nArea, .entryCount = 1, .frameCount = 1, .mode = 2, .width = 4, .height = 4});
        Append(file, BlobFileBytes(inFrameArea));
        Append(file, RecordBytes({.kind = 2, .name = u"a.png", .flags = row.flags, .blob = &inRecord, .blobOffset = row.blobOffset}));
        rvotest::WriteAll(path, file);

        CRvoFile r;
        ASSERT_TRUE(r.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
        ASSERT_EQ(r.GetEntryCount(), 1);
        EXPECT_EQ(r.GetEntry(0)->m_hBlob, nullptr);
        HGLOBAL h = r.TakeBlob(0);
        ASSERT_NE(h, nullptr);
        const BYTE* p = static_cast<const BYTE*>(GlobalLock(h));
        EXPECT_EQ(Bytes(p + 20, p + 24), BlobData(row.bFromFrameArea ? inFrameArea : inRecord))
            << row.flags << " " << row.blobOffset;
        GlobalUnlock(h);
        GlobalFree(h);
    }
}

TEST(WrittenFile, JpegBlobsTakeEachMaximumSeparately) {
    const BlobSpec a{100, 20, 3, 4, 1}, b{50, 70, 2, 2, 2};
    const std::string path = ScratchPath("two.rvo");
    {
        CRvoFile f;
        ASSERT_TRUE(f.Create(Wide(path).c_str(), 3));
        ASSERT_TRUE(AppendBlob(f, MakeBlob(a)));
        EXPECT_FALSE(AppendBlob(f, nullptr));   // a frame without blob keeps its flag
        ASSERT_TRUE(AppendBlob(f, MakeBlob(b)));
        ASSERT_TRUE(f.Close(TRUE));
    }
    const uint32_t nA = 27, nB = 24;
    Bytes expected = HeaderBytes({.indexOffset = 160 + nA + nB, .entryCount = 3, .frameCount = 3, .mode = 3, .width = 100, .height = 70});
    Append(expected, BlobFileBytes(a));
    Append(expected, BlobFileBytes(b));
    Append(expected, RecordBytes({.blob = &a, .blobOffset = 160}));
    Append(expected, RecordBytes({.name = u"No.1", .startFrame = 1, .flags = 1}));
    Append(expected, RecordBytes({.name = u"No.2", .startFrame = 2, .blob = &b, .blobOffset = 160 + nA}));
    EXPECT_EQ(DiffBytes(expected, ReadAll(path)), "");
}

TEST(WrittenFile, JpegBlobsWithoutFramesOpensEmpty) {
    const std::string path = ScratchPath("empty3.rvo");
    for (BOOL bFinalize : {TRUE, FALSE}) {
        CRvoFile f;
        ASSERT_TRUE(f.Create(Wide(path).c_str(), 3));
        ASSERT_TRUE(f.Close(bFinalize));
        // Finalized: no blob gave a size, so both read -1; unfinalized: the initial header.
        const Bytes expected = bFinalize ? HeaderBytes({.mode = 3, .width = -1, .height = -1})
                                         : HeaderBytes({.mode = 3});
        EXPECT_EQ(DiffBytes(expected, ReadAll(path)), "") << "finalize " << bFinalize;

        CRvoFile r;
        ASSERT_TRUE(r.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
        EXPECT_EQ(r.GetFrameCount(), 0);
        EXPECT_EQ(r.Header().m_nWidth, bFinalize ? -1 : 0);
        EXPECT_EQ(r.Header().m_nHeight, bFinalize ? -1 : 0);
        EXPECT_TRUE(r.IsOpen());
    }
}

TEST(WrittenFile, PackedFramesSizeTableOf129Frames) {
    const std::string path = ScratchPath("packed129.rvo");
    {
        CRvoFile f;
        const SIZE size{4, 4};
        ASSERT_TRUE(f.Create(Wide(path).c_str(), 5, &size));
        ASSERT_EQ(f.FrameBytes(), 512u);   // 4 x 4 x 4 + 16, rounded up to 512
        AppendRecords(f, 129, 512);
        ASSERT_TRUE(f.Close(TRUE));
    }
    const uint32_t nTableAt = 512 + 129 * 512;
    Bytes expected = HeaderBytes({.indexOffset = 512, .entryCount = 129, .frameCount = 129, .mode = 5, .width = 4, .height = 4, .sizeTableBytes = 1024, .tableHigh = 0, .tableLow = nTableAt},
                                 512);
    Append(expected, RecordArea(129, 512));
    for (int i = 0; i < 129; i++) rvotest::PutU32(expected, 512);   // 516 bytes of sizes
    rvotest::PutZeros(expected, 508);
    ASSERT_EQ(DiffBytes(expected, ReadAll(path)), "");

    CRvoFile r;
    ASSERT_TRUE(r.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(r.GetFrameCount(), 129);
    EXPECT_TRUE(r.IsOpen());
    // The table's last word, past its first 512 bytes, is read too.
    EXPECT_EQ(r.RecordBytesAt(128), 512u);
    EXPECT_EQ(r.RecordBytesAt(129), 0u);
    EXPECT_TRUE(r.SeekToFrame(128));
}

TEST(WrittenFile, PackedFramesWithoutFrames) {
    const std::string path = ScratchPath("empty5.rvo");
    {
        CRvoFile f;
        const SIZE size{8, 2};
        ASSERT_TRUE(f.Create(Wide(path).c_str(), 5, &size));
        ASSERT_TRUE(f.Close(TRUE));
    }
    // No frames: the table is empty and sits where the records would start.
    const Bytes expected = HeaderBytes({.indexOffset = 512, .mode = 5, .width = 8, .height = 2, .tableLow = 512}, 512);
    EXPECT_EQ(DiffBytes(expected, ReadAll(path)), "");
    CRvoFile r;
    ASSERT_TRUE(r.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(r.GetFrameCount(), 0);
    EXPECT_EQ(r.RecordBytesAt(0), 0u);   // an entry count of 0 leaves the frame area alone
}

TEST(WrittenFile, RawFramesOverALongerFileIsCutAtItsNewEnd) {
    const std::string path = ScratchPath("over.rvo");
    rvotest::WriteAll(path, Bytes(100000, 0xEE));
    {
        CRvoFile f;
        const SIZE size{10, 10};
        ASSERT_TRUE(f.Create(Wide(path).c_str(), 4, &size));
        ASSERT_EQ(f.FrameBytes(), 512u);
        AppendRecords(f, 2, 512);
        ASSERT_TRUE(f.Close(TRUE));
    }
    Bytes expected = HeaderBytes({.indexOffset = 512, .entryCount = 2, .frameCount = 2, .mode = 4, .width = 10, .height = 10},
                                 512);
    Append(expected, RecordArea(2, 512));
    EXPECT_EQ(DiffBytes(expected, ReadAll(path)), "");
}

TEST(WrittenFile, RawFramesUnfinalizedKeepsTheInitialHeader) {
    const std::string path = ScratchPath("raw-unfinal.rvo");
    CRvoFile f;
    const SIZE size{10, 10};
    ASSERT_TRUE(f.Create(Wide(path).c_str(), 4, &size));
    AppendRecords(f, 1, 512);
    ASSERT_TRUE(f.Close(FALSE));
    // The block as SetFrameSize wrote it again: zero counts, and the frame-size record.
    Bytes expected = HeaderBytes({.indexOffset = 512, .mode = 4, .recordWidth = 10, .recordHeight = 10}, 512);
    Append(expected, RecordArea(1, 512));
    EXPECT_EQ(DiffBytes(expected, ReadAll(path)), "");
    CRvoFile r;
    ASSERT_TRUE(r.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(r.GetFrameCount(), 0);
}

// On volumes of 4096-byte sectors (the platform's hook) records at multiples
// of 512 go through the bounce path (Windows) or the page cache (Linux): the
// same bytes as with 512-byte sectors, and the frames read back.
TEST(WrittenFile, RecordModesAreTheSameBytesWith4096ByteSectors) {
    constexpr int w = 40, h = 30;
    std::vector<std::vector<uint32_t>> frames(3, std::vector<uint32_t>((size_t)w * h));
    for (size_t k = 0; k < frames.size(); k++)
        for (size_t i = 0; i < frames[k].size(); i++) frames[k][i] = (uint32_t)(i * 2654435761u + k * 977u) | 0xFF000000u;
    for (LONG nMode : {rvo::RawFrames, rvo::PackedFrames}) {
        const std::string path = ScratchPath("sectors" + std::to_string(nMode) + ".rvo");
        const std::vector<uint8_t> with512 = rvotest::SectorSizedMovie(path, nMode, 512, w, h, frames);
        const std::vector<uint8_t> with4096 = rvotest::SectorSizedMovie(path, nMode, 4096, w, h, frames);
        EXPECT_FALSE(with512.empty()) << "mode " << nMode;
        EXPECT_EQ(with4096, with512) << "mode " << nMode;
    }
}
