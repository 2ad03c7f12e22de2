// Frames into their stored form: picture blob, raw record or packed record.
#include "encoder/FrameEncode.h"

#include <cstring>

#include "codec/JpeEngine.h"
#include "container/PackedRecord.h"
#include "container/RvoFormat.h"
#include "encoder/ChannelRuns.h"
#include "encoder/PackedBuilder.h"
#include "platform/LastError.h"

DWORD EncodeBufferBytes(LONG nMode, const SIZE& size) {
    if (size.cx < 0 || size.cy < 0) return 0;
    const ULONGLONG nPixels = (ULONGLONG)size.cx * (ULONGLONG)size.cy;
    if (nMode == rvo::PackedFrames) return (DWORD)rvo::MaxPackedRecordBytes(nPixels);
    if (nMode == rvo::RawFrames) return (DWORD)rvo::RawRecordBytes(nPixels);
    return 0;
}

namespace {

BOOL Encode(LONG nMode, const SIZE& size, const DWORD* pPixels, int nStride, BYTE* pBuffer, DWORD nBufferBytes,
            RvoEncodedFrame& out, RvoPackRule packRule) {
    if (nMode == rvo::PackedFrames) {
        if (size.cx <= 0 || size.cy <= 0) return Fail(ERROR_INVALID_PARAMETER);
        // The record is built in the buffer, which must be as large as the largest record of this size.
        if (!pBuffer || nBufferBytes < EncodeBufferBytes(nMode, size)) return Fail(ERROR_INVALID_FUNCTION);
        const DWORD nRecord = BuildPackedRecord(pBuffer, pPixels, nStride, size, packRule);
        if (nRecord == 0) return FALSE;
        out.pRecord = pBuffer;
        out.nRecordBytes = nRecord;
        return TRUE;
    }
    if (nMode == rvo::RawFrames) {
        if (size.cx < 0 || size.cy < 0) return Fail(ERROR_INVALID_PARAMETER);
        // Every raw record has the same size: the buffer must be exactly one record.
        if (nBufferBytes != EncodeBufferBytes(nMode, size)) return Fail(ERROR_INVALID_FUNCTION);
        if (nBufferBytes != 0) {
            if (!pBuffer || !pPixels) return Fail(ERROR_INVALID_PARAMETER);
            const size_t nPixelBytes = 4 * (size_t)size.cx * (size_t)size.cy;
            CopyFrameRows(pBuffer, pPixels, nStride, size);
            std::memset(pBuffer + nPixelBytes, 0, nBufferBytes - nPixelBytes);
        }
        out.pRecord = pBuffer;
        out.nRecordBytes = nBufferBytes;
        return TRUE;
    }
    CJpeEngine engine;
    SetLastError(ERROR_SUCCESS);
    out.hBlob = engine.Compress(&size, pPixels, nStride);
    if (!out.hBlob) out.dwError = GetLastError();
    return TRUE;
}

}   // namespace

BOOL EncodeFrame(LONG nMode, const SIZE& size, const DWORD* pPixels, int nStride, BYTE* pBuffer,
                 DWORD nBufferBytes, RvoEncodedFrame& out, RvoPackRule packRule) {
    out = RvoEncodedFrame{};
    if (Encode(nMode, size, pPixels, nStride, pBuffer, nBufferBytes, out, packRule)) return TRUE;
    out.bFailed = TRUE;
    out.dwError = GetLastError();
    return FALSE;
}
