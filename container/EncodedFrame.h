// A frame in its stored form, made apart from the file it goes to (encoder/
// EncodeFrame) and appended in frame order by CRvoFile::AppendEncodedFrame: a
// picture blob (JpegBlobs), a raw record or a packed record.
#pragma once

#include "platform/Types.h"

struct RvoEncodedFrame {
    // JpegBlobs: the picture blob (owned; AppendEncodedFrame frees it), or null
    // when the codec could not compress the frame, dwError saying why.
    HGLOBAL hBlob = nullptr;
    // RawFrames / PackedFrames: the record, in the caller's buffer.
    const BYTE* pRecord = nullptr;
    DWORD nRecordBytes = 0;
    // TRUE when no stored form could be made: appending the frame fails with dwError.
    BOOL bFailed = FALSE;
    DWORD dwError = 0;
};
