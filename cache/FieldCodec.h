// The field run-length form of a preloaded frame: the record layout that the
// preload cache writes (FieldEncode, FieldPack) and delivery reads (DrawFieldRecord).
//
// A field is every other row of a frame: field 0 the rows 0, 2, 4, ..., field 1
// the rows 1, 3, 5, ... . One field record is one block, 8-byte aligned and
// locked in physical memory, holding little-endian integers:
//
//   bytes 0-1    width          frame width in pixels
//   bytes 2-3    height         frame height in pixels (the whole frame)
//   bytes 4-7    tokenCount     T, the number of 16-bit tokens
//   bytes 8-11   literalOffset  where the slots start, in 32-bit words from the
//                               record start: 4 + 2 x ceil(T / 4)
//   bytes 12-15  totalWords     record length in 32-bit words:
//                               literalOffset + 2 x ceil(S / 2)
//   byte 16      the T tokens, then zero tokens up to a multiple of four
//   literalOffset x 4
//                the S literal slots (32-bit pixels), then a zero slot up to an
//                even count
//
// A token is bit 15 "first token of a row", one kind bit and a 12-bit count:
// bit 14 literal (copy count pixels from the next count slots; count 0 is a pad
// that uses up one slot and writes nothing), bit 13 run (count pixels of the
// colour in the next slot, one slot used), bit 12 skip (leave count pixels as
// they are; the encoder never makes one). Readers take any token that is
// neither a run nor a skip as a literal.
//
// A run of R >= 10 equal pixels becomes run tokens for R - 2 pixels; its last
// two pixels start the literal that follows. Literal pixels sit at slot indices
// of the same parity as their pixel offsets in the (8-byte aligned) frame
// buffer, a pad token restoring the parity where a literal starts, so 8-byte
// copies line up on both sides. Counts never exceed 4095: longer runs and
// literals of rows wider than that are split into several tokens, a split
// literal continuing without a pad.
#pragma once

#include <cstddef>

#include "platform/Types.h"

namespace rvo {

constexpr WORD kFieldRowStart = 0x8000;
constexpr WORD kFieldLiteral = 0x4000;
constexpr WORD kFieldRun = 0x2000;
constexpr WORD kFieldSkip = 0x1000;
constexpr WORD kFieldCountMask = 0x0FFF;
constexpr LONG kFieldMaxCount = 4095;

constexpr DWORD kFieldHeaderBytes = 16;
constexpr size_t kFieldWidthAt = 0;
constexpr size_t kFieldHeightAt = 2;
constexpr size_t kFieldTokenCountAt = 4;
constexpr size_t kFieldLiteralOffsetAt = 8;
constexpr size_t kFieldTotalWordsAt = 12;

// Runs shorter than this are coded as literal pixels.
constexpr LONG kFieldMinRun = 10;

// Work arrays start with this many entries and grow in these steps.
constexpr LONG kFieldWorkInitial = 4096;
constexpr LONG kFieldTokenGrowth = 1024;
constexpr LONG kFieldSlotGrowth = 4096;

// Words of a record of T tokens and S slots: 4 + 2 x ceil(T / 4) + 2 x ceil(S / 2).
inline ULONGLONG FieldRecordWords(ULONGLONG nTokens, ULONGLONG nSlots) {
    return 4 + 2 * ((nTokens + 3) / 4) + 2 * ((nSlots + 1) / 2);
}

}   // namespace rvo

// Encodes the rows of nWidth pixels that start at pFirstRow, pFirstRow + nStep,
// ... and end by pRowLimit (the frame's end), into tokens and literal slots
// appended to two work arrays. The arrays are AllocAligned blocks (WORD tokens,
// DWORD slots) that grow as needed; pass null with capacity 0 the first time and
// keep them between calls. nTokens and nSlots are set to the counts made.
// 0 (ERROR_OUTOFMEMORY, counts 0) when an array cannot grow, or ERROR_INVALID_PARAMETER
// for a width outside 1..65535 or a step below the width.
BOOL FieldEncode(const DWORD* pFirstRow, LONG nWidth, ptrdiff_t nStep, const DWORD* pRowLimit,
                 void*& pTokens, LONG& nTokenCapacity, LONG& nTokens,
                 void*& pSlots, LONG& nSlotCapacity, LONG& nSlots);

// Builds the locked record of nTokens tokens and nSlots slots for a frame of
// nWidth x nHeight. Returns the record (a NewLockedBlock of 4 x words bytes) and sets nUnits8 to its size in 8-byte units, or
// null with a last error: ERROR_NOT_ENOUGH_MEMORY when the available physical
// memory is below the record's size, ERROR_OUTOFMEMORY when it cannot be
// allocated, ERROR_WORKING_SET_QUOTA when it cannot be locked (on Linux the
// process's RLIMIT_MEMLOCK), ERROR_INVALID_PARAMETER for sizes a record cannot state.
BYTE* FieldPack(LONG nWidth, LONG nHeight, const void* pTokens, LONG nTokens, const void* pSlots, LONG nSlots,
                LONG& nUnits8);

// Frees a work array of FieldEncode and sets its capacity to 0.
void FreeFieldWork(void*& p, LONG& nCapacity);

// FieldEncode's two work arrays, kept between frames and freed with the holder.
struct CFieldWork {
    void* pTokens = nullptr;
    LONG nTokenCapacity = 0;
    void* pSlots = nullptr;
    LONG nSlotCapacity = 0;

    CFieldWork() = default;
    ~CFieldWork() {
        FreeFieldWork(pTokens, nTokenCapacity);
        FreeFieldWork(pSlots, nSlotCapacity);
    }
    CFieldWork(const CFieldWork&) = delete;
    CFieldWork& operator=(const CFieldWork&) = delete;
};
