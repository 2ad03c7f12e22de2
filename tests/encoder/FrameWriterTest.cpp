// Files written frame by frame through CRvoFile in the raw, packed and JPEG
// modes, read back as bytes: records, offsets, the size table, index entries,
// and what a record that cannot be written leaves behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "container/RvoFile.h"
#include "platform/Cpu.h"
#include "platform/GlobalMemory.h"
#include "platform/LastError.h"
#include "tests/encoder/EncoderTestFrames.h"
#include "tests/support/TestFiles.h"

using namespace enctest;
using rvotest::DiffBytes;
using rvotest::FileSizeCap;
using rvotest::PutU32;
using rvotest::PutZeros;

namespace {

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t at, size_t n) {
    if (at > v.size() || n > v.size() - at) return {};
    return std::vector<uint8_t>(v.begin() + (std::ptrdiff_t)at, v.begin() + (std::ptrdiff_t)(at + n));
}

// The header block of a closed raw-mode file, field by field.
std::vector<uint8_t> HeaderBlock(uint32_t nFrames, uint32_t nMode, uint32_t cx, uint32_t cy, uint32_t nTableBytes,
                                 uint32_t nTableAt) {
    return rvotest::HeaderBytes(
        {512, nFrames, (int32_t)nFrames, (int32_t)nMode, (int32_t)cx, (int32_t)cy, nTableBytes, 0, nTableAt}, 512);
}

struct Writer {
    CRvoFile file;
    std::string path;

    Writer(const std::string& name, LONG nMode, SIZE size) : path(rvotest::ScratchPath(name)) {
        EXPECT_TRUE(file.Create(rvotest::Wide(path).c_str(), nMode));
        file.SetFrameSize(&size);
    }
    BOOL Write(TestFrame& f) { return file.WriteFrame(f.Top(), f.stride); }
    std::vector<uint8_t> CloseAndRead() {
        EXPECT_TRUE(file.Close(TRUE));
        return rvotest::ReadAll(path);
    }
};

TestFrame Distinct33(int seed) {
    TestFrame f(33, 1, 7);
    for (size_t i = 0; i < 33; ++i) f.Walk(i) = Bgra((BYTE)(seed + i), (BYTE)(2 * i), (BYTE)seed, (BYTE)(0xF0 + i % 4));
    return f;
}

TEST(FrameWriter, RawRecordsFollowTheHeaderBlock) {
    // The vector and the plain row copies must give the same file.
    std::vector<uint8_t> files[2];
    for (BOOL bSse2 : {TRUE, FALSE}) {
        Writer w(bSse2 ? "raw33-sse2.rvo" : "raw33-plain.rvo", rvo::RawFrames, SIZE{33, 1});
        g_bSse2 = bSse2;   // after the file object, whose constructor detects the processor
        for (int i = 0; i < 3; ++i) {
            TestFrame f = Distinct33(i * 50);
            ASSERT_TRUE(w.Write(f));
        }
        files[bSse2] = w.CloseAndRead();
        DetectSse2();
    }
    std::vector<uint8_t> expected = HeaderBlock(3, 4, 33, 1, 0, 0);
    for (int i = 0; i < 3; ++i) {
        TestFrame f = Distinct33(i * 50);
        for (size_t k = 0; k < 33; ++k) PutU32(expected, f.Walk(k));
        PutZeros(expected, 380);
    }
    EXPECT_EQ(DiffBytes(expected, files[1]), "");
    EXPECT_EQ(DiffBytes(expected, files[0]), "");
}

TEST(FrameWriter, IndexEntriesNameAndCountEveryFrame) {
    for (LONG nMode : {(LONG)rvo::RawFrames, (LONG)rvo::PackedFrames, (LONG)rvo::JpegBlobs}) {
        // Smooth enough that the JPEG streams fit the engine's work block.
        Writer w("entries" + std::to_string(nMode) + ".rvo", nMode, SIZE{32, 32});
        TestFrame f(32, 32, 2);
        for (size_t i = 0; i < f.Count(); ++i) f.Walk(i) = Bgra((BYTE)(i / 8), (BYTE)(i % 32), 40, 255);
        for (int i = 0; i < 11; ++i) {
            ASSERT_TRUE(w.Write(f));
            EXPECT_EQ(w.file.Header().m_nEntryCount, i + 1);
            EXPECT_EQ(w.file.Header().m_nFrameCount, i + 1);
        }
        const bool bRecords = nMode != rvo::JpegBlobs;
        for (int i : {0, 1, 10}) {
            const RvoIndexEntry* e = w.file.GetEntry(i);
            EXPECT_EQ(ToUtf8(e->m_strName.GetString()), "No." + std::to_string(i)) << nMode;
            EXPECT_EQ(e->m_nKind, 1);
            EXPECT_EQ(e->m_nStartFrame, i);
            EXPECT_EQ(e->m_nLastFrame, 0);
            // A blob is in the frame area as soon as its frame is written; none stays in memory.
            EXPECT_EQ(e->m_dwFlags, bRecords ? 1u : 0u);
            EXPECT_EQ(e->m_nWidth, bRecords ? 32 : 0);
            EXPECT_EQ(e->m_nHeight, bRecords ? 32 : 0);
            EXPECT_EQ(e->m_hBlob, nullptr);
            EXPECT_EQ(e->m_dwBlobOffset != 0, !bRecords);
        }
        w.CloseAndRead();
        // A size-table word for each packed record.
        CRvoFile r;
        ASSERT_TRUE(r.OpenForReading(rvotest::Wide(w.path).c_str()));
        EXPECT_EQ(r.RecordBytesAt(10) != 0 && r.RecordBytesAt(11) == 0, nMode == rvo::PackedFrames) << nMode;
    }
}

