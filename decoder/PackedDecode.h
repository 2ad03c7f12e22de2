// Expanding the packed records of a PackedFrames file into pixels, and the
// check that makes a record from the file safe to expand.
//
// The decoders trust their input: they walk run lists until pixelCount pixels
// are written and never look at section lengths. CheckPackedRecord is what
// earns that trust, so a record read from a file goes through it first.
#pragma once

#include "container/PackedRecord.h"
#include "platform/Types.h"

// Reads the header fields from the first 16 bytes of a record.
rvo::PackedRecordHeader ReadPackedRecordHeader(const BYTE* pRecord);

// Checks what the first 512 bytes of a record say before the rest is read: a
// known tag, a size that is a multiple of 512, at least 512 and no larger than
// nMaxRecordBytes, and a pixel count equal to nPixelCount. FALSE with
// ERROR_INVALID_DATA otherwise.
BOOL CheckPackedRecordHeader(const rvo::PackedRecordHeader& h, DWORD nPixelCount, DWORD nMaxRecordBytes);

// Checks a whole record (its recordBytes bytes are at pRecord): the header as
// above, both sections inside the record, and run lists that cover exactly the
// pixel count, every element but the last a multiple of 4 pixels. TRUE when
// DecodePackedRecord may expand it. FALSE with ERROR_INVALID_DATA otherwise.
BOOL CheckPackedRecord(const BYTE* pRecord, DWORD nPixelCount, DWORD nMaxRecordBytes);

// Expands a checked record into pixelCount pixels at pTarget (row step = frame
// width, so the pixels follow each other). Writes nothing past the last pixel.
void DecodePackedRecord(const BYTE* pRecord, DWORD* pTarget);

// Alpha runs with raw colour: colour groups of 12 bytes (green, blue, red words),
// alpha runs of 8 bytes (count, pattern) read two per 16-byte block.
void DecodeAlphaRunRecord(DWORD* pTarget, const BYTE* pColourGroups, const BYTE* pAlphaRuns,
                          DWORD nPixelCount);
// Raw alpha with colour runs: one alpha byte per pixel, colour runs of 16 bytes
// (count, green, blue, red patterns).
void DecodeColourRunRecord(DWORD* pTarget, const BYTE* pColourRuns, const BYTE* pAlphaPlane,
                           DWORD nPixelCount);
