// The picture blob: one frame as an alpha JPEG stream and a colour JPEG stream
// in a movable global-memory block.
//
// Layout of the block (integers 32-bit little-endian):
//   0  magic        JPEG_BLOB_MAGIC
//   4  width        pixels (signed)
//   8  height       pixels (signed)
//   12 colourBytes  length of the colour stream
//   16 alphaBytes   length of the alpha stream
//   20 data         the alpha stream, then directly the colour stream
// The block is JPEG_BLOB_HEADER_BYTES + alphaBytes + colourBytes +
// JPEG_BLOB_TAIL_BYTES long; the 4 tail bytes carry no meaning (written as 0).
// Note the order: the header names the colour length first, the data holds the
// alpha stream first. The blob's file form is in container/BlobFile.h.
#pragma once

#include <cstddef>

#include "platform/ByteReader.h"
#include "platform/Types.h"

constexpr DWORD JPEG_BLOB_MAGIC = 0x55AA0001u;
constexpr size_t JPEG_BLOB_HEADER_BYTES = 20;
constexpr size_t JPEG_BLOB_TAIL_BYTES = 4;

constexpr size_t JPEG_BLOB_OFS_MAGIC = 0;
constexpr size_t JPEG_BLOB_OFS_WIDTH = 4;
constexpr size_t JPEG_BLOB_OFS_HEIGHT = 8;
constexpr size_t JPEG_BLOB_OFS_COLOUR_BYTES = 12;
constexpr size_t JPEG_BLOB_OFS_ALPHA_BYTES = 16;

// What LockBlob reports about a locked blob.
struct JpegBlobInfo {
    LONG width;
    LONG height;
    DWORD colourBytes;
    DWORD alphaBytes;
    BYTE* data;   // byte 20 of the locked block: the alpha stream
};

// Block size for streams of the given lengths, in 64 bits so that forged
// lengths cannot wrap.
inline ULONGLONG JpegBlobBlockBytes(DWORD dwColourBytes, DWORD dwAlphaBytes) {
    return (ULONGLONG)JPEG_BLOB_HEADER_BYTES + dwColourBytes + dwAlphaBytes + JPEG_BLOB_TAIL_BYTES;
}

// The five header words of a blob, or of its file form (whose first word is the
// file marker instead of the magic).
struct JpegBlobHeader {
    DWORD dwMagic;
    LONG width;
    LONG height;
    DWORD colourBytes;
    DWORD alphaBytes;
    // Length of both streams, in 64 bits.
    ULONGLONG DataBytes() const { return (ULONGLONG)colourBytes + alphaBytes; }
};

// The header from the first JPEG_BLOB_HEADER_BYTES of the n bytes at p; false
// when fewer are there.
inline bool ReadJpegBlobHeader(const BYTE* p, size_t n, JpegBlobHeader* pOut) {
    CByteReader r(p, n);
    pOut->dwMagic = r.ReadU32LE();
    pOut->width = r.ReadS32LE();
    pOut->height = r.ReadS32LE();
    pOut->colourBytes = r.ReadU32LE();
    pOut->alphaBytes = r.ReadU32LE();
    static_assert(JPEG_BLOB_OFS_ALPHA_BYTES + 4 == JPEG_BLOB_HEADER_BYTES, "the header is read in its order");
    return r.Ok();
}

// TRUE when h is a live global-memory block; FreeJpegBlob frees it (FALSE when it is not one).
BOOL IsLiveJpegBlob(HGLOBAL h);
BOOL FreeJpegBlob(HGLOBAL h);

// Frees a blob on every way out of the scope that took it.
class CBlobOwner {
public:
    explicit CBlobOwner(HGLOBAL h) : m_h(h) {}
    ~CBlobOwner() {
        if (m_h) FreeJpegBlob(m_h);
    }
    CBlobOwner(const CBlobOwner&) = delete;
    CBlobOwner& operator=(const CBlobOwner&) = delete;

private:
    HGLOBAL m_h;
};
