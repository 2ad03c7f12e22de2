// Index records and blobs through the archive: exact bytes out, the same
// fields back, and the exception each kind of damage raises.
#include "container/IndexArchive.h"

#include <gtest/gtest.h>

#include <functional>

#include "container/BlobFile.h"
#include "platform/LastError.h"
#include "tests/container/Fixtures.h"
#include "tests/support/Archives.h"

using namespace fixture;
using rvotest::DiffBytes;
using rvotest::ReadAll;
using rvotest::ScratchPath;
using rvotest::Wide;

namespace {

// Reads one record from the bytes; the archive cause, -1 for an OLE error,
// -2 for a memory error, 0 when the record was read.
int ReadFrom(const Bytes& bytes, RvoIndexEntry& e) {
    return rvotest::ArchiveLoaded(bytes, [&](CArchive& ar) { ReadEntry(ar, e); });
}

}   // namespace

TEST(IndexArchive, LongNameAndExtraItemsRoundTrip) {
    const std::u16string name(300, u'x');
    Bytes extra;
    for (int i = 0; i < 32; i++) extra.push_back((uint8_t)(0xA0 + i));
    const BlobSpec blob{640, 480, 6, 10, 9};

    RvoIndexEntry e;
    e.m_nKind = 2;
    e.m_strName = CString(name);
    e.m_nStartFrame = 5;
    e.m_nLastFrame = 9;
    e.m_dwFlags = 1;
    e.m_hBlob = MakeBlob(blob);
    e.m_dwBlobOffset = 4096;
    e.m_nWidth = 640;
    e.m_nHeight = 480;
    e.m_nExtraCount = 2;
    e.m_pExtra = new BYTE[32];
    std::memcpy(e.m_pExtra, extra.data(), 32);
    const Bytes out = rvotest::ArchiveStored([&](CArchive& ar) { WriteEntry(ar, e); });

    const Bytes expected = RecordBytes({.kind = 2, .name = name, .startFrame = 5, .lastFrame = 9, .flags = 1, .blob = &blob, .blobOffset = 4096, .width = 640, .height = 480, .extra = extra});
    ASSERT_EQ(DiffBytes(expected, out), "");
    // The long prefix: marker, then FF and the length 300 as u16.
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 14), (Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01}));

    RvoIndexEntry r;
    ASSERT_EQ(ReadFrom(out, r), 0);
    EXPECT_EQ(r.m_nKind, 2);
    EXPECT_TRUE(r.m_strName == e.m_strName);
    EXPECT_EQ(r.m_nStartFrame, 5);
    EXPECT_EQ(r.m_nLastFrame, 9);
    EXPECT_EQ(r.m_dwFlags, 1u);
    EXPECT_EQ(r.m_dwBlobOffset, 4096u);
    EXPECT_EQ(r.m_nWidth, 640);
    ASSERT_EQ(r.m_nExtraCount, 2);
    EXPECT_EQ(Bytes(r.m_pExtra, r.m_pExtra + 32), extra);
    // The blob is passed over, not loaded: the entry knows where its file form lies.
    EXPECT_EQ(r.m_hBlob, nullptr);
    ASSERT_EQ(r.m_dwIndexBlobBytes, 20u + 16u);
    ASSERT_LE(r.m_nIndexBlobAt + r.m_dwIndexBlobBytes, out.size());
    EXPECT_EQ(Bytes(out.begin() + (ptrdiff_t)r.m_nIndexBlobAt, out.begin() + (ptrdiff_t)r.m_nIndexBlobAt + 36),
              BlobFileBytes(blob));

    // Reading into a used entry clears it first: no blob, no extras survive.
    ASSERT_EQ(ReadFrom(RecordBytes({}), r), 0);
    EXPECT_EQ(r.m_nIndexBlobAt, 0u);
    EXPECT_EQ(r.m_nExtraCount, 0);
    EXPECT_EQ(r.m_pExtra, nullptr);
    EXPECT_TRUE(r.m_strName == CString(u"No.0"));
}

TEST(IndexArchive, AnsiNameIsReadInTheAnsiCodePage) {
    Bytes rec = RecordBytes({.name = u"AB"});
    // Replace the Unicode name (FF FE FF 02 'A' 0 'B' 0) by the 8-bit form: 04 "Caf\xE9".
    rec.erase(rec.begin() + 8, rec.begin() + 8 + 8);
    const Bytes ansi = {0x04, 'C', 'a', 'f', 0xE9};
    rec.insert(rec.begin() + 8, ansi.begin(), ansi.end());
    RvoIndexEntry e;
    ASSERT_EQ(ReadFrom(rec, e), 0);
    EXPECT_TRUE(e.m_strName == CString(u"Caf\u00e9"));
    EXPECT_EQ(e.m_nKind, 1);
}

