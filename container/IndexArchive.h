// The index archive of modes 1-3, shared by the code that writes it at close
// and the code that reads it at open.
//
// The index is the entries' records back to back, from the header's index
// offset to the end of the file; the archive adds no bytes of its own. One
// record, integers 32-bit little-endian:
//   reserved 0, kind, name, reserved 0, reserved 0, start frame, last frame,
//   flags, blob flag (1 when a blob follows, else 0), [blob in its file form,
//   container/BlobFile.h], blob offset, width, height, 32 zero bytes, 32 zero
//   bytes, extra count n, [n x 16 bytes of extra items], 32 zero bytes.
// Without blob, extra items and name that is 144 bytes. The name is an MFC
// archive string: FF FE FF (the Unicode marker), the length L in UTF-16 units
// as one byte (L < 255), FF + u16 (L < 65534) or FF FF FF + u32, then 2L bytes
// of UTF-16LE. Without the marker the L bytes are 8-bit ANSI text.
#pragma once

#include "container/IndexEntry.h"
#include "platform/Archive.h"
#include "platform/Types.h"

namespace rvo {

// The smallest record: every fixed field, an empty name, no blob, no extras.
constexpr DWORD kMinIndexRecordBytes = 144;

}   // namespace rvo

// Appends one record. Raises CArchiveException::badIndex when the entry's blob
// cannot be locked or claims more bytes than its block holds. With
// bFrameAreaBlob, an entry that holds no blob in memory but whose blob is
// stored in the frame area (flag bit 0 clear, a blob offset) carries that
// copy, streamed from the file (WriteBlobFromFile); its picture size then
// raises *pnMaxWidth and *pnMaxHeight.
void WriteEntry(CArchive& ar, const RvoIndexEntry& e, bool bFrameAreaBlob = false, LONG* pnMaxWidth = nullptr,
                LONG* pnMaxHeight = nullptr);
// Clears e, then reads one record into it. A blob in the record is checked and
// passed over, not loaded: e keeps where it lies (m_nIndexBlobAt). Raises CArchiveException (endOfFile
// for a short or overlong field, badIndex for a bad blob marker or a length
// beyond the module's limits), COleException(E_INVALIDARG) for a negative
// name length and CMemoryException when a block cannot be had. Whatever e
// took before the error, it owns and Clear frees.
void ReadEntry(CArchive& ar, RvoIndexEntry& e);
