// The run-length passes over a frame's alpha and colour channels, and the copy
// operations that lay their results, or the raw pixels, into a packed record.
//
// A frame is given by its top-left pixel, the row step in pixels (the stride,
// may exceed the width or be negative) and its size; the passes walk its
// L = cx x cy pixels in row order. The passes require L >= 1 and L within
// rvo::kMaxFramePixels, so that every count fits its 32-bit field.
//
// Run-list rule: the walk is cut into groups of four pixels from pixel 0 (the
// last group may be shorter). A group whose pixels share one value extends the
// last element when that is a run of the same value, else it appends a run; any
// other group appends a literal element holding its values in pattern bytes
// 0..3 (zero for positions the group lacks). Literals are never extended.
//
// Where g_bSse2 is set the bulk loops use 16-byte vectors (and byte shuffles
// where the processor also has SSSE3); the plain loops give the same bytes.
#pragma once

#include <vector>

#include "platform/Types.h"

// In memory in the order of the record section, so a list is copied as one block.
struct AlphaRun {
    DWORD count;
    DWORD pattern;
};

struct ColourRun {
    DWORD count;
    DWORD greenPattern;
    DWORD bluePattern;
    DWORD redPattern;
};

static_assert(sizeof(AlphaRun) == 8 && sizeof(ColourRun) == 16);

typedef std::vector<AlphaRun> AlphaRunList;
typedef std::vector<ColourRun> ColourRunList;

// Writes the alpha byte of pixel i to pAlphaPlane[i] (L bytes) and builds the
// alpha-run list. TRUE when the runs pay: roundup16(8 n) + 528 < L. The list is
// filled either way. With pnColourLiterals, the same sweep also counts the
// groups of four pixels that lie in one row and whose first two pixels differ
// in colour: each is an element of the colour-run list on its own, so the
// count is a floor for that list's length.
BOOL EncodeAlphaRuns(BYTE* pAlphaPlane, const DWORD* pPixels, int nStride, const SIZE& size,
                     AlphaRunList& runs, ULONGLONG* pnColourLiterals = nullptr);

// Builds the colour-run list over (blue, green, red). Gives up, leaving the list
// empty and returning FALSE, once 16 x the elements closed before the last pixel
// is examined exceeds 80 % of the 3 L bytes raw colour takes (an element closes
// when the walk reaches the first pixel after a literal group, or the first pixel
// that differs from a run). Yields the processor once on every return.
BOOL EncodeColourRuns(const DWORD* pPixels, int nStride, const SIZE& size, ColourRunList& runs);

// The colour-run list without the module's limit, for a record chosen by its
// size: FALSE, leaving the list empty, as soon as it holds more than nMaxRuns
// elements. *pbPaysByLimit (may be null): whether EncodeColourRuns would have
// kept the list. Yields the processor once on every return.
BOOL EncodeColourRunsWithin(const DWORD* pPixels, int nStride, const SIZE& size, ULONGLONG nMaxRuns,
                            ColourRunList& runs, BOOL* pbPaysByLimit = nullptr);

// Copy the elements in list order, 8 or 16 bytes each.
void CopyAlphaRuns(BYTE* pDst, const AlphaRunList& runs);
void CopyColourRuns(BYTE* pDst, const ColourRunList& runs);

// Writes ceil(L / 4) colour groups of 12 bytes (green, blue, red words); byte
// positions past the last pixel are zero.
void PackColourGroups(BYTE* pDst, const DWORD* pPixels, int nStride, const SIZE& size);

// Writes the cy rows packed, cx x 4 bytes each, pixel bytes unchanged.
void CopyFrameRows(BYTE* pDst, const DWORD* pPixels, int nStride, const SIZE& size);

// Empties the list and gives its memory back.
template <typename Run>
void FreeRuns(std::vector<Run>& runs) {
    std::vector<Run>().swap(runs);
}
