// Unbuffered file handles: CreateFileW with FILE_FLAG_NO_BUFFERING. Transfers
// whose buffer, length or position do not fit the volume's sector size (at
// least 512 bytes) go through a sector-aligned bounce block, so the bytes in
// the file are the same whatever the sector size.
#include "platform/RawFile.h"

#include <malloc.h>

#include <atomic>
#include <cstring>

#include "platform/CrashPoint.h"
#include "platform/FaultPoint.h"
#include "platform/LastError.h"
#include "platform/win32/Win32Api.h"

namespace {

struct RawFile {
    w32::HANDLE h;
    DWORD nSector;   // alignment every unbuffered transfer needs
    bool bDirect;
};

RawFile* Get(HANDLE h) {
    if (!h || h == INVALID_HANDLE_VALUE) return nullptr;
    return static_cast<RawFile*>(h);
}

std::atomic<DWORD> g_nSectorOverride{0};

// Only powers of two can be alignments; larger ones than a page are not met by AllocAligned.
bool UsableSector(w32::ULONG n) { return n >= kSectorBytes && n <= kDirectAlignment && (n & (n - 1)) == 0; }

// Bytes per sector of the volume the open handle is on (its logical sectors,
// the unit unbuffered transfers must keep to); where the system cannot say for
// the handle, the sectors of the volume that holds the path; 512 when unknown.
DWORD SectorBytes(w32::HANDLE h, const WCHAR* pszPath) {
    if (const DWORD nOverride = g_nSectorOverride) return nOverride;
    w32::FILE_STORAGE_INFO info;
    if (w32::GetFileInformationByHandleEx(h, w32::kFileStorageInfo, &info, sizeof info) &&
        UsableSector(info.LogicalBytesPerSector))
        return (DWORD)info.LogicalBytesPerSector;
    wchar_t szVolume[1024];
    w32::ULONG nPerCluster, nPerSector = 0, nFree, nTotal;
    if (!w32::GetVolumePathNameW(w32::Wide(pszPath), szVolume, sizeof szVolume / sizeof szVolume[0]) ||
        !w32::GetDiskFreeSpaceW(szVolume, &nPerCluster, &nPerSector, &nFree, &nTotal))
        return kSectorBytes;
    return UsableSector(nPerSector) ? (DWORD)nPerSector : kSectorBytes;
}

bool Position(RawFile* f, long long* pAt) { return w32::SetFilePointerEx(f->h, 0, pAt, FILE_CURRENT) != 0; }

bool Aligned(const RawFile* f, const void* p, DWORD n, long long at) {
    return !f->bDirect || ((uintptr_t)p % f->nSector == 0 && n % f->nSector == 0 && at % f->nSector == 0);
}

BOOL ReadAll(w32::HANDLE h, void* p, w32::ULONG n, w32::ULONG* pnDone) {
    *pnDone = 0;
    while (*pnDone < n) {
        w32::ULONG k = 0;
        if (!w32::ReadFile(h, static_cast<char*>(p) + *pnDone, n - *pnDone, &k, nullptr)) return FALSE;
        if (k == 0) break;
        *pnDone += k;
    }
    return TRUE;
}

BOOL WriteAll(w32::HANDLE h, const void* p, w32::ULONG n, w32::ULONG* pnDone) {
    *pnDone = 0;
    while (*pnDone < n) {
        w32::ULONG k = 0;
        if (!w32::WriteFile(h, static_cast<const char*>(p) + *pnDone, n - *pnDone, &k, nullptr)) return FALSE;
        if (k == 0) break;
        *pnDone += k;
    }
    return TRUE;
}

// The sectors around [at, at + n) in a bounce block: first sector and length.
struct Span {
    long long first;
    size_t nBytes;
};

bool SpanOf(const RawFile* f, long long at, DWORD n, Span* s) {
    s->first = at / f->nSector * f->nSector;
    const unsigned long long end = ((unsigned long long)at + n + f->nSector - 1) / f->nSector * f->nSector;
    s->nBytes = (size_t)(end - (unsigned long long)s->first);
    return (unsigned long long)s->nBytes == end - (unsigned long long)s->first;
}

// Reads the span into the bounce block; bytes past the end of the file read as 0.
bool ReadSpan(RawFile* f, const Span& s, BYTE* pBounce, w32::ULONG* pnGot) {
    if (!w32::SetFilePointerEx(f->h, s.first, nullptr, FILE_BEGIN)) return false;
    if (!ReadAll(f->h, pBounce, (w32::ULONG)s.nBytes, pnGot)) return false;
    std::memset(pBounce + *pnGot, 0, s.nBytes - *pnGot);
    return true;
}

BOOL BounceRead(RawFile* f, long long at, void* pBuf, DWORD nBytes, DWORD* pnRead) {
    Span s;
    if (!SpanOf(f, at, nBytes, &s)) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    BYTE* pBounce = static_cast<BYTE*>(AllocAligned(s.nBytes));
    if (!pBounce) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    w32::ULONG nGot = 0;
    BOOL bOk = ReadSpan(f, s, pBounce, &nGot);
    if (bOk) {
        const long long skip = at - s.first;
        const long long avail = (long long)nGot - skip;
        const DWORD n = avail <= 0 ? 0 : avail < (long long)nBytes ? (DWORD)avail
                                                                   : nBytes;
        std::memcpy(pBuf, pBounce + skip, n);
        if (pnRead) *pnRead = n;
        bOk = w32::SetFilePointerEx(f->h, at + n, nullptr, FILE_BEGIN);
    }
    FreeAligned(pBounce);
    return bOk;
}

// Read, patch and write back the sectors around the transfer, then cut the
// file where the transfer ended if the sectors carried it further.
BOOL BounceWrite(RawFile* f, long long at, const void* pBuf, DWORD nBytes, DWORD* pnWritten) {
    long long nOldSize = 0;
    if (!w32::GetFileSizeEx(f->h, &nOldSize)) return FALSE;
    Span s;
    if (!SpanOf(f, at, nBytes, &s)) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    BYTE* pBounce = static_cast<BYTE*>(AllocAligned(s.nBytes));
    if (!pBounce) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    w32::ULONG nGot = 0, nPut = 0;
    BOOL bOk = s.first >= nOldSize ? w32::SetFilePointerEx(f->h, s.first, nullptr, FILE_BEGIN) != 0
                                   : ReadSpan(f, s, pBounce, &nGot);
    if (bOk) {
        std::memcpy(pBounce + (at - s.first), pBuf, nBytes);
        bOk = w32::SetFilePointerEx(f->h, s.first, nullptr, FILE_BEGIN) &&
              WriteAll(f->h, pBounce, (w32::ULONG)s.nBytes, &nPut) && nPut == s.nBytes;
    }
    const long long end = at + nBytes;
    if (bOk && s.first + (long long)s.nBytes > (end > nOldSize ? end : nOldSize)) {
        bOk = w32::SetFilePointerEx(f->h, end > nOldSize ? end : nOldSize, nullptr, FILE_BEGIN) &&
              w32::SetEndOfFile(f->h);
    }
    if (bOk) bOk = w32::SetFilePointerEx(f->h, end, nullptr, FILE_BEGIN);
    FreeAligned(pBounce);
    if (bOk && pnWritten) *pnWritten = nBytes;
    return bOk;
}

}   // namespace

