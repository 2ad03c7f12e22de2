// The index archive of modes 1-3 and the file form of picture blobs, shared by
// the code that writes them at close and the code that reads them at open.
//
// The index is the entries' records back to back, from the header's index
// offset to the end of the file; the archive adds no bytes of its own. One
// record, integers 32-bit little-endian:
//   reserved 0, kind, name, reserved 0, reserved 0, start frame, last frame,
//   flags, blob flag (1 when a blob follows, else 0), [blob], blob offset,
//   width, height, 32 zero bytes, 32 zero bytes, extra count n,
//   [n x 16 bytes of extra items], 32 zero bytes.
// Without blob, extra items and name that is 144 bytes. The name is an MFC
// archive string: FF FE FF (the Unicode marker), the length L in UTF-16 units
// as one byte (L < 255), FF + u16 (L < 65534) or FF FF FF + u32, then 2L bytes
// of UTF-16LE. Without the marker the L bytes are 8-bit ANSI text.
//
// A blob in its file form, in the frame area and inside a record alike:
//   marker 0x55AAA000, width, height, colourBytes, alphaBytes,
//   the alpha stream (alphaBytes), the colour stream (colourBytes).
// In memory the same bytes sit in a movable global block of
// 20 + alphaBytes + colourBytes + 4 bytes that starts with 0x55AA0001 instead
// of the marker.
#pragma once

#include "container/IndexEntry.h"
#include "platform/Archive.h"
#include "platform/File.h"
#include "platform/Types.h"

namespace rvo {

// The smallest record: every fixed field, an empty name, no blob, no extras.
constexpr DWORD kMinIndexRecordBytes = 144;

}  // namespace rvo

// Appends one record. Raises CArchiveException::badIndex when the entry's blob
// cannot be locked or claims more bytes than its block holds.
void WriteEntry(CArchive& ar, const RvoIndexEntry& e);
// Clears e, then reads one record into it. Raises CArchiveException (endOfFile
// for a short or overlong field, badIndex for a bad blob marker or a length
// beyond the module's limits), COleException(E_INVALIDARG) for a negative
// name length and CMemoryException when a block cannot be had. Whatever e
// took before the error, it owns and Clear frees.
void ReadEntry(CArchive& ar, RvoIndexEntry& e);
// The blob's file form; raises badIndex when it cannot be locked.
void WriteBlob(CArchive& ar, HGLOBAL hBlob);
// A new movable block in the in-memory layout; raises as ReadEntry does.
HGLOBAL ReadBlob(CArchive& ar);
// The blob's file form written at the file's position. FALSE with
// ERROR_INVALID_HANDLE when the blob cannot be locked, ERROR_INVALID_DATA when
// its lengths exceed its block, ERROR_WRITE_FAULT when the file takes less.
BOOL WriteBlobToFile(CFile* pFile, HGLOBAL hBlob);
// Width and height from the blob's header; FALSE when it cannot be locked or is too short.
BOOL GetBlobDimensions(HGLOBAL hBlob, LONG* pWidth, LONG* pHeight);
