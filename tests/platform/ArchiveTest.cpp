// The archive's integers, byte blocks and MFC strings, byte for byte, and the
// exceptions it raises on short or hostile input.
#include "platform/Archive.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/Archives.h"
#include "tests/support/TestFiles.h"

using rvotest::ArchiveLoaded;
using rvotest::ArchiveStored;
using rvotest::DiffBytes;
using rvotest::ScratchPath;
using rvotest::Wide;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Prefix(const Bytes& head, size_t units) {
    Bytes v = head;
    for (size_t i = 0; i < units; i++) {
        v.push_back((uint8_t)('a' + i % 26));
        v.push_back(0);
    }
    return v;
}

}   // namespace

TEST(Archive, IntegersAreLittleEndian) {
    const Bytes out = ArchiveStored([](CArchive& ar) {
        ar << (BYTE)0x12 << (WORD)0x3456 << (DWORD)0x789ABCDEu << (LONG)-2;
    });
    EXPECT_EQ(out, (Bytes{0x12, 0x56, 0x34, 0xDE, 0xBC, 0x9A, 0x78, 0xFE, 0xFF, 0xFF, 0xFF}));
    BYTE b;
    WORD w;
    DWORD d;
    LONG l;
    EXPECT_EQ(ArchiveLoaded(out, [&](CArchive& ar) { ar >> b >> w >> d >> l; }), 0);
    EXPECT_EQ(b, 0x12);
    EXPECT_EQ(w, 0x3456);
    EXPECT_EQ(d, 0x789ABCDEu);
    EXPECT_EQ(l, -2);
}

TEST(Archive, StringLengthPrefixes) {
    struct Case {
        size_t len;
        Bytes head;
    } cases[] = {
        {0, {0xFF, 0xFE, 0xFF, 0x00}},
        {254, {0xFF, 0xFE, 0xFF, 0xFE}},
        {255, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}},
        {300, {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01}},
        {65533, {0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        std::u16string s;
        for (size_t i = 0; i < c.len; i++) s.push_back((char16_t)('a' + i % 26));
        const Bytes out = ArchiveStored([&](CArchive& ar) { ar << CString(s); });
        ASSERT_EQ(DiffBytes(Prefix(c.head, c.len), out), "") << c.len;
        CString back;
        EXPECT_EQ(ArchiveLoaded(out, [&](CArchive& ar) { ar >> back; }), 0);
        EXPECT_TRUE(back == CString(s)) << c.len;
    }
    // The name of the first frame, as the index stores it.
    EXPECT_EQ(ArchiveStored([](CArchive& ar) { ar << CString(u"No.0"); }),
              (Bytes{0xFF, 0xFE, 0xFF, 0x04, 0x4E, 0x00, 0x6F, 0x00, 0x2E, 0x00, 0x30, 0x00}));
}

TEST(Archive, AnsiStringsAndLengthReading) {
    CString s;
    // Without the marker the text is 8-bit, Windows-1252: 0x80 is the euro sign.
    EXPECT_EQ(ArchiveLoaded({0x03, 'A', 0x80, 0xE9}, [&](CArchive& ar) { ar >> s; }), 0);
    EXPECT_TRUE(s == CString(u"A\u20AC\u00e9"));
    EXPECT_EQ(ArchiveLoaded({0xFF, 0x04, 0x01, 'x'}, [&](CArchive& ar) { ar >> s; }), CArchiveException::endOfFile);
    int nCharSize = 0;
    ULONGLONG n = 0;
    EXPECT_EQ(ArchiveLoaded({0xFF, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12},
                            [&](CArchive& ar) { n = AfxReadStringLength(ar, nCharSize); }),
              0);
    EXPECT_EQ(n, 0x12345678u);
    EXPECT_EQ(nCharSize, 1);
    EXPECT_EQ(ArchiveLoaded({0xFF, 0xFE, 0xFF, 0x07},
                            [&](CArchive& ar) { n = AfxReadStringLength(ar, nCharSize); }),
              0);
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(nCharSize, 2);
}

TEST(Archive, ShortAndHostileInputRaises) {
    DWORD d;
    WORD w;
    CString s;
    Bytes big(100);
    struct Case {
        const char* what;
        Bytes bytes;
        std::function<void(CArchive&)> fn;
        int cause;
    } cases[] = {
        {"u32 from 3 bytes", {1, 2, 3}, [&](CArchive& ar) { ar >> d; }, CArchiveException::endOfFile},
        {"u16 from nothing", {}, [&](CArchive& ar) { ar >> w; }, CArchiveException::endOfFile},
        {"block past the end", Bytes(50), [&](CArchive& ar) { ar.ReadExact(big.data(), 100); },
         CArchiveException::endOfFile},
        {"string past the end", {0xFF, 0xFE, 0xFF, 0x05, 'a', 0}, [&](CArchive& ar) { ar >> s; }, CArchiveException::endOfFile},
        // 2^31 - 1 units would be 4 GiB: refused from the file size before any allocation.
        {"huge string", {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, [&](CArchive& ar) { ar >> s; }, CArchiveException::endOfFile},
        {"negative string length", {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}, [&](CArchive& ar) { ar >> s; }, -1},
        {"prefix cut", {0xFF, 0xFE}, [&](CArchive& ar) { ar >> s; }, CArchiveException::endOfFile},
        {"writing a loading archive", {}, [&](CArchive& ar) { ar << (DWORD)1; }, CArchiveException::readOnly},
    };
    for (const Case& c : cases) EXPECT_EQ(ArchiveLoaded(c.bytes, c.fn), c.cause) << c.what;

    // Reading from a storing archive.
    const std::string path = ScratchPath("wo.bin");
    CFile f;
    ASSERT_TRUE(f.Open(Wide(path).c_str(), CFile::modeCreate | CFile::modeReadWrite));
    CArchive ar(&f, CArchive::store);
    int cause = 0;
    try {
        ar >> d;
    } catch (const CArchiveException& e) {
        cause = e.m_cause;
    }
    EXPECT_EQ(cause, CArchiveException::writeOnly);
}

TEST(Archive, BlocksAcrossTheBufferAndBytesLeft) {
    Bytes data(10000);
    for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)(i * 7);
    const Bytes out = ArchiveStored([&](CArchive& ar) {
        ar << (BYTE)1;
        ar.Write(data.data(), 10000);   // crosses the 4096-byte buffer twice
        ar << (DWORD)0xCAFEF00Du;
    });
    ASSERT_EQ(out.size(), 10005u);
    EXPECT_EQ(Bytes(out.begin() + 1, out.begin() + 10001), data);
    Bytes back(10000);
    DWORD tail = 0;
    ULONGLONG leftAfterFirst = 0, leftAtEnd = 1;
    EXPECT_EQ(ArchiveLoaded(out, [&](CArchive& ar) {
                  BYTE b;
                  ar >> b;
                  leftAfterFirst = ar.BytesLeft();
                  ar.ReadExact(back.data(), 10000);
                  ar >> tail;
                  leftAtEnd = ar.BytesLeft();
              }),
              0);
    EXPECT_EQ(leftAfterFirst, 10004u);
    EXPECT_EQ(leftAtEnd, 0u);
    EXPECT_EQ(back, data);
    EXPECT_EQ(tail, 0xCAFEF00Du);
}