TEST(FrameWriter, JpegFrameThatDoesNotCompressIsStillCounted) {
    Writer w("jpeg.rvo", rvo::JpegBlobs, SIZE{32, 32});
    TestFrame f(32, 32);
    for (size_t i = 0; i < f.Count(); ++i) f.Walk(i) = Bgra((BYTE)(i / 8), 0x80, 0x20, 0xFF);
    ASSERT_TRUE(w.Write(f));
    // It fails (its picture is not in the file) but keeps its place, so later frames keep their numbers.
    EXPECT_FALSE(w.file.WriteFrame(nullptr, 32));
    EXPECT_EQ(w.file.Header().m_nEntryCount, 2);
    EXPECT_EQ(w.file.Header().m_nFrameCount, 2);
    EXPECT_EQ(w.file.GetEntry(0)->m_dwBlobOffset, 160u);
    EXPECT_EQ(w.file.GetEntry(1)->m_dwBlobOffset, 0u);
    w.CloseAndRead();
    CRvoFile back;
    ASSERT_TRUE(back.Open(rvotest::Wide(w.path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(back.GetFrameCount(), 2);
}

// Three frames of 40 x 20 that take the three record types: flat (alpha
// runs), noise (raw, bottom-up) and flat colour under noisy alpha (colour runs).
std::vector<TestFrame> ThreeKinds() {
    using rvotest::Content;
    std::vector<TestFrame> v;
    v.emplace_back(40, 20, 3);
    Fill(v.back(), Content::Flat, 0);
    v.emplace_back(40, 20, 0, true);
    Fill(v.back(), Content::Noise, 5);
    v.emplace_back(40, 20, 1);
    Fill(v.back(), Content::AlphaNoise, 5);
    return v;
}

TEST(FrameWriter, PackedRecordsAndTheSizeTable) {
    std::vector<uint8_t> files[2];
    for (BOOL bSse2 : {TRUE, FALSE}) {
        Writer w(bSse2 ? "packed-sse2.rvo" : "packed-plain.rvo", rvo::PackedFrames, SIZE{40, 20});
        g_bSse2 = bSse2;
        for (TestFrame& f : ThreeKinds()) ASSERT_TRUE(w.Write(f));
        files[bSse2] = w.CloseAndRead();
        DetectSse2();
    }
    EXPECT_EQ(DiffBytes(files[1], files[0]), "");
    const std::vector<uint8_t>& file = files[1];

    // Records of 16 + 16 + 12 x 200, 16 + 4 x 800 and 16 + 800 + 16 bytes, rounded up.
    const uint32_t sizes[3] = {2560, 3584, 1024}, tags[3] = {0xFF000001u, 0xFF000000u, 0xFF000010u};
    const uint32_t nTableAt = 512 + 2560 + 3584 + 1024;
    ASSERT_EQ(file.size(), nTableAt + 512u);
    EXPECT_EQ(DiffBytes(HeaderBlock(3, 5, 40, 20, 512, nTableAt), Slice(file, 0, 512)), "");
    std::vector<uint8_t> table;
    for (uint32_t s : sizes) PutU32(table, s);
    PutZeros(table, 500);
    EXPECT_EQ(DiffBytes(table, Slice(file, nTableAt, 512)), "");

    std::vector<TestFrame> frames = ThreeKinds();
    size_t at = 512;
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> rec = Slice(file, at, sizes[i]);
        EXPECT_EQ(GetU32(rec, 0), tags[i]) << i;
        EXPECT_TRUE(ExpandPackedRecord(rec) == frames[i].Packed()) << "record " << i;
        at += sizes[i];
    }
}

TEST(FrameWriter, RefusesWhatItCannotStore) {
    Writer packed("refuse5.rvo", rvo::PackedFrames, SIZE{4, 4});
    SetLastError(0);
    EXPECT_FALSE(packed.file.WriteFrame(nullptr, 4));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(packed.file.Header().m_nEntryCount, 0);
    Writer raw("refuse4.rvo", rvo::RawFrames, SIZE{4, 4});
    EXPECT_FALSE(raw.file.WriteFrame(nullptr, 4));
    EXPECT_EQ(raw.file.GetEntryCount(), 0);
    // A frame without pixels has no packed form.
    Writer empty("empty5.rvo", rvo::PackedFrames, SIZE{0, 3});
    DWORD px = 0;
    EXPECT_FALSE(empty.file.WriteFrame(&px, 1));
    EXPECT_EQ(empty.file.GetEntryCount(), 0);
}

TEST(FrameWriter, PackedRecordThatDoesNotFitIsNotCounted) {
    std::vector<TestFrame> frames = ThreeKinds();
    TestFrame& noise = frames[1];   // 3584-byte records
    TestFrame later = ThreeKinds()[1];
    for (size_t i = 0; i < 800; ++i) later.Walk(i) ^= 0x01010101u;

    Writer w("full5.rvo", rvo::PackedFrames, SIZE{40, 20});
    ASSERT_TRUE(w.Write(noise));
    ASSERT_TRUE(w.Write(noise));
    {
        // Room for 1024 more bytes: the third record is cut short, the fourth refused.
        FileSizeCap cap(512 + 2 * 3584 + 1024);
        ASSERT_TRUE(cap.Ok());
        EXPECT_FALSE(w.Write(noise));
        EXPECT_FALSE(w.Write(noise));
        EXPECT_EQ(w.file.Header().m_nEntryCount, 2);
        EXPECT_EQ(w.file.Header().m_nFrameCount, 2);
        EXPECT_EQ(w.file.GetEntryCount(), 2);
    }
    // Once there is room again the next record goes right after the last whole one.
    ASSERT_TRUE(w.Write(later));
    std::vector<uint8_t> file = w.CloseAndRead();
    const uint32_t nTableAt = 512 + 3 * 3584;
    ASSERT_EQ(file.size(), nTableAt + 512u);
    EXPECT_EQ(DiffBytes(HeaderBlock(3, 5, 40, 20, 512, nTableAt), Slice(file, 0, 512)), "");
    EXPECT_TRUE(ExpandPackedRecord(Slice(file, 512 + 3584, 3584)) == noise.Packed());
    EXPECT_TRUE(ExpandPackedRecord(Slice(file, 512 + 2 * 3584, 3584)) == later.Packed());
    std::vector<uint8_t> table;
    for (int i = 0; i < 3; ++i) PutU32(table, 3584);
    PutZeros(table, 500);
    EXPECT_EQ(DiffBytes(table, Slice(file, nTableAt, 512)), "");
}

TEST(FrameWriter, FileStaysReadableWhenTheDiskStaysFull) {
    for (LONG nMode : {(LONG)rvo::RawFrames, (LONG)rvo::PackedFrames}) {
        SCOPED_TRACE(nMode);
        TestFrame f = ThreeKinds()[1];
        // Noise of 40 x 20: records of 3584 bytes in either mode. Room for two
        // records, the size table and 256 bytes more.
        const uint32_t nRecord = 3584;
        Writer w("full" + std::to_string(nMode) + ".rvo", nMode, SIZE{40, 20});
        FileSizeCap cap(512 + 2 * nRecord + 512 + 256);
        ASSERT_TRUE(cap.Ok());
        EXPECT_TRUE(w.Write(f));
        EXPECT_TRUE(w.Write(f));
        EXPECT_FALSE(w.Write(f));
        std::vector<uint8_t> file = w.CloseAndRead();
        cap.Lift();

        const uint32_t nEnd = 512 + 2 * nRecord;
        const bool bPacked = nMode == rvo::PackedFrames;
        ASSERT_EQ(file.size(), nEnd + (bPacked ? 512u : 0u));
        EXPECT_EQ(DiffBytes(HeaderBlock(2, (uint32_t)nMode, 40, 20, bPacked ? 512 : 0, bPacked ? nEnd : 0),
                            Slice(file, 0, 512)),
                  "");
        CRvoFile back;
        ASSERT_TRUE(back.Open(rvotest::Wide(w.path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
        EXPECT_EQ(back.GetFrameCount(), 2);
    }
}

// A blob the disk takes only part of is cut back: the finished file is the one
// written without the failed frame, byte for byte (no stray bytes after the index).
TEST(FrameWriter, FailedBlobIsCutBack) {
    for (int nFailing : {0, 1}) {
        SCOPED_TRACE(nFailing);
        TestFrame f = ThreeKinds()[1];   // noise: a blob of several kilobytes
        Writer w("fullblob" + std::to_string(nFailing) + ".rvo", rvo::JpegBlobs, SIZE{40, 20});
        Writer ref("refblob" + std::to_string(nFailing) + ".rvo", rvo::JpegBlobs, SIZE{40, 20});
        for (int k = 0; k < nFailing; k++) {
            ASSERT_TRUE(w.Write(f));
            ASSERT_TRUE(ref.Write(f));
        }
        {
            // Room for the header and half a blob more.
            FileSizeCap cap(w.file.Header().m_dwIndexOffset + 600);
            ASSERT_TRUE(cap.Ok());
            EXPECT_FALSE(w.Write(f));
            EXPECT_EQ(w.file.GetEntryCount(), nFailing);
        }
        const std::vector<uint8_t> written = w.CloseAndRead();
        EXPECT_EQ(DiffBytes(ref.CloseAndRead(), written), "");
    }
}

}   // namespace

// Four 32 x 32 frames of JPEG blobs, the third without a picture: the file must
// be byte for byte the one kept in tests/data, written before blobs went to the
// frame area as they arrived.
TEST(FrameWriter, JpegBlobsFileMatchesTheKeptFile) {
    const char* pszData = std::getenv("RVO_TEST_DATA");
    ASSERT_NE(pszData, nullptr);
    Writer w("jpeg-kept.rvo", rvo::JpegBlobs, SIZE{32, 32});
    for (int n = 0; n < 4; ++n) {
        TestFrame f(32, 32, 3);
        for (size_t i = 0; i < f.Count(); ++i)
            f.Walk(i) = Bgra((BYTE)(i / 8 + 40 * n), (BYTE)(i % 32 * 4), (BYTE)(60 + n), (BYTE)(255 - i / 16));
        // Frame 2 has no picture: its write fails, its entry stays.
        ASSERT_EQ(n == 2 ? w.file.WriteFrame(nullptr, 32) : w.Write(f), n != 2);
    }
    const std::vector<uint8_t> written = w.CloseAndRead();
    EXPECT_EQ(DiffBytes(rvotest::ReadAll(std::string(pszData) + "/jpeg-4frames.rvo"), written), "");
}

// Writing a JPEG-blob movie, and opening it and reading every frame, hold no
// more global memory (where blobs live) for 2,000 frames than for 100: at most
// one frame's blob more.
TEST(FrameWriter, JpegBlobsMemoryDoesNotGrowWithTheMovie) {
    const LONG w = 32, h = 32;
    TestFrame f(w, h);
    for (size_t i = 0; i < f.Count(); ++i) f.Walk(i) = Bgra((BYTE)(i / 8), (BYTE)(i % 32 * 4), 90, 255);
    struct Peaks {
        size_t nWrite, nRead, nBlob;
    };
    auto Run = [&](int nFrames) {
        Peaks p{};
        const size_t nBase = GlobalBytesInUse();
        GlobalResetPeak();
        Writer wr("memory" + std::to_string(nFrames) + ".rvo", rvo::JpegBlobs, SIZE{w, h});
        for (int i = 0; i < nFrames; ++i) EXPECT_TRUE(wr.Write(f));
        p.nBlob = (wr.file.Header().m_dwIndexOffset - 160u) / (size_t)nFrames;   // the same frame, so blobs of one length
        EXPECT_TRUE(wr.file.Close(TRUE));
        p.nWrite = GlobalPeakBytes() - nBase;

        GlobalResetPeak();
        CRvoFile r;
        EXPECT_TRUE(r.Open(rvotest::Wide(wr.path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
        const SIZE size{w, h};
        r.SetFrameSize(&size);
        std::vector<DWORD> px((size_t)w * h);
        EXPECT_EQ(r.GetFrameCount(), nFrames);
        for (int i = 0; i < nFrames; ++i) EXPECT_EQ(r.ReadFrame((unsigned)r.LocateFrame(i), px.data(), w, h, TRUE), 1);
        p.nRead = GlobalPeakBytes() - nBase;
        r.Close(FALSE);
        std::remove(wr.path.c_str());
        return p;
    };
    const Peaks a = Run(100), b = Run(2000);
    EXPECT_GT(a.nWrite, 0u);
    EXPECT_LE(b.nWrite, a.nWrite + b.nBlob) << "writing";
    EXPECT_LE(b.nRead, a.nRead + b.nBlob) << "opening and reading";
}
