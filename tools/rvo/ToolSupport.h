// What the rvo subcommands share: failure reporting and opening files through
// the module's own reader and dispatcher.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "recover/Recover.h"
#include "container/RvoFile.h"
#include "plugin/HostRecords.h"

// A failed operation: main prints "rvo: <message>" on one line and exits with 1.
// dwError: the module's error code behind it, when one is known (0 otherwise);
// what kind of failure it is follows from the code alone (IsDamage,
// IsIoFailure, ERROR_SHARING_VIOLATION), never from the message's words.
struct ToolFailure : std::runtime_error {
    explicit ToolFailure(const std::string& what, DWORD dwCode = 0) : std::runtime_error(what), dwError(dwCode) {}
    DWORD dwError;
};

// Throws a ToolFailure "<path>: <problem>".
[[noreturn]] void FailFile(const std::string& path, const std::string& problem, DWORD dwError = 0);

// Whether a module error code says the file's bytes are wrong: not an RVO
// file, damaged, truncated or unfinished (ERROR_BAD_FORMAT, ERROR_INVALID_DATA,
// ERROR_HANDLE_EOF, ERROR_FILE_CORRUPT, ERROR_INVALID_HANDLE), as opposed to a
// failed transfer, a file in use or a bad request.
bool IsDamage(DWORD dwError);
// The code a failure that found the file damaged carries: dwError when it says
// so (IsDamage), else ERROR_INVALID_DATA.
DWORD DamageCode(DWORD dwError);

// The C library's errno for a module error code that stands for a failed
// transfer or a missing file (ERROR_CRC: EIO, ERROR_DISK_FULL: ENOSPC, ...), 0 for others.
int ErrnoOf(DWORD dwError);
// The module error code for a C library errno (EIO: ERROR_CRC), 0 for one it has none for.
DWORD ErrorOfErrno(int nErrno);
// The system's words for such a code ("Input/output error"); DescribeLastError's for others.
std::string SystemErrorText(DWORD dwError);
// Throws a ToolFailure "<path>: cannot be read (read error (Input/output
// error))" for a read the system failed (dwError a module code).
[[noreturn]] void FailRead(const std::string& path, DWORD dwError);
// Why frame k could not be read, for a message: "frame 3: read error
// (Input/output error)" when the system failed the read (the file may be
// whole), "frame 3 does not decode (truncated)" when its bytes are damaged.
std::string DescribeFrameFailure(long long k, DWORD dwError);

// Opens an RVO file for reading; when it cannot be opened, throws a ToolFailure
// that says why (missing, not an RVO file, damaged).
std::unique_ptr<CRvoFile> OpenRvoOrFail(const std::string& path);

// An RVO file's frame count (checked as CheckedFrameCount does) and frame
// size, from opening it as OpenRvoOrFail does.
struct MovieShape {
    long long nFrames = 0;
    int nWidth = 0;
    int nHeight = 0;
};
MovieShape ReadMovieShapeOrFail(const std::string& path);

// What ScanUnfinished finds in an RVO file (pSize as it takes it); a
// ToolFailure when the file is missing, unreadable or no RVO file.
RvoUnfinished ScanRvoOrFail(const std::string& path, const SIZE* pSize = nullptr);

// A ToolFailure when the file is unfinished (its writer stopped before closing
// it): it says so and how many whole frames rvo recover can rebuild. The
// second form takes the file's scan (ScanRvoOrFail).
void FailIfUnfinished(const std::string& path);
void FailIfUnfinished(const std::string& path, const RvoUnfinished& scan);

// A host parameter record with the path field filled (UTF-8 in, UTF-16 out);
// throws a ToolFailure when the path does not fit the host's 256-unit field.
void SetHostPath(HostMediaInfo& info, const std::string& path);

// A module last-error code in words, for messages ("truncated", "read error").
std::string DescribeLastError(DWORD dwError);

// Why command 8 did not store a frame, in words: bKept when the frame is in the
// file as an entry without a picture (the JPEG codec could not compress it),
// else its append failed (disk full, the file-size limit, 4 GiB of pictures).
std::string DescribeUnstoredFrame(bool bKept, DWORD dwError);

// Storage mode names as the tool prints them.
const char* ModeName(LONG nMode);
