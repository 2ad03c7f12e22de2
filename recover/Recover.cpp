// Rebuilding files whose writer stopped before close: the scan of the whole
// frames they hold, and the finished file written from those frames with the
// writer's own pieces (header, index records, size table), one frame at a time.
#include "recover/Recover.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "codec/JpeEngine.h"
#include "container/BlobFile.h"
#include "container/IndexArchive.h"
#include "container/Limits.h"
#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "platform/Archive.h"
#include "platform/ByteOrder.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"

using namespace rvo;

namespace {

constexpr ULONGLONG kMaxIndexOffset = 0xFFFFFFFFull;   // blob and index offsets are 32-bit
constexpr UINT kCopyChunkBytes = 1u << 20;

// Frees an aligned buffer on scope exit.
struct AlignedDeleter {
    void operator()(BYTE* p) const { FreeAligned(p); }
};
using AlignedBuffer = std::unique_ptr<BYTE, AlignedDeleter>;

bool ReadExact(CFile& f, BYTE* p, ULONGLONG nBytes) {
    return nBytes <= 0xFFFFFFFFull && f.Read(p, (UINT)nBytes) == nBytes;
}

// Every record's size in mode 4, the largest record's in mode 5.
ULONGLONG RecordBytesFor(LONG nMode, ULONGLONG nPixels) {
    return nMode == RawFrames ? RawRecordBytes(nPixels) : MaxPackedRecordBytes(nPixels);
}

// The frame size from the header block's frame-size record, when it holds a
// valid one for the mode (its record size must follow from its size).
bool LoadFrameSizeRecord(const BYTE* pBlock, LONG nMode, SIZE* pSize) {
    if (LoadLe32(pBlock + kOffSizeRecordMagic) != kFrameSizeRecordMagic) return false;
    const LONG cx = (LONG)LoadLe32(pBlock + kOffSizeRecordWidth), cy = (LONG)LoadLe32(pBlock + kOffSizeRecordHeight);
    if (cx <= 0 || cy <= 0 || !FrameSizeAllowed(cx, cy)) return false;
    if (LoadLe32(pBlock + kOffSizeRecordBytes) != RecordBytesFor(nMode, (ULONGLONG)cx * (ULONGLONG)cy)) return false;
    *pSize = SIZE{cx, cy};
    return true;
}

// Modes 1-3: whole blobs from offset 160, each decoded, while their end fits a 32-bit offset.
BOOL WalkBlobs(CFile& f, RvoUnfinished& s) {
    s.bSizeKnown = s.bCounted = TRUE;
    ULONGLONG nPos = kHeaderBytes;
    if (f.Seek((LONGLONG)nPos, CFile::begin) != nPos) return Fail(ERROR_READ_FAULT);
    CJpeEngine engine;
    while (s.nFrames < kMaxEntries) {
        HGLOBAL hBlob = nullptr;
        SetLastError(ERROR_SUCCESS);
        if (!ReadBlobFromFile(&f, &hBlob)) {
            // Memory running out says nothing about the file; a count short of it would be a lie.
            if (GetLastError() == ERROR_NOT_ENOUGH_MEMORY) return FALSE;
            break;
        }
        const ULONGLONG nEnd = f.GetPosition();
        bool bWhole = nEnd <= kMaxIndexOffset;
        DWORD dwError = ERROR_SUCCESS;
        if (bWhole) {
            SetLastError(ERROR_SUCCESS);
            std::unique_ptr<BYTE[]> pPixels(engine.Decompress(hBlob));
            bWhole = pPixels != nullptr;
            dwError = GetLastError();
        }
        LONG w = -1, h = -1;
        if (bWhole) GetBlobDimensions(hBlob, &w, &h);
        CJpeEngine::FreeBlob(hBlob);
        if (!bWhole && dwError == ERROR_OUTOFMEMORY) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        if (!bWhole) break;
        s.nWidth = std::max(s.nWidth, w);
        s.nHeight = std::max(s.nHeight, h);
        s.nFrames++;
        nPos = nEnd;
    }
    s.nFramesEnd = nPos;
    return TRUE;
}

// Mode 5: records from offset 512 that the reader's record check accepts whole.
BOOL WalkPackedRecords(CFile& f, RvoUnfinished& s) {
    s.bCounted = TRUE;   // without a first record whose pixel count is usable, no frame is whole
    ULONGLONG nPos = kHeaderBlockBytes;
    s.nFramesEnd = nPos;
    if (f.Seek((LONGLONG)nPos, CFile::begin) != nPos) return Fail(ERROR_READ_FAULT);
    BYTE head[kRecordUnitBytes];
    ULONGLONG nPixels = (ULONGLONG)std::max<LONG>(s.nWidth, 0) * (ULONGLONG)std::max<LONG>(s.nHeight, 0);
    if (!s.bSizeKnown) {
        // Without a size, the first record's pixel count stands for every frame's.
        if (s.nFileBytes - nPos < kRecordUnitBytes || !ReadExact(f, head, kRecordUnitBytes)) return TRUE;
        nPixels = ReadPackedRecordHeader(head).pixelCount;
        if (nPixels == 0 || nPixels > kMaxFramePixels) return TRUE;
        if (f.Seek((LONGLONG)nPos, CFile::begin) != nPos) return Fail(ERROR_READ_FAULT);
    }
    const ULONGLONG nMax = MaxPackedRecordBytes(nPixels);
    AlignedBuffer pRecord(static_cast<BYTE*>(AllocAligned((size_t)nMax)));
    if (!pRecord) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    while (s.nFrames < kMaxEntries && s.nFileBytes - nPos >= kRecordUnitBytes) {
        BYTE* p = pRecord.get();
        if (!ReadExact(f, p, kRecordUnitBytes)) break;
        const PackedRecordHeader h = ReadPackedRecordHeader(p);
        if (!CheckPackedRecordHeader(h, (DWORD)nPixels, (DWORD)nMax)) break;
        if (h.recordBytes > s.nFileBytes - nPos) break;
        if (!ReadExact(f, p + kRecordUnitBytes, h.recordBytes - kRecordUnitBytes)) break;
        if (!CheckPackedRecord(p, (DWORD)nPixels, (DWORD)nMax)) break;
        nPos += h.recordBytes;
        s.nFrames++;
    }
    s.nFramesEnd = nPos;
    return TRUE;
}

// Mode 3: the header, the frame area copied as it stands, an index record per
// blob (the blob read again, one at a time), the final header.
BOOL WriteRecoveredBlobs(CFile& in, const RvoUnfinished& s, const WCHAR* pszOut) {
    if (s.nMode != JpegBlobs) return Fail(ERROR_NOT_SUPPORTED);
    CFile out;
    if (!out.Open(pszOut, CFile::modeCreate | CFile::modeReadWrite, nullptr)) return Fail(ERROR_ACCESS_DENIED);
    CRvoFile header;   // the header image, in the state the writer gives it
    header.m_header.m_nMode = JpegBlobs;
    BYTE image[kHeaderBytes];
    header.m_header.StoreHeader(image);
    if (out.Write(image, kHeaderBytes) != kHeaderBytes) return Fail(ERROR_WRITE_FAULT);

    std::unique_ptr<BYTE[]> pChunk(new (std::nothrow) BYTE[kCopyChunkBytes]);
    if (!pChunk) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    if (in.Seek(kHeaderBytes, CFile::begin) != kHeaderBytes) return Fail(ERROR_READ_FAULT);
    for (ULONGLONG nLeft = s.nFramesEnd - kHeaderBytes; nLeft > 0;) {
        const UINT n = (UINT)std::min<ULONGLONG>(nLeft, kCopyChunkBytes);
        if (in.Read(pChunk.get(), n) != n) return Fail(ERROR_INVALID_DATA);
        if (out.Write(pChunk.get(), n) != n) return Fail(ERROR_WRITE_FAULT);
        nLeft -= n;
    }
    pChunk.reset();

    if (in.Seek(kHeaderBytes, CFile::begin) != kHeaderBytes) return Fail(ERROR_READ_FAULT);
    {
        CArchive ar(&out, CArchive::store, 4096);
        RvoIndexEntry e;
        for (DWORD i = 0; i < s.nFrames; i++) {
            const ULONGLONG nAt = in.GetPosition();
            HGLOBAL hBlob = nullptr;
            if (!ReadBlobFromFile(&in, &hBlob)) return Fail(ERROR_INVALID_DATA);
            // The entry as the frame writer makes it, after close stored its blob.
            e.Clear();
            e.m_nKind = kKindFrame;
            e.m_strName.Format("No.%d", (int)i);
            e.m_nStartFrame = (LONG)i;
            e.m_hBlob = hBlob;
            e.m_dwBlobOffset = (DWORD)nAt;
            WriteEntry(ar, e);
        }
        e.Clear();
        ar.Flush();
    }
    if (in.GetPosition() != s.nFramesEnd) return Fail(ERROR_INVALID_DATA);

    header.m_header.m_dwIndexOffset = (DWORD)s.nFramesEnd;
    header.m_header.m_nEntryCount = header.m_header.m_nFrameCount = (LONG)s.nFrames;
    header.m_header.m_nWidth = s.nWidth;
    header.m_header.m_nHeight = s.nHeight;
    header.m_header.StoreHeader(image);
    if (out.Seek(0, CFile::begin) != 0 || out.Write(image, kHeaderBytes) != kHeaderBytes)
        return Fail(ERROR_WRITE_FAULT);
    out.Flush();
    return TRUE;
}

// Modes 4 and 5: a writer on the output that takes the records as they stand
// and closes the way the frame writer's file closes.
BOOL WriteRecoveredRecords(CFile& in, const RvoUnfinished& s, const WCHAR* pszOut) {
    CRvoFile out;
    out.m_header.m_nMode = s.nMode;
    if (!out.Create(pszOut)) return Fail(GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED);
    const SIZE size{s.nWidth, s.nHeight};
    out.SetFrameSize(&size);
    const ULONGLONG nPixels = (ULONGLONG)s.nWidth * (ULONGLONG)s.nHeight;
    if (!out.m_store.m_pFrameBuffer || out.m_store.m_nFrameBytes != RecordBytesFor(s.nMode, nPixels))
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    BYTE* p = out.m_store.m_pFrameBuffer;
    if (in.Seek(kHeaderBlockBytes, CFile::begin) != kHeaderBlockBytes) return Fail(ERROR_READ_FAULT);
    for (DWORD i = 0; i < s.nFrames; i++) {
        DWORD nBytes = out.m_store.m_nFrameBytes;
        if (s.nMode == PackedFrames) {
            if (!ReadExact(in, p, kRecordUnitBytes)) return Fail(ERROR_INVALID_DATA);
            const PackedRecordHeader h = ReadPackedRecordHeader(p);
            if (!CheckPackedRecordHeader(h, (DWORD)nPixels, out.m_store.m_nFrameBytes)) return Fail(ERROR_INVALID_DATA);
            nBytes = h.recordBytes;
            if (!ReadExact(in, p + kRecordUnitBytes, nBytes - kRecordUnitBytes)) return Fail(ERROR_INVALID_DATA);
        } else if (!ReadExact(in, p, nBytes)) {
            return Fail(ERROR_INVALID_DATA);
        }
        DWORD nWritten = 0;
        if (!WriteFile(out.m_store.m_hRawFile, p, nBytes, &nWritten, nullptr)) return FALSE;
        if (nWritten != nBytes) return Fail(ERROR_WRITE_FAULT);
        if (s.nMode == PackedFrames) out.m_store.m_arrFrameSizes.Add(nBytes);
    }
    if (in.GetPosition() != s.nFramesEnd) return Fail(ERROR_INVALID_DATA);
    return out.FinishRecords((int)s.nFrames);
}

}  // namespace

