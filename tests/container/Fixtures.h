// Hand-built RVO bytes for the container tests: blob file form and index
// records written out field by field (the header's builder is shared, in
// tests/support), and in-memory blobs made with GlobalAlloc, so the module's
// output is compared with bytes it did not make.
#pragma once

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "container/RvoFile.h"
#include "platform/GlobalMemory.h"
#include "platform/RawFile.h"
#include "tests/support/TestFiles.h"

namespace fixture {

using Bytes = std::vector<uint8_t>;

using rvotest::Append;
using rvotest::HeaderBytes;

// The streams of a test blob: alpha bytes then colour bytes, recognisable patterns.
struct BlobSpec {
    int32_t width;
    int32_t height;
    uint32_t alphaBytes;
    uint32_t colourBytes;
    uint8_t seed;
};

inline Bytes BlobData(const BlobSpec& s) {
    Bytes d;
    for (uint32_t i = 0; i < s.alphaBytes + s.colourBytes; i++) d.push_back((uint8_t)(s.seed + 7 * i));
    return d;
}

// The blob as the file stores it: marker bytes 00 A0 AA 55 in place of the magic.
inline Bytes BlobFileBytes(const BlobSpec& s) {
    Bytes v = {0x00, 0xA0, 0xAA, 0x55};
    rvotest::PutU32(v, (uint32_t)s.width);
    rvotest::PutU32(v, (uint32_t)s.height);
    rvotest::PutU32(v, s.colourBytes);
    rvotest::PutU32(v, s.alphaBytes);
    Append(v, BlobData(s));
    return v;
}

// The in-memory blob: magic 0x55AA0001, width, height, colourBytes, alphaBytes, data, 4 tail bytes.
inline HGLOBAL MakeBlob(const BlobSpec& s) {
    const Bytes file = BlobFileBytes(s);
    Bytes v;
    rvotest::PutU32(v, 0x55AA0001u);
    v.insert(v.end(), file.begin() + 4, file.end());
    rvotest::PutZeros(v, 4);
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, v.size());
    void* p = GlobalLock(h);
    std::memcpy(p, v.data(), v.size());
    GlobalUnlock(h);
    return h;
}

// "No.0" as the archive stores it: FF FE FF, length 4, then UTF-16LE.
inline Bytes NameBytes(const std::u16string& name) {
    Bytes v = {0xFF, 0xFE, 0xFF};
    if (name.size() < 255) {
        v.push_back((uint8_t)name.size());
    } else {
        v.push_back(0xFF);
        rvotest::PutU16(v, (uint16_t)name.size());
    }
    for (char16_t c : name) rvotest::PutU16(v, (uint16_t)c);
    return v;
}

struct Record {
    int32_t kind = 1;
    std::u16string name = u"No.0";
    int32_t startFrame = 0;
    int32_t lastFrame = 0;
    uint32_t flags = 0;
    const BlobSpec* blob = nullptr;
    uint32_t blobOffset = 0;
    int32_t width = 0;
    int32_t height = 0;
    Bytes extra{};   // a multiple of 16 bytes
    Bytes blobFile{};   // a blob's file form, in place of blob's
};

inline Bytes RecordBytes(const Record& r) {
    Bytes v;
    rvotest::PutU32(v, 0);
    rvotest::PutU32(v, (uint32_t)r.kind);
    Bytes n = NameBytes(r.name);
    v.insert(v.end(), n.begin(), n.end());
    rvotest::PutU32(v, 0);
    rvotest::PutU32(v, 0);
    rvotest::PutU32(v, (uint32_t)r.startFrame);
    rvotest::PutU32(v, (uint32_t)r.lastFrame);
    rvotest::PutU32(v, r.flags);
    rvotest::PutU32(v, r.blob || !r.blobFile.empty() ? 1 : 0);
    if (r.blob || !r.blobFile.empty()) {
        Bytes b = r.blob ? BlobFileBytes(*r.blob) : r.blobFile;
        v.insert(v.end(), b.begin(), b.end());
    }
    rvotest::PutU32(v, r.blobOffset);
    rvotest::PutU32(v, (uint32_t)r.width);
    rvotest::PutU32(v, (uint32_t)r.height);
    rvotest::PutZeros(v, 64);
    rvotest::PutU32(v, (uint32_t)(r.extra.size() / 16));
    v.insert(v.end(), r.extra.begin(), r.extra.end());
    rvotest::PutZeros(v, 32);
    return v;
}

// Appends records of nBytes each to a file being written, byte k of record i
// = i + k, through the writer's own append (the bytes are not checked).
inline void AppendRecords(CRvoFile& f, int nCount, DWORD nBytes) {
    BYTE* p = static_cast<BYTE*>(AllocAligned(nBytes));
    for (int i = 0; i < nCount; i++) {
        for (DWORD k = 0; k < nBytes; k++) p[k] = (BYTE)(i + k);
        RvoEncodedFrame frame;
        frame.pRecord = p;
        frame.nRecordBytes = nBytes;
        EXPECT_TRUE(f.AppendEncodedFrame(frame));
    }
    FreeAligned(p);
}

inline Bytes RecordArea(int nCount, DWORD nBytes) {
    Bytes v;
    for (int i = 0; i < nCount; i++)
        for (DWORD k = 0; k < nBytes; k++) v.push_back((uint8_t)(i + k));
    return v;
}

// Descriptors open in this process, to show that nothing is left open.
inline int OpenDescriptors() {
    int n = 0;
    for (const auto& d : std::filesystem::directory_iterator("/proc/self/fd")) n += d.is_symlink() ? 1 : 0;
    return n;
}

}   // namespace fixture
