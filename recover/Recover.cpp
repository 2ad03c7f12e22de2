// Rebuilding files whose writer stopped before close: the scan of the whole
// frames they hold, and the finished file written from those frames by the
// frame writer itself (AppendEncodedFrame, then Close), one frame at a time.
#include "recover/Recover.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "codec/JpeEngine.h"
#include "container/BlobFile.h"
#include "container/Limits.h"
#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "platform/Archive.h"
#include "platform/ByteOrder.h"
#include "platform/ByteReader.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"

using namespace rvo;

namespace {

constexpr ULONGLONG kMaxIndexOffset = 0xFFFFFFFFull;   // blob and index offsets are 32-bit

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
    CByteReader r(pBlock + kOffSizeRecordMagic, kHeaderBlockBytes - kOffSizeRecordMagic);
    const DWORD dwMagic = r.ReadU32LE();
    const LONG cx = r.ReadS32LE(), cy = r.ReadS32LE();
    const DWORD dwRecordBytes = r.ReadU32LE();
    static_assert(kOffSizeRecordBytes + 4 - kOffSizeRecordMagic == 16, "the record is read in its order");
    if (!r.Ok() || dwMagic != kFrameSizeRecordMagic) return false;
    if (cx <= 0 || cy <= 0 || !FrameSizeAllowed(cx, cy)) return false;
    if (dwRecordBytes != RecordBytesFor(nMode, (ULONGLONG)cx * (ULONGLONG)cy)) return false;
    *pSize = SIZE{cx, cy};
    return true;
}

void AddFrame(RvoUnfinished& s, ULONGLONG nAt, ULONGLONG nBytes, BOOL bDamaged) {
    s.frames.push_back(RvoFrameSpan{nAt, nBytes, bDamaged});
    (bDamaged ? s.nDamaged : s.nFrames)++;
}

