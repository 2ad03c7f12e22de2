// Builds the packed record of one frame in memory: runs the channel passes,
// chooses the record type and fills its header and sections.
#pragma once

#include "platform/Types.h"

// How the record type of a frame is chosen.
enum class RvoPackRule {
    // The module's own rule (command 8): alpha runs when they pay, else colour
    // runs when they pay, else raw pixels.
    Standard,
    // The smallest of the three records; of equal sizes, the one the standard
    // rule stores, so a frame's record changes only to save bytes. Both passes
    // run, the colour pass only until it can no longer give a smaller record.
    Smallest,
};

// "standard" or "smallest".
const char* PackRuleName(RvoPackRule rule);
// The rule of that name; FALSE for any other text.
BOOL PackRuleFromName(const char* pszName, RvoPackRule* pRule);

// Builds the record at pRecord, which holds at least
// rvo::MaxPackedRecordBytes(cx x cy) bytes, and returns its size (a multiple of
// 512). The frame needs at least one pixel and must lie within the frame limits;
// otherwise 0 (ERROR_INVALID_PARAMETER). Pad bytes are written as zeros.
DWORD BuildPackedRecord(BYTE* pRecord, const DWORD* pPixels, int nStride, const SIZE& size,
                        RvoPackRule rule = RvoPackRule::Standard);
