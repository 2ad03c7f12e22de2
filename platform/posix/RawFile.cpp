// File handles over POSIX descriptors: unbuffered ones over O_DIRECT, falling
// back to buffered transfers with the same bytes where the file system or the
// transfer does not allow it; share modes as open-file-description locks.
// A path registered as a byte source (platform/ByteSource.h) opens a reading
// handle over the source instead, without a descriptor.
#include "platform/RawFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ByteSource.h"
#include "platform/CString.h"
#include "platform/CrashPoint.h"
#include "platform/FaultPoint.h"
#include "platform/LastError.h"

namespace {

struct RawFile {
    int fd;
    bool bDirect;    // O_DIRECT currently set on fd
    off_t pos;       // the handle's file pointer
    DWORD nSector;   // alignment of direct transfers
    std::shared_ptr<CByteSource> pSource;   // set instead of fd for a registered byte source
};

std::atomic<DWORD> g_nSectorOverride{0};

DWORD ErrnoToWin32(int e) {
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOSPC: return ERROR_DISK_FULL;
    case EIO: return ERROR_CRC;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_FUNCTION;
    }
}

RawFile* Get(HANDLE h) {
    if (!h || h == INVALID_HANDLE_VALUE) return nullptr;
    return static_cast<RawFile*>(h);
}

bool Aligned(const RawFile* f, const void* p, DWORD n, off_t pos) {
    return ((uintptr_t)p % f->nSector) == 0 && (n % f->nSector) == 0 && (pos % f->nSector) == 0;
}

// Leaves direct I/O for good on this handle: the file system or device refused it.
void DropDirect(RawFile* f) {
    int fl = fcntl(f->fd, F_GETFL);
    if (fl >= 0) fcntl(f->fd, F_SETFL, fl & ~O_DIRECT);
    f->bDirect = false;
}

// One pread or pwrite loop; direct transfers that the kernel refuses with EINVAL
// are repeated buffered.
template <typename Op>
BOOL Transfer(RawFile* f, char* p, DWORD nBytes, DWORD* pnDone, Op op) {
    DWORD done = 0;
    while (done < nBytes) {
        bool bWasDirect = f->bDirect;
        if (bWasDirect && !Aligned(f, p + done, nBytes - done, f->pos)) DropDirect(f);
        ssize_t n = op(f->fd, p + done, nBytes - done, f->pos);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EINVAL && f->bDirect) {
            DropDirect(f);
            continue;
        }
        if (n < 0) {
            if (pnDone) *pnDone = done;
            SetLastError(ErrnoToWin32(errno));
            return FALSE;
        }
        if (n == 0) break;
        done += (DWORD)n;
        f->pos += n;
        // A short direct transfer leaves an unaligned remainder: finish it buffered.
    }
    if (pnDone) *pnDone = done;
    return TRUE;
}

// Share modes as open-file-description locks over the whole file, which keep
// handles apart within a process as well as between processes: a shared lock
// for a handle that lets others read, an exclusive one for a handle that lets
// nobody in, none for a handle that lets others write. Linux grants a shared
// lock only on a descriptor open for reading and an exclusive one only on a
// descriptor open for writing, so a write-only handle that would let others
// read keeps them out too, and a read-only handle that would keep everyone out
// still lets readers in (writers stay out). ERROR_SUCCESS, or why the handle
// may not be had.
DWORD TakeShareLock(int fd, DWORD dwShare, bool bRead, bool bWrite) {
    if (dwShare & FILE_SHARE_WRITE) return ERROR_SUCCESS;
    short type = (dwShare & FILE_SHARE_READ) ? F_RDLCK : F_WRLCK;
    if (type == F_RDLCK && !bRead) type = F_WRLCK;
    if (type == F_WRLCK && !bWrite) type = F_RDLCK;
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;   // start 0, length 0: the whole file, however far it grows
    while (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EACCES) return ERROR_SHARING_VIOLATION;
        // A file system (or kernel) that keeps no such locks: the file opens as it always did.
        if (errno == ENOLCK || errno == EINVAL || errno == EOPNOTSUPP) return ERROR_SUCCESS;
        return ErrnoToWin32(errno);
    }
    return ERROR_SUCCESS;
}

}   // namespace

