// Decoding a preloaded field record into a host pixel area (the record layout is
// in cache/FieldCodec.h).
#pragma once

#include <cstddef>

#include "container/PreloadCache.h"
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

// Field `field` (2 x frame + parity) from a preload cache of a file with
// frames of sizeFrame, into the destination as CRvoFile::DeliverField gives it
// (bRecords: the cache holds a raw block per frame, as for modes 4 and 5,
// rather than two field records per entry). 0 when the cache does not hold it.
int DeliverCachedField(const CPreloadCache& cache, bool bRecords, SIZE sizeFrame, unsigned field, DWORD* pDst,
                       int nDstStride, int nDstHeight, int nDstWidth = -1);
