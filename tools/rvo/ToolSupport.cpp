// Failure reporting and file opening shared by the rvo subcommands.
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/System.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "container/PackedRecord.h"
#include "container/RvoFormat.h"
#include "platform/ByteOrder.h"
#include "platform/ByteSource.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "tools/rvo/VerifyFile.h"

void FailFile(const std::string& path, const std::string& problem, DWORD dwError) {
    throw ToolFailure(path + ": " + problem, dwError);
}

namespace {

// Module error codes and the C library's errno for the same failure.
struct ErrnoPair {
    DWORD dwError;
    int nErrno;
};
constexpr ErrnoPair kErrnoPairs[] = {{ERROR_CRC, EIO},           {ERROR_READ_FAULT, EIO},      {ERROR_WRITE_FAULT, EIO},
                                     {ERROR_DISK_FULL, ENOSPC},  {ERROR_ACCESS_DENIED, EACCES}, {ERROR_FILE_NOT_FOUND, ENOENT},
                                     {ERROR_PATH_NOT_FOUND, ENOENT}, {ERROR_FILE_TOO_LARGE, EFBIG}};

}   // namespace

bool IsDamage(DWORD dwError) {
    switch (dwError) {
    case ERROR_BAD_FORMAT:
    case ERROR_INVALID_DATA:
    case ERROR_HANDLE_EOF:
    case ERROR_FILE_CORRUPT:
    case ERROR_INVALID_HANDLE: return true;
    default: return false;
    }
}

DWORD DamageCode(DWORD dwError) { return IsDamage(dwError) ? dwError : (DWORD)ERROR_INVALID_DATA; }

int ErrnoOf(DWORD dwError) {
    for (const ErrnoPair& p : kErrnoPairs)
        if (p.dwError == dwError) return p.nErrno;
    return 0;
}

DWORD ErrorOfErrno(int nErrno) {
    for (const ErrnoPair& p : kErrnoPairs)
        if (p.nErrno == nErrno) return p.dwError;
    return 0;
}

std::string SystemErrorText(DWORD dwError) {
    const int e = ErrnoOf(dwError);
    return e ? std::string(std::strerror(e)) : DescribeLastError(dwError);
}

void FailRead(const std::string& path, DWORD dwError) {
    FailFile(path, "cannot be read (read error (" + SystemErrorText(dwError) + "))", dwError);
}

std::string DescribeFrameFailure(long long k, DWORD dwError) {
    if (IsIoFailure(dwError)) return "frame " + std::to_string(k) + ": read error (" + SystemErrorText(dwError) + ")";
    return "frame " + std::to_string(k) + " does not decode (" + DescribeLastError(dwError) + ")";
}

std::string DescribeLastError(DWORD dwError) {
    switch (dwError) {
    case ERROR_FILE_NOT_FOUND: return "file not found";
    case ERROR_PATH_NOT_FOUND: return "path not found (a folder on the way does not exist)";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return "it claims more memory than the module allows";
    case ERROR_INVALID_DATA: return "invalid data";
    case ERROR_BAD_FORMAT: return "bad format";
    case ERROR_HANDLE_EOF: return "truncated";
    case ERROR_READ_FAULT: return "read error";
    case ERROR_CRC: return "I/O error (" + SystemErrorText(dwError) + ")";
    case ERROR_ARITHMETIC_OVERFLOW: return "a size or offset is out of range";
    case ERROR_INVALID_HANDLE: return "a picture blob is damaged";
    case ERROR_INVALID_PARAMETER: return "a frame number or entry is out of range";
    case ERROR_INVALID_FUNCTION: return "the frame cannot be read";
    case ERROR_NOT_SUPPORTED: return "an entry has no picture that can be preloaded";
    case ERROR_WORKING_SET_QUOTA: return "the page lock was refused (RLIMIT_MEMLOCK)";
    case ERROR_WRITE_FAULT: return "write error";
    case ERROR_SHARING_VIOLATION: return "in use elsewhere (a writer keeps readers out, a reader keeps writers out)";
    case ERROR_COMMITMENT_LIMIT: return "the free address space is down to the reserve kept for the host";
    case ERROR_DISK_FULL: return "disk full";
    case ERROR_FILE_CORRUPT: return "both copies of its picture are damaged";
    case ERROR_FILE_TOO_LARGE:
        return "the file would outgrow its size limit (4 GiB, what a JPEG movie's 32-bit offsets address; or ulimit -f)";
    default: return "error code " + std::to_string(dwError);
    }
}

std::string DescribeUnstoredFrame(bool bKept, DWORD dwError) {
    std::string why = bKept ? "the JPEG codec cannot compress it" : "not written";
    if (bKept && dwError == ERROR_WRITE_FAULT)
        why +=
            ": its streams outgrow the codec's buffer, as very small or noisy frames do; raw or packed "
            "store any frame";
    else if (IsIoFailure(dwError) && dwError != ERROR_DISK_FULL)
        why += ": write error (" + SystemErrorText(dwError) + ")";
    else if (dwError)
        why += ": " + DescribeLastError(dwError);
    return why;
}

// A file another process or handle is writing: what every reading command says.
[[noreturn]] static void FailBeingWritten(const std::string& path) {
    FailFile(path, "is being written (another process or handle has it open for writing); try again when it is closed",
             ERROR_SHARING_VIOLATION);
}

