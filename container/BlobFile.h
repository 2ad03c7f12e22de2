// The file form of a picture blob: written into the frame area and into index
// records at close, read back from either at open or when an entry's blob is
// needed again.
//
// The file form is the in-memory blob (codec/JpegBlob.h) with the marker in
// place of the magic, every other byte unchanged (integers 32-bit little-endian):
//   0  marker       0x55AAA000 (bytes 00 A0 AA 55)
//   4  width        pixels (signed)
//   8  height       pixels (signed)
//   12 colourBytes  length of the colour stream
//   16 alphaBytes   length of the alpha stream
//   20 the alpha stream (alphaBytes), then the colour stream (colourBytes)
// Reading rebuilds the in-memory block: the magic, the four header words, the
// streams and the block's tail bytes.
#pragma once

#include "codec/JpegBlob.h"
#include "platform/Archive.h"
#include "platform/File.h"
#include "platform/Types.h"

namespace rvo {

constexpr DWORD kBlobFileMarker = 0x55AAA000u;
constexpr DWORD kBlobFileHeaderBytes = (DWORD)JPEG_BLOB_HEADER_BYTES;   // the block's header, marker for magic

}   // namespace rvo

// What a blob file header says about the bytes after it.
enum BlobFileCheck {
    kBlobFileOk,
    kBlobFileTooLong,   // the streams exceed the module's limit for one blob
    kBlobFilePastEnd,   // the streams would run past the end of the file
};

// Whether the 4 bytes at p are the file form's marker.
bool HasBlobFileMarker(const BYTE* p);

// Checks the stream lengths of a file-form header (the marker already found)
// against the limit and against the nBytesAfter bytes that follow the header in
// the file. Every reader of a file form goes through it before a length sizes
// a block or a copy.
BlobFileCheck CheckBlobFileHeader(const JpegBlobHeader& h, ULONGLONG nBytesAfter);

// The blob's file form into the index archive; raises CArchiveException::badIndex
// when the blob cannot be locked or claims more bytes than its block holds.
void WriteBlob(CArchive& ar, HGLOBAL hBlob);
// A new movable block in the in-memory layout, read from the archive. Raises
// CArchiveException (badIndex for a wrong marker or streams beyond the limit,
// endOfFile for a short read or streams past the end of the file) and
// CMemoryException when a block cannot be had.
HGLOBAL ReadBlob(CArchive& ar);

// Passes over a blob's file form in the index archive with the same checks as
// ReadBlob, without loading it: *pnAt is where the form begins in the file and
// *pnBytes its length (header and streams).
void SkipBlob(CArchive& ar, ULONGLONG* pnAt, DWORD* pnBytes);
// Copies the file form at nAt of the archive's own file (a frame-area copy,
// which ends where the archive writes) into the storing archive through a
// bounded buffer, and gives the blob's width and height. Raises
// CArchiveException: badIndex for a wrong marker or streams beyond the limit,
// endOfFile for a copy that is short, genericException when the file takes less.
void WriteBlobFromFile(CArchive& ar, ULONGLONG nAt, LONG* pWidth, LONG* pHeight);

// Length of the blob's file form; 0 when it cannot be locked or claims more than its block.
ULONGLONG GetBlobFileBytes(HGLOBAL hBlob);
// Whether nBytes of a blob's file form at nAt end where the index's 32-bit
// offsets (a blob's, and the index's after the last blob) can still address.
inline bool BlobEndAddressable(ULONGLONG nAt, ULONGLONG nBytes) {
    return nAt <= 0xFFFFFFFFull && nBytes <= 0xFFFFFFFFull - nAt;
}
// The blob's file form written at the file's position. FALSE with
// ERROR_INVALID_HANDLE when the blob cannot be locked, ERROR_INVALID_DATA when
// its lengths exceed its block, ERROR_WRITE_FAULT when the file takes less.
BOOL WriteBlobToFile(CFile* pFile, HGLOBAL hBlob);
// Reads the blob at the file's current position into a new movable block and
// stores its handle in *phOut. FALSE on failure, *phOut unchanged: a marker
// other than the file marker (last error ERROR_BAD_FORMAT, position restored to
// where the marker began), stream lengths beyond the limit or the end of the
// file (ERROR_INVALID_DATA), a short read (ERROR_HANDLE_EOF), or no memory
// (ERROR_NOT_ENOUGH_MEMORY).
BOOL ReadBlobFromFile(CFile* pFile, HGLOBAL* phOut);

// Width and height from the blob's header; FALSE when it cannot be locked or is too short.
BOOL GetBlobDimensions(HGLOBAL hBlob, LONG* pWidth, LONG* pHeight);
