// Decoding a preloaded field record into a host pixel area (the record layout is
// in cache/FieldCodec.h).
#pragma once

#include <cstddef>

#include "platform/Types.h"

// Decodes the field record of nRecordBytes bytes at pRecord (4-byte aligned)
// into destination rows 0, 2, 4, ... counted from pDst: rows are 2 x nDstStride
// pixels apart, each is written over at most nDstWidth pixels (runs and literals
// are cut there), and at most nRows rows are begun. Nothing outside those rows
// is written, and nothing outside the record's tokens and slots is read: the
// header's counts are checked against nRecordBytes first.
// TRUE when the record was decoded to its end or to the row limit; FALSE with
// ERROR_INVALID_DATA for a damaged record (a header that does not fit its size,
// tokens needing more slots than it holds, a token before the first row start),
// after decoding what came before the damage.
BOOL DrawFieldRecord(DWORD* pDst, ptrdiff_t nDstStride, LONG nDstWidth, LONG nRows, const BYTE* pRecord,
                     size_t nRecordBytes);
