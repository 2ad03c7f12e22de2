// Files whose bytes a caller serves rather than the file system: a front end
// that reads a movie from a stream (ranges pulled from a media pipeline, bytes
// held in memory) registers a source under a path, and while it is registered
// the module opens that path like any file. Reading handles (CreateFileW, and
// CFile over it) read from the source at their position; a handle that would
// write is refused with ERROR_ACCESS_DENIED. Paths are matched exactly, so a
// caller registers a name no file has, in the folder where the movie's stills
// are to be looked for. Handles over sources exist on POSIX only
// (platform/posix/RawFile.cpp): the Windows DLL's host reads files by path.
#pragma once

#include <memory>
#include <string>

#include "platform/Types.h"

class CByteSource {
public:
    virtual ~CByteSource() = default;
    // The number of bytes; fixed while the source is registered.
    virtual ULONGLONG Size() = 0;
    // Up to nBytes from nAt into pBuf, *pnRead of them (fewer only at the
    // end). FALSE with a last error (ERROR_READ_FAULT) when the bytes cannot
    // be had.
    virtual BOOL ReadAt(ULONGLONG nAt, void* pBuf, DWORD nBytes, DWORD* pnRead) = 0;
};

// Serves opens of strPath (UTF-8) from pSource until UnregisterByteSource;
// FALSE with ERROR_SHARING_VIOLATION when the path is already registered.
// Handles opened meanwhile keep the source alive until they are closed.
BOOL RegisterByteSource(const std::string& strPath, std::shared_ptr<CByteSource> pSource);
void UnregisterByteSource(const std::string& strPath);
// The source registered under strPath, or null.
std::shared_ptr<CByteSource> FindByteSource(const std::string& strPath);
