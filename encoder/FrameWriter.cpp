// The frame writer: appends one host frame to a file being written, as a picture
// blob in the frame area (JpegBlobs), a raw record or a packed record.
#include <cstring>
#include <memory>

#include "container/BlobFile.h"
#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "encoder/ChannelRuns.h"
#include "encoder/PackedBuilder.h"
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

}  // namespace

// The blob goes into the frame area at once, right after the blobs before it
// (m_dwIndexOffset is where the frame area ends while the file is written), so
// no frame's blob stays in memory. Only a blob whose end, and so the index
// offset after it, a 32-bit offset can still address is taken: a later one
// could never be found.
BOOL CRvoFile::StoreBlob(RvoIndexEntry& e, HGLOBAL hBlob) {
    const ULONGLONG nBytes = GetBlobFileBytes(hBlob);
    const ULONGLONG nAt = m_dwIndexOffset;
    BOOL bOk = FALSE;
    if (!m_pFile || nBytes == 0) SetLastError(ERROR_INVALID_FUNCTION);
    else if (nAt + nBytes > 0xFFFFFFFFull) SetLastError(ERROR_FILE_TOO_LARGE);
    else if (m_pFile->Seek((LONGLONG)nAt, CFile::begin) != nAt) SetLastError(ERROR_WRITE_FAULT);
    else bOk = WriteBlobToFile(m_pFile, hBlob);
    const DWORD dwError = GetLastError();
    CJpeEngine::FreeBlob(hBlob);
    if (!bOk) return Fail(dwError);
    e.m_dwBlobOffset = (DWORD)nAt;
    e.m_dwFlags &= ~rvo::kEntryFlagBlobNotStored;
    m_dwIndexOffset = (DWORD)(nAt + nBytes);
    return TRUE;
}

BOOL CRvoFile::WriteFrame(const DWORD* pPixels, int nStride) {
    const int nIndex = GetEntryCount();
    auto pEntry = std::make_unique<RvoIndexEntry>();
    pEntry->m_nKind = rvo::kKindFrame;
    pEntry->m_strName.Format("No.%d", nIndex);
    pEntry->m_dwReserved12 = 0;
    pEntry->m_dwReserved16 = 0;
    pEntry->m_nStartFrame = nIndex;
    pEntry->m_nLastFrame = 0;
    pEntry->m_dwFlags = rvo::kEntryFlagBlobNotStored;

    if (m_nMode == rvo::PackedFrames) {
        if (!WritePackedFrame(pPixels, nStride)) return FALSE;
        pEntry->m_nWidth = m_sizeFrame.cx;
        pEntry->m_nHeight = m_sizeFrame.cy;
    } else if (m_nMode == rvo::RawFrames) {
        pEntry->m_nWidth = m_sizeFrame.cx;
        pEntry->m_nHeight = m_sizeFrame.cy;
        if (m_sizeFrame.cx < 0 || m_sizeFrame.cy < 0) return Fail(ERROR_INVALID_PARAMETER);
        const ULONGLONG nPixelBytes = 4 * (ULONGLONG)m_sizeFrame.cx * (ULONGLONG)m_sizeFrame.cy;
        // The staging buffer must be the one SetFrameSize made for this size.
        if (m_nFrameBytes != rvo::RawRecordBytes(nPixelBytes / 4)) return Fail(ERROR_INVALID_FUNCTION);
        if (m_nFrameBytes != 0) {
            if (!m_pFrameBuffer || !pPixels) return Fail(ERROR_INVALID_PARAMETER);
            CopyFrameRows(m_pFrameBuffer, pPixels, nStride, m_sizeFrame);
            std::memset(m_pFrameBuffer + nPixelBytes, 0, (size_t)(m_nFrameBytes - nPixelBytes));
        }
        if (!WriteRecord(m_hRawFile, m_pFrameBuffer, m_nFrameBytes)) return FALSE;
    } else {
        // A frame that fails to compress still gets its entry (without a picture) and is
        // counted, so the file's frame numbers stay those of the host's frames.
        HGLOBAL hBlob;
        {
            CJpeEngine engine;
            hBlob = engine.Compress(&m_sizeFrame, pPixels, nStride);
        }
        if (hBlob && !StoreBlob(*pEntry, hBlob)) return FALSE;
    }

    m_arrEntries.Add(pEntry.release());
    m_nEntryCount = GetEntryCount();
    GetFrameCount();
    return TRUE;
}

BOOL CRvoFile::WritePackedFrame(const DWORD* pPixels, int nStride) {
    if (m_sizeFrame.cx <= 0 || m_sizeFrame.cy <= 0) return Fail(ERROR_INVALID_PARAMETER);
    const ULONGLONG L = (ULONGLONG)m_sizeFrame.cx * (ULONGLONG)m_sizeFrame.cy;
    // The record is built in the frame buffer, which SetFrameSize made page
    // aligned and as large as the largest record of this size.
    if (!m_pFrameBuffer || m_nFrameBytes < rvo::MaxPackedRecordBytes(L)) return Fail(ERROR_INVALID_FUNCTION);
    const DWORD nRecord = BuildPackedRecord(m_pFrameBuffer, pPixels, nStride, m_sizeFrame);
    if (nRecord == 0) return FALSE;
    if (!WriteRecord(m_hRawFile, m_pFrameBuffer, nRecord)) return FALSE;
    m_arrFrameSizes.Add(nRecord);
    return TRUE;
}
