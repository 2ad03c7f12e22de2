// A frame turned into its stored form apart from the file it goes to: a
// picture blob (JpegBlobs), a raw record or a packed record. Encoding touches
// nothing but its arguments, so several threads may encode frames at once
// (each with its own buffer) while one thread appends them in frame order
// (CRvoFile::AppendEncodedFrame); a frame written this way gives the same
// bytes as one written by WriteFrame.
#pragma once

#include "container/EncodedFrame.h"
#include "encoder/PackedBuilder.h"
#include "platform/Types.h"

// The working buffer a frame of this mode and size is encoded into: one
// record of the largest size, 0 for JpegBlobs (the blob is allocated). Allocate
// it with AllocFrameBlock, aligned as the file's unbuffered writes need.
DWORD EncodeBufferBytes(LONG nMode, const SIZE& size);

// Encodes one frame (row step nStride pixels) of the given size. pBuffer holds
// EncodeBufferBytes(nMode, size) bytes. FALSE with a last error when no stored
// form can be made (out.bFailed and out.dwError say so too); a JPEG frame the
// codec cannot compress is not a failure here (out.hBlob null: the file keeps
// an entry without a picture). packRule chooses the record type of a
// PackedFrames frame; the module's own writer (WriteFrame) keeps the standard rule.
BOOL EncodeFrame(LONG nMode, const SIZE& size, const DWORD* pPixels, int nStride, BYTE* pBuffer,
                 DWORD nBufferBytes, RvoEncodedFrame& out, RvoPackRule packRule = RvoPackRule::Standard);