// Whether the blob at nAt counts: whole in its file form, ending within a
// 32-bit offset, and decoding. 1 it counts (its end and size given), 0 it does
// not, -1 memory ran out (last error set).
int BlobAt(CFile& f, ULONGLONG nAt, CJpeEngine& engine, ULONGLONG* pnEnd, LONG* pw, LONG* ph) {
    if (f.Seek((LONGLONG)nAt, CFile::begin) != nAt) return 0;
    HGLOBAL hBlob = nullptr;
    SetLastError(ERROR_SUCCESS);
    if (!ReadBlobFromFile(&f, &hBlob)) {
        // Memory running out says nothing about the file; a count short of it would be a lie.
        if (GetLastError() == ERROR_NOT_ENOUGH_MEMORY) return -1;
        return 0;
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
    if (bWhole) GetBlobDimensions(hBlob, pw, ph);
    CJpeEngine::FreeBlob(hBlob);
    if (!bWhole && dwError == ERROR_OUTOFMEMORY) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
    *pnEnd = nEnd;
    return bWhole ? 1 : 0;
}

// The next blob marker at or after nFrom, read in bounded chunks; FALSE when none.
bool FindBlobMarker(CFile& f, ULONGLONG nFrom, ULONGLONG nFileBytes, std::vector<BYTE>& chunk, ULONGLONG* pnAt) {
    BYTE marker[4];
    StoreLe32(marker, kBlobFileMarker);
    for (ULONGLONG nAt = nFrom; nAt < nFileBytes && nFileBytes - nAt >= kBlobFileHeaderBytes;) {
        const UINT n = (UINT)std::min<ULONGLONG>(chunk.size(), nFileBytes - nAt);
        if (f.Seek((LONGLONG)nAt, CFile::begin) != nAt || f.Read(chunk.data(), n) != n) return false;
        const BYTE* pEnd = chunk.data() + n;
        const BYTE* pBegin = chunk.data();
        const BYTE* pHit = std::search(pBegin, pEnd, marker, marker + 4);
        if (pHit != pEnd) {
            *pnAt = nAt + (ULONGLONG)(pHit - chunk.data());
            return true;
        }
        if (n < 4) return false;
        nAt += n - 3;   // a marker may straddle two chunks
    }
    return false;
}

// Whether an index record begins at nAt: its first words (reserved 0, the kind
// of a frame or a still image) and the archive string marker of its name.
bool IndexEntryAt(CFile& f, ULONGLONG nAt, ULONGLONG nFileBytes) {
    BYTE p[8 + sizeof kArchiveUnicodeMarker];
    if (nAt > nFileBytes || nFileBytes - nAt < sizeof p) return false;
    if (f.Seek((LONGLONG)nAt, CFile::begin) != nAt || !ReadExact(f, p, sizeof p)) return false;
    CByteReader r(p, sizeof p);
    const DWORD dwReserved = r.ReadU32LE(), dwKind = r.ReadU32LE();
    BYTE marker[sizeof kArchiveUnicodeMarker];
    r.ReadBytes(marker, sizeof marker);
    return r.Ok() && dwReserved == 0 && (dwKind == kKindFrame || dwKind == kKindStillImage) &&
           std::memcmp(marker, kArchiveUnicodeMarker, sizeof marker) == 0;
}

// Modes 1-3: blobs from offset 160; after one that does not count, the walk
// goes on at the next marker whose blob counts.
BOOL WalkBlobs(CFile& f, RvoUnfinished& s) {
    s.bSizeKnown = s.bCounted = TRUE;
    ULONGLONG nPos = kHeaderBytes;
    CJpeEngine engine;
    std::vector<BYTE> chunk(64 * 1024);
    while (s.frames.size() < kMaxEntries) {
        ULONGLONG nEnd = 0;
        LONG w = -1, h = -1;
        int r = BlobAt(f, nPos, engine, &nEnd, &w, &h);
        if (r < 0) return FALSE;
        if (r > 0) {
            s.nWidth = std::max(s.nWidth, w);
            s.nHeight = std::max(s.nHeight, h);
            AddFrame(s, nPos, nEnd - nPos, FALSE);
            nPos = nEnd;
            continue;
        }
        // The index a writer killed while closing began to write follows the last
        // blob; the copies of the blobs in it are no frames.
        if (IndexEntryAt(f, nPos, s.nFileBytes)) break;
        // Damage: the next blob that counts, searched marker by marker.
        ULONGLONG nNext = nPos + 1, nHit = 0;
        bool bFound = false;
        while (FindBlobMarker(f, nNext, s.nFileBytes, chunk, &nHit)) {
            r = BlobAt(f, nHit, engine, &nEnd, &w, &h);
            if (r < 0) return FALSE;
            if (r > 0) {
                bFound = true;
                break;
            }
            nNext = nHit + 1;
        }
        if (!bFound) break;   // what follows the last blob that counts is a partial last frame
        // The damaged region: as many blobs as their headers place in it, at least one.
        for (ULONGLONG p = nPos; p < nHit && s.frames.size() < kMaxEntries;) {
            ULONGLONG n = nHit - p;
            BYTE head[kBlobFileHeaderBytes];
            JpegBlobHeader h;
            if (n >= kBlobFileHeaderBytes && f.Seek((LONGLONG)p, CFile::begin) == p &&
                ReadExact(f, head, kBlobFileHeaderBytes) && HasBlobFileMarker(head) &&
                ReadJpegBlobHeader(head, sizeof head, &h)) {
                const ULONGLONG nForm = kBlobFileHeaderBytes + h.DataBytes();
                if (nForm <= n) n = nForm;
            }
            AddFrame(s, p, n, TRUE);
            p += n;
        }
        nPos = nHit;
    }
    s.nFramesEnd = nPos;
    return TRUE;
}

// Whether the packed record at nAt passes the reader's record check whole (read into p).
bool PackedRecordAt(CFile& f, const RvoUnfinished& s, ULONGLONG nAt, DWORD nPixels, DWORD nMax, BYTE* p,
                    DWORD* pnBytes) {
    if (nAt > s.nFileBytes || s.nFileBytes - nAt < kRecordUnitBytes) return false;
    if (f.Seek((LONGLONG)nAt, CFile::begin) != nAt || !ReadExact(f, p, kRecordUnitBytes)) return false;
    const PackedRecordHeader h = ReadPackedRecordHeader(p);
    if (!CheckPackedRecordHeader(h, nPixels, nMax)) return false;
    if (h.recordBytes > s.nFileBytes - nAt) return false;
    if (!ReadExact(f, p + kRecordUnitBytes, h.recordBytes - kRecordUnitBytes)) return false;
    if (!CheckPackedRecord(p, nPixels, nMax)) return false;
    *pnBytes = h.recordBytes;
    return true;
}

// Mode 5: records from offset 512 that the reader's record check accepts whole;
// after one it does not, the walk goes on at the next 512-byte boundary where
// a record passes.
BOOL WalkPackedRecords(CFile& f, RvoUnfinished& s) {
    s.bCounted = TRUE;   // without a first record whose pixel count is usable, no frame is whole
    ULONGLONG nPos = kHeaderBlockBytes;
    s.nFramesEnd = nPos;
    BYTE head[kRecordUnitBytes];
    ULONGLONG nPixels = (ULONGLONG)std::max<LONG>(s.nWidth, 0) * (ULONGLONG)std::max<LONG>(s.nHeight, 0);
    if (!s.bSizeKnown) {
        // Without a size, the first record's pixel count stands for every frame's.
        if (f.Seek((LONGLONG)nPos, CFile::begin) != nPos) return Fail(ERROR_READ_FAULT);
        if (s.nFileBytes - nPos < kRecordUnitBytes || !ReadExact(f, head, kRecordUnitBytes)) return TRUE;
        nPixels = ReadPackedRecordHeader(head).pixelCount;
        if (nPixels == 0 || nPixels > kMaxFramePixels) return TRUE;
    }
    const ULONGLONG nMax = MaxPackedRecordBytes(nPixels);
    AlignedBuffer pRecord(static_cast<BYTE*>(AllocAligned((size_t)nMax)));
    if (!pRecord) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    BYTE* p = pRecord.get();
    while (s.frames.size() < kMaxEntries) {
        DWORD n = 0;
        if (PackedRecordAt(f, s, nPos, (DWORD)nPixels, (DWORD)nMax, p, &n)) {
            AddFrame(s, nPos, n, FALSE);
            nPos += n;
            continue;
        }
        // Damage: one header read at each boundary, the whole record only when its header passes.
        ULONGLONG nNext = nPos + kRecordUnitBytes;
        bool bFound = false;
        for (; nNext <= s.nFileBytes && s.nFileBytes - nNext >= kRecordUnitBytes; nNext += kRecordUnitBytes) {
            if (PackedRecordAt(f, s, nNext, (DWORD)nPixels, (DWORD)nMax, p, &n)) {
                bFound = true;
                break;
            }
        }
        if (!bFound) break;   // what follows the last record that passes is a partial last frame
        // The damaged region: as many records as their lengths place in it, at least one.
        for (ULONGLONG at = nPos; at < nNext && s.frames.size() < kMaxEntries;) {
            ULONGLONG nLen = nNext - at;
            if (f.Seek((LONGLONG)at, CFile::begin) == at && ReadExact(f, head, kRecordUnitBytes)) {
                const DWORD r = ReadPackedRecordHeader(head).recordBytes;
                if (r >= kRecordUnitBytes && r % kRecordUnitBytes == 0 && r <= nMax && r <= nLen) nLen = r;
            }
            AddFrame(s, at, nLen, TRUE);
            at += nLen;
        }
        nPos = nNext;
    }
    s.nFramesEnd = nPos;
    return TRUE;
}

// The frames the output holds, in order: each the input span it is written
// from, or none (null) for a transparent frame.
std::vector<const RvoFrameSpan*> OutputFrames(const RvoUnfinished& s, RecoverDamaged eDamaged, bool bTransparent) {
    std::vector<const RvoFrameSpan*> v;
    const RvoFrameSpan* pPrev = nullptr;
    for (const RvoFrameSpan& span : s.frames) {
        if (!span.bDamaged) {
            pPrev = &span;
            v.push_back(pPrev);
        } else if (eDamaged == kReplaceDamaged && (pPrev || bTransparent)) {
            v.push_back(pPrev);
        }
    }
    return v;
}

// A transparent blob of the scan's size (free it with FreeBlob), or null.
HGLOBAL TransparentBlob(const RvoUnfinished& s) {
    std::vector<DWORD> pixels((size_t)s.nWidth * (size_t)s.nHeight, 0);
    CJpeEngine engine;
    const SIZE size{s.nWidth, s.nHeight};
    return engine.Compress(&size, pixels.data(), s.nWidth);
}

// Mode 3: the frame writer on the output, given each blob read from its span
// (or a transparent one) and closed as the frame writer's file closes: the
// index records with their second copies, then the final header.
BOOL WriteRecoveredBlobs(CFile& in, const RvoUnfinished& s, const WCHAR* pszOut, RecoverDamaged eDamaged) {
    if (s.nMode != JpegBlobs) return Fail(ERROR_NOT_SUPPORTED);
    const std::vector<const RvoFrameSpan*> frames = OutputFrames(s, eDamaged, s.nWidth > 0 && s.nHeight > 0);
    CRvoFile out;
    if (!out.Create(pszOut, JpegBlobs)) return Fail(GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED);
    for (const RvoFrameSpan* pSpan : frames) {
        RvoEncodedFrame frame;
        if (pSpan) {
            if (in.Seek((LONGLONG)pSpan->nAt, CFile::begin) != pSpan->nAt || !ReadBlobFromFile(&in, &frame.hBlob))
                return Fail(ERROR_INVALID_DATA);
        } else if (!(frame.hBlob = TransparentBlob(s))) {
            return Fail(ERROR_NOT_ENOUGH_MEMORY);
        }
        if (!out.AppendEncodedFrame(frame)) return FALSE;
    }
    return out.Close(TRUE);
}

// Modes 4 and 5: the frame writer on the output, given the records as they
// stand (a damaged one's place taken by the previous record again, or a
// transparent record) and closed as the frame writer's file closes.
BOOL WriteRecoveredRecords(CFile& in, const RvoUnfinished& s, const WCHAR* pszOut, RecoverDamaged eDamaged) {
    const std::vector<const RvoFrameSpan*> frames = OutputFrames(s, eDamaged, true);
    CRvoFile out;
    const SIZE size{s.nWidth, s.nHeight};
    if (!out.Create(pszOut, s.nMode, &size)) return Fail(GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED);
    const ULONGLONG nPixels = (ULONGLONG)s.nWidth * (ULONGLONG)s.nHeight;
    const DWORD nMax = out.FrameBytes();
    if (nMax != RecordBytesFor(s.nMode, nPixels)) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    // The records go to the unbuffered handle: their buffer is aligned as the writer's own.
    AlignedBuffer pRecord(static_cast<BYTE*>(AllocAligned(nMax)));
    if (!pRecord) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    BYTE* p = pRecord.get();
    for (const RvoFrameSpan* pSpan : frames) {
        DWORD nBytes = nMax;
        if (!pSpan) {
            // A transparent frame: zero pixels, in a packed file as a PackedRaw record.
            std::memset(p, 0, nBytes);
            if (s.nMode == PackedFrames) {
                nBytes = (DWORD)RoundUp512_64(PackedRawContentBytes(nPixels));
                StoreLe32(p + kOffPackedTag, PackedRaw);
                StoreLe32(p + kOffPackedRecordBytes, nBytes);
                StoreLe32(p + kOffPackedPixelCount, (DWORD)nPixels);
                if (!CheckPackedRecord(p, (DWORD)nPixels, nMax)) return Fail(ERROR_INVALID_DATA);
            }
        } else if (s.nMode == PackedFrames) {
            if (in.Seek((LONGLONG)pSpan->nAt, CFile::begin) != pSpan->nAt || !ReadExact(in, p, kRecordUnitBytes))
                return Fail(ERROR_INVALID_DATA);
            const PackedRecordHeader h = ReadPackedRecordHeader(p);
            if (!CheckPackedRecordHeader(h, (DWORD)nPixels, nMax)) return Fail(ERROR_INVALID_DATA);
            nBytes = h.recordBytes;
            if (!ReadExact(in, p + kRecordUnitBytes, nBytes - kRecordUnitBytes)) return Fail(ERROR_INVALID_DATA);
        } else if (in.Seek((LONGLONG)pSpan->nAt, CFile::begin) != pSpan->nAt || !ReadExact(in, p, nBytes)) {
            return Fail(ERROR_INVALID_DATA);
        }
        RvoEncodedFrame frame;
        frame.pRecord = p;
        frame.nRecordBytes = nBytes;
        if (!out.AppendEncodedFrame(frame)) return FALSE;
    }
    return out.Close(TRUE);
}

}   // namespace

