// Expanding the packed records of a PackedFrames file into pixels.
//
// The decoders trust their input: they walk run lists until pixelCount pixels
// are written and never look at section lengths. CheckPackedRecord
// (container/PackedRecord.h) is what earns that trust, so a record read from
// a file goes through it first.
#pragma once

#include "container/PackedRecord.h"
#include "platform/Types.h"

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