namespace {

// A ToolFailure unless path names a regular file or a registered byte source
// (a front end's stream, which the module opens as a file).
void CheckFileOrFail(const std::string& path) {
    if (FindByteSource(path)) return;
    std::error_code ec;
    if (!std::filesystem::exists(FsPath(path), ec)) FailFile(path, "no such file");
    if (!std::filesystem::is_regular_file(FsPath(path), ec)) FailFile(path, "not a regular file");
}

// Why a file the module calls ERROR_BAD_FORMAT is no RVO file: too short for
// the header, or a header without the magic.
std::string NotRvoReason(const std::string& path) {
    ULONGLONG nBytes = 0;
    if (std::shared_ptr<CByteSource> source = FindByteSource(path)) {
        nBytes = source->Size();
    } else {
        std::error_code ec;
        nBytes = std::filesystem::file_size(FsPath(path), ec);
        if (ec) nBytes = rvo::kHeaderBytes;
    }
    return nBytes < rvo::kHeaderBytes ? "not an RVO file (shorter than the 160-byte header)"
                                      : "not an RVO file (no QARVOV10 magic)";
}

}   // namespace

std::unique_ptr<CRvoFile> OpenRvoOrFail(const std::string& path) {
    CheckFileOrFail(path);
    auto file = std::make_unique<CRvoFile>();
    std::u16string wide = FromUtf8(path);
    SetLastError(0);
    BOOL opened = FALSE;
    try {
        opened = file->Open(wide.c_str(), CFile::modeRead | CFile::shareDenyWrite);
    } catch (...) {
        FailFile(path, "damaged RVO file (its index cannot be read)", ERROR_INVALID_DATA);
    }
    if (!opened && GetLastError() == ERROR_SHARING_VIOLATION) FailBeingWritten(path);
    const DWORD dwError = GetLastError();
    if (!opened && dwError == ERROR_ACCESS_DENIED) FailFile(path, "cannot open: " + SystemErrorText(dwError), dwError);
    // The system failed a read: the file may be whole, so it is not called damaged.
    if (!opened && IsIoFailure(dwError)) FailRead(path, dwError);
    if (!opened && dwError == ERROR_BAD_FORMAT) FailFile(path, NotRvoReason(path), ERROR_BAD_FORMAT);
    if (!opened) FailFile(path, "damaged RVO file (" + DescribeLastError(dwError) + ")", DamageCode(dwError));
    return file;
}

MovieShape ReadMovieShapeOrFail(const std::string& path) {
    std::unique_ptr<CRvoFile> file = OpenRvoOrFail(path);
    MovieShape shape;
    shape.nFrames = CheckedFrameCount(*file, path);
    shape.nWidth = file->Header().m_nWidth;
    shape.nHeight = file->Header().m_nHeight;
    file->Close(FALSE);
    return shape;
}

RvoUnfinished ScanRvoOrFail(const std::string& path, const SIZE* pSize) {
    CheckFileOrFail(path);
    RvoUnfinished scan;
    SetLastError(ERROR_SUCCESS);
    if (!ScanUnfinished(FromUtf8(path).c_str(), pSize, &scan)) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_BAD_FORMAT) FailFile(path, "not an RVO file (no QARVOV10 header)", ERROR_BAD_FORMAT);
        if (dwError == ERROR_INVALID_PARAMETER) FailFile(path, "its recorded frame size differs from --size");
        if (dwError == ERROR_SHARING_VIOLATION) FailBeingWritten(path);
        if (IsIoFailure(dwError)) FailRead(path, dwError);
        FailFile(path, "cannot be read (" + DescribeLastError(dwError) + ")", dwError);
    }
    return scan;
}

void FailIfUnfinished(const std::string& path) { FailIfUnfinished(path, ScanRvoOrFail(path)); }

void FailIfUnfinished(const std::string& path, const RvoUnfinished& scan) {
    if (!scan.bUnfinished) return;
    // Opening such a file shows no frames; the tools must not call it intact.
    const std::string strFrames =
        scan.bCounted ? std::to_string(scan.nFrames) + " whole frame" + (scan.nFrames == 1 ? "" : "s") +
                            " can be recovered with rvo recover"
                      : "its frame size is not recorded; rvo recover --size WxH counts and recovers its whole frames";
    FailFile(path, std::string("unfinished ") + ModeName(scan.nMode) +
                       " file (its writer stopped before closing it; it opens with 0 frames): " + strFrames,
             ERROR_HANDLE_EOF);
}

void SetHostPath(HostMediaInfo& info, const std::string& path) {
    std::u16string wide = FromUtf8(path);
    if (wide.size() >= kHostPathChars)
        FailFile(path, "path longer than the host's " + std::to_string(kHostPathChars - 1) +
                           "-character limit");
    std::fill(std::begin(info.szPath), std::end(info.szPath), 0);
    std::copy(wide.begin(), wide.end(), info.szPath);
}

const char* ModeName(LONG nMode) {
    switch (nMode) {
    case rvo::kModeLegacyBlobs: return "JpegBlobs (legacy)";
    case rvo::ImageList: return "ImageList";
    case rvo::JpegBlobs: return "JpegBlobs";
    case rvo::RawFrames: return "RawFrames";
    case rvo::PackedFrames: return "PackedFrames";
    default: return "unknown";
    }
}

