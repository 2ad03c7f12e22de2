// Builds the packed record of one frame in memory: runs the channel passes,
// chooses the record type and fills its header and sections.
#pragma once

#include "platform/Types.h"

// Builds the record at pRecord, which holds at least
// rvo::MaxPackedRecordBytes(cx x cy) bytes, and returns its size (a multiple of
// 512). The frame needs at least one pixel and must lie within the frame limits;
// otherwise 0 (ERROR_INVALID_PARAMETER). Pad bytes are written as zeros.
DWORD BuildPackedRecord(BYTE* pRecord, const DWORD* pPixels, int nStride, const SIZE& size);
