// The RVO file as stored on disk.
//
// Header (160 bytes at offset 0, little-endian): magic "QARVOV10", index offset
// (modes 1-3: the index archive; modes 4-5: the first frame record, 512), entry
// count, frame count, mode, width, height, two reserved words, size-table flag,
// size-table length, size-table offset high half then low half, 104 zero bytes.
//
// Modes 1-3: header, then the frame area holding each entry's blob in its file
// form (container/BlobFile.h), then the index archive: one record per entry
// (container/IndexArchive.h).
// Modes 4-5: a 512-byte header block, then frame records, each a multiple of
// 512 bytes; mode 5 ends with the frame-size table (one u32 per frame, zero
// padded to a multiple of 512). Readers of a finished file take nothing from
// bytes 160-511 of the header block; the writer puts the frame-size record
// there (below) so that a file whose writer stopped before close can be rebuilt.
//
// Frame-size record (16 bytes at offset 160 of the header block, modes 4 and 5):
// magic "RVFS" (u32 0x53465652), width, height, record size (mode 4: every
// record's; mode 5: the largest record's, that of a PackedRaw record). Written
// once the frame size is set, before the first frame, and kept at close.
#pragma once

#include "platform/Types.h"

namespace rvo {

constexpr char kMagic[8] = {'Q', 'A', 'R', 'V', 'O', 'V', '1', '0'};
constexpr DWORD kHeaderBytes = 160;
constexpr DWORD kHeaderBlockBytes = 512;   // modes 4 and 5

enum StorageMode : int {
    kModeLegacyBlobs = 1,   // read like JpegBlobs
    ImageList = 2,
    JpegBlobs = 3,
    RawFrames = 4,
    PackedFrames = 5,
};

// The storage mode of a new file from the host's compression choice: 1 JPEG
// pictures, 2 packed records, any other value raw records.
inline LONG StorageModeForCompression(LONG nCompression) {
    if (nCompression == 1) return JpegBlobs;
    if (nCompression == 2) return PackedFrames;
    return RawFrames;
}

// The modes whose frames are records in the frame area (read and written
// without system buffering) rather than index entries.
inline bool IsRecordMode(LONG nMode) { return nMode == RawFrames || nMode == PackedFrames; }

enum EntryKind : int {
    kKindFrame = 1,        // a frame stored by this module
    kKindStillImage = 2,   // an external still image
};

constexpr DWORD kEntryFlagBlobNotStored = 1;   // the blob is not yet in the frame area

// Header field offsets.
enum HeaderOffset : DWORD {
    kOffMagic = 0,
    kOffIndexOffset = 8,
    kOffEntryCount = 12,
    kOffFrameCount = 16,
    kOffMode = 20,
    kOffWidth = 24,
    kOffHeight = 28,
    kOffReserved32 = 32,
    kOffReserved36 = 36,
    kOffSizeTableFlag = 40,
    kOffSizeTableBytes = 44,
    kOffSizeTableOffsetHigh = 48,
    kOffSizeTableOffsetLow = 52,
    kOffReserved = 56,
};

constexpr DWORD kFrameSizeRecordMagic = 0x53465652u;   // "RVFS"
enum FrameSizeRecordOffset : DWORD {
    kOffSizeRecordMagic = 160,
    kOffSizeRecordWidth = 164,
    kOffSizeRecordHeight = 168,
    kOffSizeRecordBytes = 172,
};

}   // namespace rvo