BOOL ScanUnfinished(const WCHAR* pszPath, const SIZE* pSize, RvoUnfinished* pScan) {
    if (!pszPath || !pScan) return Fail(ERROR_INVALID_PARAMETER);
    RvoUnfinished s;
    CFile f;
    if (!f.Open(pszPath, CFile::modeRead | CFile::shareDenyWrite, nullptr)) {
        const DWORD dwError = GetLastError();   // a writer holding the file is not a missing file
        return Fail(dwError != ERROR_SUCCESS ? dwError : ERROR_FILE_NOT_FOUND);
    }
    s.nFileBytes = f.GetLength();
    BYTE block[kHeaderBlockBytes] = {};
    SetLastError(ERROR_SUCCESS);
    const UINT nHead = f.Read(block, kHeaderBlockBytes);
    // A header the system failed to read says nothing about the file: the error is kept.
    if (nHead < kHeaderBytes && IsIoFailure(GetLastError())) return FALSE;
    if (nHead < kHeaderBytes || std::memcmp(block, kMagic, sizeof kMagic) != 0) return Fail(ERROR_BAD_FORMAT);
    CRvoHeader header;
    header.LoadHeader(block);
    s.nMode = header.m_nMode;
    const DWORD nEntries = (DWORD)header.m_nEntryCount, nFrameCount = (DWORD)header.m_nFrameCount;
    const DWORD dwIndexOffset = header.m_dwIndexOffset;

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
            // Raw records carry no check: every whole one counts.
            const DWORD n = (DWORD)std::min<ULONGLONG>((s.nFileBytes - kHeaderBlockBytes) / nRecord, kMaxEntries);
            for (DWORD i = 0; i < n; i++) AddFrame(s, kHeaderBlockBytes + i * nRecord, nRecord, FALSE);
            s.nFramesEnd = kHeaderBlockBytes + (ULONGLONG)n * nRecord;
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

BOOL WriteRecovered(const WCHAR* pszIn, const RvoUnfinished& scan, const WCHAR* pszOut, RecoverDamaged eDamaged) {
    if (!pszIn || !pszOut || !scan.bUnfinished || !scan.bSizeKnown || !scan.bCounted)
        return Fail(ERROR_INVALID_PARAMETER);
    CFile in;
    if (!in.Open(pszIn, CFile::modeRead | CFile::shareDenyWrite, nullptr)) return Fail(ERROR_FILE_NOT_FOUND);
    // The input must still hold what the scan found.
    if (in.GetLength() < scan.nFramesEnd) return Fail(ERROR_INVALID_DATA);
    // A failing archive write raises; the file it leaves is the caller's to discard.
    try {
        if (IsRecordMode(scan.nMode)) return WriteRecoveredRecords(in, scan, pszOut, eDamaged);
        return WriteRecoveredBlobs(in, scan, pszOut, eDamaged);
    } catch (const CException&) {
        return Fail(ERROR_WRITE_FAULT);
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}