TEST(IndexArchive, DamagedRecordsRaiseTheirCause) {
    const BlobSpec blob{8, 8, 4, 4, 3};
    const Bytes good = RecordBytes({.blob = &blob, .blobOffset = 160});
    const size_t kName = 8, kBlob = kName + 12 + 6 * 4;   // after "No.0", five fields and the blob flag
    auto patchU32 = [](Bytes v, size_t at, uint32_t x) {
        for (int i = 0; i < 4; i++) v[at + i] = (uint8_t)(x >> (8 * i));
        return v;
    };
    auto withName = [&](const Bytes& nameBytes) {
        Bytes v = good;
        v.erase(v.begin() + kName, v.begin() + kName + 12);
        v.insert(v.begin() + kName, nameBytes.begin(), nameBytes.end());
        return v;
    };
    auto withExtraCount = [&](uint32_t n) {
        Bytes v = RecordBytes({});
        return patchU32(v, 20 + 4 * 9 + 64, n);   // after the blob offset, width, height, 64 zeros
    };
    struct Case {
        const char* what;
        Bytes bytes;
        int cause;
    } cases[] = {
        {"cut inside the name", Bytes(good.begin(), good.begin() + 14), CArchiveException::endOfFile},
        {"cut inside the blob", Bytes(good.begin(), good.begin() + kBlob + 22), CArchiveException::endOfFile},
        {"cut inside the last field", Bytes(good.begin(), good.end() - 31), CArchiveException::endOfFile},
        {"cut one byte short", Bytes(good.begin(), good.end() - 1), CArchiveException::endOfFile},
        {"blob marker", patchU32(good, kBlob, 0x55AA0001u), CArchiveException::badIndex},
        {"blob streams past the end", patchU32(good, kBlob + 12, 1000), CArchiveException::endOfFile},
        {"blob streams beyond the limit", patchU32(good, kBlob + 16, 0xFFFFFFF0u), CArchiveException::badIndex},
        // Lengths whose 32-bit sum wraps to the 8 bytes present must not pass as small.
        {"blob lengths wrapping to 8", patchU32(patchU32(good, kBlob + 12, 0xFFFFFFFCu), kBlob + 16, 12),
         CArchiveException::badIndex},
        {"blob lengths wrapping to 0", patchU32(patchU32(good, kBlob + 12, 0x80000000u), kBlob + 16, 0x80000000u),
         CArchiveException::badIndex},
        {"name past the end", withName({0xFF, 0xFE, 0xFF, 0xFF, 0x00, 0x10}), CArchiveException::endOfFile},
        {"name beyond the limit", withName({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}),
         CArchiveException::badIndex},
        {"negative name length", withName({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}), -1},
        {"extra items past the end", withExtraCount(3), CArchiveException::endOfFile},
        {"extra count beyond the limit", withExtraCount(0xFFFFFFFFu), CArchiveException::badIndex},
    };
    for (const Case& c : cases) {
        RvoIndexEntry e;
        EXPECT_EQ(ReadFrom(c.bytes, e), c.cause) << c.what;
    }
    RvoIndexEntry e;
    EXPECT_EQ(ReadFrom(good, e), 0);
}

TEST(IndexArchive, BlobsThatCannotBeLockedOrDoNotHoldTheirStreams) {
    const BlobSpec spec{2, 2, 3, 3, 1};
    HGLOBAL hFreed = MakeBlob(spec);
    // Lengths claim more than the block holds: 20 + 100 + 100 in a 30-byte block.
    HGLOBAL hShort = GlobalAlloc(GMEM_MOVEABLE, 30);
    BYTE* p = static_cast<BYTE*>(GlobalLock(hShort));
    Bytes head;
    rvotest::PutU32(head, 0x55AA0001u);
    rvotest::PutU32(head, 2);
    rvotest::PutU32(head, 2);
    rvotest::PutU32(head, 100);
    rvotest::PutU32(head, 100);
    std::memcpy(p, head.data(), head.size());
    GlobalUnlock(hShort);
    GlobalFree(hFreed);   // freed after the other allocation, so its address is not handed out again

    const std::string path = ScratchPath("blob.bin");
    CFile f;
    ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeCreate | CFile::modeReadWrite));
    EXPECT_FALSE(WriteBlobToFile(&f, hFreed));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WriteBlobToFile(&f, hShort));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA);
    EXPECT_EQ(f.GetLength(), 0u);
    {
        CArchive ar(&f, CArchive::store);
        for (HGLOBAL h : {hFreed, hShort}) {
            int cause = 0;
            try {
                WriteBlob(ar, h);
            } catch (const CArchiveException& ex) {
                cause = ex.m_cause;
            }
            EXPECT_EQ(cause, CArchiveException::badIndex);
        }
    }
    // A good blob: the file form in three writes, marker first.
    HGLOBAL hGood = MakeBlob(spec);
    EXPECT_TRUE(WriteBlobToFile(&f, hGood));
    f.Close();
    EXPECT_EQ(DiffBytes(BlobFileBytes(spec), ReadAll(path)), "");
    EXPECT_EQ(GlobalFlags(hGood) & GMEM_LOCKCOUNT, 0u);   // unlocked again
    GlobalFree(hGood);
    GlobalFree(hShort);
}