BOOL ScanUnfinished(const WCHAR* pszPath, const SIZE* pSize, RvoUnfinished* pScan) {
    if (!pszPath || !pScan) return Fail(ERROR_INVALID_PARAMETER);
    RvoUnfinished s;
    CFile f;
    if (!f.Open(pszPath, CFile::modeRead | CFile::shareDenyWrite, nullptr)) return Fail(ERROR_FILE_NOT_FOUND);
    s.nFileBytes = f.GetLength();
    BYTE block[kHeaderBlockBytes] = {};
    const UINT nHead = f.Read(block, kHeaderBlockBytes);
    if (nHead < kHeaderBytes || std::memcmp(block, kMagic, sizeof kMagic) != 0) return Fail(ERROR_BAD_FORMAT);
    s.nMode = (LONG)LoadLe32(block + kOffMode);
    const DWORD nEntries = LoadLe32(block + kOffEntryCount), nFrameCount = LoadLe32(block + kOffFrameCount);
    const DWORD dwIndexOffset = LoadLe32(block + kOffIndexOffset);

    BOOL bOk = TRUE;
    if (IsRecordMode(s.nMode)) {
        s.bUnfinished = nEntries == 0 && nFrameCount == 0 && s.nFileBytes > kHeaderBlockBytes;
        if (!s.bUnfinished) {
            *pScan = s;
            return TRUE;
        }
        SIZE recorded;
        s.bSizeRecorded = LoadFrameSizeRecord(block, s.nMode, &recorded);
        if (s.bSizeRecorded && pSize && (pSize->cx != recorded.cx || pSize->cy != recorded.cy))
            return Fail(ERROR_INVALID_PARAMETER);
        if (s.bSizeRecorded || pSize) {
            const SIZE size = s.bSizeRecorded ? recorded : *pSize;
            if (size.cx <= 0 || size.cy <= 0 || !FrameSizeAllowed(size.cx, size.cy)) return Fail(ERROR_INVALID_PARAMETER);
            s.bSizeKnown = TRUE;
            s.nWidth = size.cx;
            s.nHeight = size.cy;
        }
        if (s.nMode == PackedFrames) {
            bOk = WalkPackedRecords(f, s);
        } else if (s.bSizeKnown) {
            const ULONGLONG nRecord = RawRecordBytes((ULONGLONG)s.nWidth * (ULONGLONG)s.nHeight);
            s.nFrames = (DWORD)std::min<ULONGLONG>((s.nFileBytes - kHeaderBlockBytes) / nRecord, kMaxEntries);
            s.nFramesEnd = kHeaderBlockBytes + s.nFrames * nRecord;
            s.bCounted = TRUE;
        } else {
            s.nFramesEnd = kHeaderBlockBytes;
        }
    } else if (s.nMode >= kModeLegacyBlobs && s.nMode <= JpegBlobs) {
        s.bUnfinished = nEntries == 0 && dwIndexOffset == kHeaderBytes && s.nFileBytes > kHeaderBytes;
        if (s.bUnfinished) bOk = WalkBlobs(f, s);
    }
    if (!bOk) return FALSE;
    *pScan = s;
    return TRUE;
}

BOOL WriteRecovered(const WCHAR* pszIn, const RvoUnfinished& scan, const WCHAR* pszOut) {
    if (!pszIn || !pszOut || !scan.bUnfinished || !scan.bSizeKnown || !scan.bCounted)
        return Fail(ERROR_INVALID_PARAMETER);
    CFile in;
    if (!in.Open(pszIn, CFile::modeRead | CFile::shareDenyWrite, nullptr)) return Fail(ERROR_FILE_NOT_FOUND);
    // The input must still hold what the scan found.
    if (in.GetLength() < scan.nFramesEnd) return Fail(ERROR_INVALID_DATA);
    // A failing archive write raises; the file it leaves is the caller's to discard.
    try {
        if (IsRecordMode(scan.nMode)) return WriteRecoveredRecords(in, scan, pszOut);
        return WriteRecoveredBlobs(in, scan, pszOut);
    } catch (const CException&) {
        return Fail(ERROR_WRITE_FAULT);
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}