HANDLE CreateFileW(const WCHAR* pszPath, DWORD dwAccess, DWORD dwShare, void*, DWORD dwDisposition,
                   DWORD dwFlags, HANDLE) {
    if (!pszPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC;
    bool r = dwAccess & GENERIC_READ, w = dwAccess & GENERIC_WRITE;
    flags |= (r && w) ? O_RDWR : w ? O_WRONLY
                                   : O_RDONLY;
    // Never O_TRUNC: the file is emptied only after the share mode has admitted the handle.
    switch (dwDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    default: break;
    }
    std::string path = ToUtf8(pszPath);
    if (std::shared_ptr<CByteSource> pSource = FindByteSource(path)) {
        if (w) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        return new RawFile{-1, false, 0, kSectorBytes, std::move(pSource)};
    }
    bool bWantDirect = (dwFlags & FILE_FLAG_NO_BUFFERING) != 0;
    int fd = -1;
    bool bDirect = false;
    if (bWantDirect) {
        fd = ::open(path.c_str(), flags | O_DIRECT, 0644);
        bDirect = fd >= 0;
    }
    if (fd < 0) fd = ::open(path.c_str(), flags, 0644);   // tmpfs refuses O_DIRECT at open
    if (fd < 0) {
        SetLastError(ErrnoToWin32(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    DWORD dwError = TakeShareLock(fd, dwShare, r || !w, w);
    if (dwError == ERROR_SUCCESS && dwDisposition == CREATE_ALWAYS && ftruncate(fd, 0) != 0)
        dwError = ErrnoToWin32(errno);
    if (dwError != ERROR_SUCCESS) {
        ::close(fd);
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD nOverride = g_nSectorOverride;
    RawFile* f = new RawFile{fd, bDirect, 0, nOverride ? nOverride : kSectorBytes, nullptr};
    return f;
}

BOOL ReadFile(HANDLE h, void* pBuf, DWORD nBytes, DWORD* pnRead, void*) {
    RawFile* f = Get(h);
    if (pnRead) *pnRead = 0;
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (FaultPointFails(kFaultRead)) return FALSE;
    if (f->pSource) {
        DWORD nRead = 0;
        if (!f->pSource->ReadAt((ULONGLONG)f->pos, pBuf, nBytes, &nRead)) return FALSE;
        f->pos += nRead;
        if (pnRead) *pnRead = nRead;
        return TRUE;
    }
    return Transfer(f, static_cast<char*>(pBuf), nBytes, pnRead,
                    [](int fd, char* p, size_t n, off_t at) { return ::pread(fd, p, n, at); });
}

BOOL WriteFile(HANDLE h, const void* pBuf, DWORD nBytes, DWORD* pnWritten, void*) {
    RawFile* f = Get(h);
    if (pnWritten) *pnWritten = 0;
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (FaultPointFails(kFaultWrite)) return FALSE;
    if (f->pSource) return Fail(ERROR_ACCESS_DENIED);
    const DWORD nPass = CrashGate(nBytes);
    if (nPass < nBytes) {
        // The crash point: what lies within it reaches the file, the writer believes the rest did.
        DWORD nDone = 0;
        if (nPass > 0) Transfer(f, const_cast<char*>(static_cast<const char*>(pBuf)), nPass, &nDone,
                                [](int fd, char* p, size_t n, off_t at) { return ::pwrite(fd, p, n, at); });
        f->pos += nBytes - nDone;
        if (pnWritten) *pnWritten = nBytes;
        return TRUE;
    }
    return Transfer(f, const_cast<char*>(static_cast<const char*>(pBuf)), nBytes, pnWritten,
                    [](int fd, char* p, size_t n, off_t at) { return ::pwrite(fd, p, n, at); });
}

DWORD SetFilePointer(HANDLE h, LONG lDistance, LONG* plDistanceHigh, DWORD dwMethod) {
    RawFile* f = Get(h);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    if (FaultPointFails(kFaultSeek)) return INVALID_SET_FILE_POINTER;
    LONGLONG dist = plDistanceHigh ? (LONGLONG)(((ULONGLONG)(DWORD)*plDistanceHigh << 32) | (DWORD)lDistance)
                                   : (LONGLONG)lDistance;
    LONGLONG base = 0;
    if (dwMethod == FILE_CURRENT) {
        base = f->pos;
    } else if (dwMethod == FILE_END && f->pSource) {
        base = (LONGLONG)f->pSource->Size();
    } else if (dwMethod == FILE_END) {
        struct stat st;
        if (fstat(f->fd, &st) != 0) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return INVALID_SET_FILE_POINTER;
        }
        base = st.st_size;
    }
    LONGLONG to;
    if (__builtin_add_overflow(base, dist, &to) || to < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    f->pos = (off_t)to;
    if (plDistanceHigh) *plDistanceHigh = (LONG)((ULONGLONG)to >> 32);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)to;
}

BOOL SetEndOfFile(HANDLE h) {
    RawFile* f = Get(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (FaultPointFails(kFaultSetEnd)) return FALSE;
    if (f->pSource) return Fail(ERROR_ACCESS_DENIED);
    if (Crashed()) return TRUE;
    if (ftruncate(f->fd, f->pos) != 0) return Fail(ErrnoToWin32(errno));
    return TRUE;
}

BOOL CloseHandle(HANDLE h) {
    RawFile* f = Get(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    // The descriptor is released whatever close says; a failed close can mean
    // written data never reached the disk (NFS reports write errors there).
    const bool bFaulted = FaultPointFails(kFaultClose);
    const DWORD dwFault = GetLastError();
    const int rc = f->fd >= 0 ? ::close(f->fd) : 0;   // a byte source has no descriptor
    const int e = errno;
    delete f;
    if (bFaulted) return Fail(dwFault);
    if (rc != 0 && e != EINTR) return Fail(ErrnoToWin32(e));
    return TRUE;
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
    void* p = nullptr;
    if (posix_memalign(&p, kDirectAlignment, n ? n : kDirectAlignment) != 0) return nullptr;
    std::memset(p, 0, n ? n : kDirectAlignment);
    return p;
}

void* AllocFrameBlock(size_t nBytes) {
    constexpr size_t kHugePage = 2u << 20;
    if (nBytes < kHugePage) return AllocAligned(nBytes);
    const size_t n = (nBytes + kHugePage - 1) / kHugePage * kHugePage;
    if (n < nBytes) return nullptr;
    void* p = nullptr;
    if (posix_memalign(&p, kHugePage, n) != 0) return nullptr;
    // Only advice: where the kernel has no huge pages to give, ordinary pages serve.
    madvise(p, n, MADV_HUGEPAGE);
    std::memset(p, 0, n);
    return p;
}

void FreeAligned(void* p) { std::free(p); }
