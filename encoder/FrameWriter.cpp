// The frame writer: appends one host frame to a file being written, as a picture
// blob in the frame area (JpegBlobs), a raw record or a packed record.
#include <cstring>
#include <memory>

#include "codec/JpegBlob.h"
#include "container/BlobFile.h"
#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "encoder/FrameEncode.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"

namespace {

// Writes one whole record at the file pointer. A record that does not reach
// the disk in full is taken back: the file pointer returns to where the record
// began and the file is cut there, so the next record or the size table of the
// close lands right after the last complete record and the file stays readable.
BOOL WriteRecord(HANDLE h, const BYTE* p, DWORD nBytes) {
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    const LONGLONG nStart = SeekRaw(h, 0, FILE_CURRENT);
    if (nStart < 0) return FALSE;
    DWORD nWritten = 0;
    BOOL bOk = WriteFile(h, p, nBytes, &nWritten, nullptr);
    if (bOk && nWritten == nBytes) return TRUE;
    // A short write without an error code means the device took no more.
    const DWORD dwError = bOk ? ERROR_DISK_FULL : GetLastError();
    if (SeekRaw(h, nStart, FILE_BEGIN) == nStart) SetEndOfFile(h);
    return Fail(dwError ? dwError : ERROR_WRITE_FAULT);
}

}   // namespace

// The blob goes into the frame area at once, right after the blobs before it
// (m_header.m_dwIndexOffset is where the frame area ends while the file is written), so
// no frame's blob stays in memory. Only a blob whose end, and so the index
// offset after it, a 32-bit offset can still address is taken: a later one
// could never be found.
BOOL CRvoFile::StoreBlob(RvoIndexEntry& e, HGLOBAL hBlob) {
    const ULONGLONG nBytes = GetBlobFileBytes(hBlob);
    const ULONGLONG nAt = m_header.m_dwIndexOffset;
    BOOL bOk = FALSE;
    if (!m_pFile || nBytes == 0) SetLastError(ERROR_INVALID_FUNCTION);
    else if (!BlobEndAddressable(nAt, nBytes)) SetLastError(ERROR_FILE_TOO_LARGE);
    else if (m_pFile->Seek((LONGLONG)nAt, CFile::begin) != nAt) SetLastError(ERROR_WRITE_FAULT);
    else if (!(bOk = WriteBlobToFile(m_pFile.get(), hBlob))) {
        // Part of the blob may have reached the file: it is cut back to the end
        // of the last whole blob, so the index of the close follows that blob
        // directly and the finished file holds no stray bytes.
        const DWORD dwWriteError = GetLastError();
        m_pFile->SetLength(nAt);
        SetLastError(dwWriteError);
    }
    const DWORD dwError = GetLastError();
    FreeJpegBlob(hBlob);
    if (!bOk) return Fail(dwError);
    e.m_dwBlobOffset = (DWORD)nAt;
    e.m_dwFlags &= ~rvo::kEntryFlagBlobNotStored;
    m_header.m_dwIndexOffset = (DWORD)(nAt + nBytes);
    return TRUE;
}

BOOL CRvoFile::WriteFrame(const DWORD* pPixels, int nStride) {
    RvoEncodedFrame frame;
    if (!EncodeFrame(m_header.m_nMode, m_sizeFrame, pPixels, nStride, m_store.m_pFrameBuffer, m_store.m_nFrameBytes, frame)) return FALSE;
    return AppendEncodedFrame(frame);
}

BOOL CRvoFile::AppendEncodedFrame(RvoEncodedFrame& frame) {
    // The blob is this call's to free, whatever happens.
    HGLOBAL hBlob = frame.hBlob;
    frame.hBlob = nullptr;
    CBlobOwner blobOwner(rvo::IsRecordMode(m_header.m_nMode) ? hBlob : nullptr);

    const int nIndex = GetEntryCount();
    auto pEntry = std::make_unique<RvoIndexEntry>();
    pEntry->m_nKind = rvo::kKindFrame;
    pEntry->m_strName.Format("No.%d", nIndex);
    pEntry->m_nStartFrame = nIndex;
    pEntry->m_nLastFrame = 0;
    pEntry->m_dwFlags = rvo::kEntryFlagBlobNotStored;

    if (frame.bFailed) return Fail(frame.dwError ? frame.dwError : ERROR_INVALID_FUNCTION);
    if (rvo::IsRecordMode(m_header.m_nMode)) {
        if (!frame.pRecord && frame.nRecordBytes != 0) return Fail(ERROR_INVALID_PARAMETER);
        if (!WriteRecord(m_store.m_hRawFile, frame.pRecord, frame.nRecordBytes)) return FALSE;
        if (m_header.m_nMode == rvo::PackedFrames) m_store.m_arrFrameSizes.Add(frame.nRecordBytes);
        pEntry->m_nWidth = m_sizeFrame.cx;
        pEntry->m_nHeight = m_sizeFrame.cy;
    } else if (hBlob) {
        if (!StoreBlob(*pEntry, hBlob)) return FALSE;
    }

    m_index.Add(pEntry.release());
    m_header.m_nEntryCount = GetEntryCount();
    GetFrameCount();
    // A frame that failed to compress still gets its entry, without a
    // picture, so the file's frame numbers stay the host's, but the append
    // fails: its picture is not in the file. The codec's reason stays the last
    // error, wherever it compressed.
    if (!rvo::IsRecordMode(m_header.m_nMode) && !hBlob)
        return Fail(frame.dwError ? frame.dwError : ERROR_WRITE_FAULT);
    return TRUE;
}
