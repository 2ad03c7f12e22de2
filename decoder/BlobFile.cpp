// A picture blob's frame-area copy (marker, width, height, colour length,
// alpha length, streams) read back into the in-memory blob layout.
#include "decoder/BlobFile.h"

#include <cstring>

#include "codec/JpegBlob.h"
#include "container/Limits.h"
#include "platform/GlobalMemory.h"
#include "platform/LastError.h"

BOOL ReadBlobFromFile(CFile* pFile, HGLOBAL* phOut) {
    if (!pFile || !phOut) return Fail(ERROR_INVALID_PARAMETER);
    BYTE head[JPEG_BLOB_HEADER_BYTES];
    const UINT nMarker = pFile->Read(head, 4);
    if (nMarker != 4 || JpegBlobGetU32(head) != JPEG_BLOB_FILE_MARKER) {
        // Leave the file where the copy began, so the caller can look again.
        pFile->Seek(-(LONGLONG)nMarker, CFile::current);
        return Fail(ERROR_BAD_FORMAT);
    }
    if (pFile->Read(head + 4, 16) != 16) return Fail(ERROR_HANDLE_EOF);
    const DWORD dwColour = JpegBlobGetU32(head + JPEG_BLOB_OFS_COLOUR_BYTES);
    const DWORD dwAlpha = JpegBlobGetU32(head + JPEG_BLOB_OFS_ALPHA_BYTES);
    const ULONGLONG nData = (ULONGLONG)dwColour + dwAlpha;
    // Lengths come from the file: no allocation larger than the file can fill.
    const ULONGLONG nPos = pFile->GetPosition(), nLength = pFile->GetLength();
    if (nData > rvo::kMaxBlobBytes || nPos > nLength || nData > nLength - nPos) return Fail(ERROR_INVALID_DATA);

    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, (size_t)JpegBlobBlockBytes(dwColour, dwAlpha));
    if (!h) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p) {
        GlobalFree(h);
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    JpegBlobPutU32(p, JPEG_BLOB_MAGIC);
    std::memcpy(p + 4, head + 4, 16);
    std::memset(p + JPEG_BLOB_HEADER_BYTES + nData, 0, JPEG_BLOB_TAIL_BYTES);
    const bool bRead = pFile->Read(p + JPEG_BLOB_HEADER_BYTES, (UINT)nData) == (UINT)nData;
    GlobalUnlock(h);
    if (!bRead) {
        GlobalFree(h);
        return Fail(ERROR_HANDLE_EOF);
    }
    *phOut = h;
    return TRUE;
}
