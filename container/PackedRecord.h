// The frame records of RawFrames and PackedFrames files, shared by the frame
// writer (encoder/), the frame reader (decoder/) and recovery, and the check
// that makes a packed record read from a file safe to expand.
//
// Both modes are written without system buffering: every record is a multiple
// of 512 bytes and starts at a multiple of 512. The frame area starts at the
// header's data-start offset (512); records follow in frame order, no gaps.
// Integers are 32-bit little-endian; L = width x height pixels of 4 bytes
// (blue, green, red, alpha), walked in row order, top row first.
//
// Raw record: the L pixels with rows packed, then zero bytes up to
// roundup512(4 L). Every raw record of a file has that size.
//
// Packed record: a 16-byte header {tag, recordBytes, section1Dwords,
// pixelCount = L}, section 1 from offset 16, section 2 from offset
// c = 16 + 4 section1Dwords, pad bytes up to recordBytes = roundup512(X),
// where X is the end of section 2. Pad bytes mean nothing and are not read.
//   PackedRaw:        section 1 empty; section 2 the L pixels, rows packed.
//                     X = 16 + 4 L.
//   PackedAlphaRuns:  section 1 n AlphaRuns {count, pattern}, padded to
//                     roundup16(8 n); section 2 ceil(L/4) ColourGroups
//                     {green word, blue word, red word} for pixels 4g..4g+3.
//                     X = c + 12 ceil(L/4).
//   PackedColourRuns: section 1 the L alpha bytes, padded to roundup16(L);
//                     section 2 m ColourRuns {count, greenPattern,
//                     bluePattern, redPattern}. X = c + 16 m.
// A run element covers `count` pixels; byte k of a pattern (k = 0 the least
// significant) applies to the element's pixels j with j mod 4 = k. The elements
// of a section cover exactly L pixels and every element but the last has a count
// that is a multiple of 4, so byte (i mod 4) applies to frame pixel i. Byte k of
// a ColourGroup word is the channel of pixel 4g + k; in the last group of an L
// that is not a multiple of 4, bytes past pixel L - 1 mean nothing.
// The largest packed record of a frame is its PackedRaw record.
#pragma once

#include "platform/Types.h"

namespace rvo {

enum PackedTag : DWORD {
    PackedRaw = 0xFF000000u,
    PackedAlphaRuns = 0xFF000001u,
    PackedColourRuns = 0xFF000010u,
};

struct PackedRecordHeader {
    DWORD tag;
    DWORD recordBytes;
    DWORD section1Dwords;
    DWORD pixelCount;
};

// Field offsets within the record header.
enum PackedHeaderOffset : DWORD {
    kOffPackedTag = 0,
    kOffPackedRecordBytes = 4,
    kOffPackedSection1Dwords = 8,
    kOffPackedPixelCount = 12,
};

constexpr DWORD kPackedHeaderBytes = 16;
constexpr DWORD kAlphaRunBytes = 8;
constexpr DWORD kColourRunBytes = 16;
constexpr DWORD kColourGroupBytes = 12;
constexpr DWORD kRecordUnitBytes = 512;

static_assert(sizeof(PackedRecordHeader) == kPackedHeaderBytes);

// Sizes in 64 bits, so that no frame size can wrap them on a 32-bit build.
inline ULONGLONG RoundUp16_64(ULONGLONG x) { return (x + 15u) & ~(ULONGLONG)15u; }

// A RawFrames record of L pixels.
inline ULONGLONG RawRecordBytes(ULONGLONG nPixels) { return RoundUp512_64(4 * nPixels); }

// The PackedRaw record of L pixels: the largest packed record of the frame.
inline ULONGLONG MaxPackedRecordBytes(ULONGLONG nPixels) {
    return RoundUp512_64(kPackedHeaderBytes + 4 * nPixels);
}

inline ULONGLONG ColourGroupCount(ULONGLONG nPixels) { return (nPixels + 3) / 4; }

// Offset of section 2 (c) for each record type.
inline ULONGLONG AlphaRunsSection2Offset(ULONGLONG nRuns) {
    return kPackedHeaderBytes + RoundUp16_64(kAlphaRunBytes * nRuns);
}
inline ULONGLONG ColourRunsSection2Offset(ULONGLONG nPixels) {
    return kPackedHeaderBytes + RoundUp16_64(nPixels);
}

// Content length X (header and both sections, no end padding) of each type.
inline ULONGLONG PackedRawContentBytes(ULONGLONG nPixels) { return kPackedHeaderBytes + 4 * nPixels; }
inline ULONGLONG AlphaRunsContentBytes(ULONGLONG nRuns, ULONGLONG nPixels) {
    return AlphaRunsSection2Offset(nRuns) + kColourGroupBytes * ColourGroupCount(nPixels);
}
inline ULONGLONG ColourRunsContentBytes(ULONGLONG nRuns, ULONGLONG nPixels) {
    return ColourRunsSection2Offset(nPixels) + kColourRunBytes * nRuns;
}

}   // namespace rvo

// Reads the header fields from the first 16 bytes of a record.
rvo::PackedRecordHeader ReadPackedRecordHeader(const BYTE* pRecord);

// Checks what the first 512 bytes of a record say before the rest is read: a
// known tag, a size that is a multiple of 512, at least 512 and no larger than
// nMaxRecordBytes, and a pixel count equal to nPixelCount. FALSE with
// ERROR_INVALID_DATA otherwise.
BOOL CheckPackedRecordHeader(const rvo::PackedRecordHeader& h, DWORD nPixelCount, DWORD nMaxRecordBytes);

// Checks a whole record (its recordBytes bytes are at pRecord): the header as
// above, both sections inside the record, and run lists that cover exactly the
// pixel count, every element but the last a multiple of 4 pixels. TRUE when
// DecodePackedRecord may expand it. FALSE with ERROR_INVALID_DATA otherwise.
BOOL CheckPackedRecord(const BYTE* pRecord, DWORD nPixelCount, DWORD nMaxRecordBytes);
