// Row copies and zero fills into destination areas (the module's buffers or a
// host's), with a 16-byte streaming path when the processor has SSE2 and a
// plain path otherwise; both write identical pixels. Steps are in pixels.
#pragma once

#include <cstddef>

#include "platform/Types.h"

// Copies nPixels pixels with plain 8- and 4-byte moves at any alignment: the
// copy used where the processor lacks SSE2.
void CopyPixelsPlain(DWORD* pDst, const DWORD* pSrc, LONG nPixels);
// Copies nRows rows of nPixels pixels. Nothing happens when either count is 0 or less.
void CopyPixelRows(DWORD* pDst, ptrdiff_t nDstStep, const DWORD* pSrc, ptrdiff_t nSrcStep, LONG nPixels,
                   LONG nRows);
// Sets nRows rows of nPixels pixels to 0 (black, alpha 0).
void ZeroPixelRows(DWORD* pDst, ptrdiff_t nDstStep, LONG nPixels, LONG nRows);