HANDLE CreateFileW(const WCHAR* pszPath, DWORD dwAccess, DWORD dwShare, void* pSecurity, DWORD dwDisposition,
                   DWORD dwFlags, HANDLE hTemplate) {
    if (!pszPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    w32::HANDLE h = w32::CreateFileW(w32::Wide(pszPath), dwAccess, dwShare, pSecurity, dwDisposition, dwFlags,
                                     hTemplate);
    if (h == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    const bool bDirect = (dwFlags & FILE_FLAG_NO_BUFFERING) != 0;
    const DWORD dwError = GetLastError();   // CreateFileW's (ERROR_ALREADY_EXISTS for OPEN_ALWAYS)
    RawFile* f = new RawFile{h, bDirect ? SectorBytes(h, pszPath) : kSectorBytes, bDirect};
    SetLastError(dwError);
    return f;
}

BOOL ReadFile(HANDLE h, void* pBuf, DWORD nBytes, DWORD* pnRead, void*) {
    RawFile* f = Get(h);
    if (pnRead) *pnRead = 0;
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (FaultPointFails(kFaultRead)) return FALSE;
    long long at = 0;
    if (!Position(f, &at)) return FALSE;
    if (!Aligned(f, pBuf, nBytes, at)) return BounceRead(f, at, pBuf, nBytes, pnRead);
    w32::ULONG n = 0;
    const BOOL bOk = ReadAll(f->h, pBuf, nBytes, &n);
    if (pnRead) *pnRead = n;
    return bOk;
}

BOOL WriteFile(HANDLE h, const void* pBuf, DWORD nBytes, DWORD* pnWritten, void*) {
    RawFile* f = Get(h);
    if (pnWritten) *pnWritten = 0;
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (FaultPointFails(kFaultWrite)) return FALSE;
    long long at = 0;
    if (!Position(f, &at)) return FALSE;
    const DWORD nPass = CrashGate(nBytes);
    if (nPass < nBytes) {
        // The crash point: what lies within it reaches the file, the writer believes the rest did.
        if (nPass > 0) {
            w32::ULONG nDone = 0;
            DWORD nBounced = 0;
            if (Aligned(f, pBuf, nPass, at)) WriteAll(f->h, pBuf, nPass, &nDone);
            else BounceWrite(f, at, pBuf, nPass, &nBounced);
        }
        if (!w32::SetFilePointerEx(f->h, at + nBytes, nullptr, FILE_BEGIN)) return FALSE;
        if (pnWritten) *pnWritten = nBytes;
        return TRUE;
    }
    if (!Aligned(f, pBuf, nBytes, at)) return BounceWrite(f, at, pBuf, nBytes, pnWritten);
    w32::ULONG n = 0;
    const BOOL bOk = WriteAll(f->h, pBuf, nBytes, &n);
    if (pnWritten) *pnWritten = n;
    return bOk;
}

DWORD SetFilePointer(HANDLE h, LONG lDistance, LONG* plDistanceHigh, DWORD dwMethod) {
    RawFile* f = Get(h);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    if (FaultPointFails(kFaultSeek)) return INVALID_SET_FILE_POINTER;
    const long long dist = plDistanceHigh ? (long long)(((ULONGLONG)(DWORD)*plDistanceHigh << 32) | (DWORD)lDistance)
                                          : (long long)lDistance;
    long long to = 0;
    if (!w32::SetFilePointerEx(f->h, dist, &to, dwMethod)) return INVALID_SET_FILE_POINTER;
    if (plDistanceHigh) *plDistanceHigh = (LONG)((ULONGLONG)to >> 32);
    // A low half of all ones is a position, not a failure, when the last error is 0.
    SetLastError(ERROR_SUCCESS);
    return (DWORD)to;
}

BOOL SetEndOfFile(HANDLE h) {
    RawFile* f = Get(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (FaultPointFails(kFaultSetEnd)) return FALSE;
    if (Crashed()) return TRUE;
    return w32::SetEndOfFile(f->h);
}

BOOL CloseHandle(HANDLE h) {
    RawFile* f = Get(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    const BOOL bFaulted = FaultPointFails(kFaultClose);
    const BOOL bOk = w32::CloseHandle(f->h);
    delete f;
    return bOk && !bFaulted;
}

BOOL IsDirectIo(HANDLE h) {
    RawFile* f = Get(h);
    return f && f->bDirect;
}

DWORD SectorSizeOf(HANDLE h) {
    RawFile* f = Get(h);
    return f ? f->nSector : kSectorBytes;
}

void SetSectorSizeOverride(DWORD nBytes) { g_nSectorOverride = nBytes; }

void* AllocAligned(size_t nBytes) {
    size_t n = (nBytes + kDirectAlignment - 1) / kDirectAlignment * kDirectAlignment;
    if (n < nBytes) return nullptr;
    if (n == 0) n = kDirectAlignment;
    void* p = _aligned_malloc(n, kDirectAlignment);
    if (p) std::memset(p, 0, n);
    return p;
}

void FreeAligned(void* p) { _aligned_free(p); }

// Large pages on Windows need a privilege hosts do not have: ordinary pages.
void* AllocFrameBlock(size_t nBytes) { return AllocAligned(nBytes); }
