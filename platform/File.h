// A file in the manner of MFC's CFile: on POSIX over the file handles of
// platform/RawFile.h (platform/posix/File.cpp), on Windows a Win32 handle
// (platform/win32/File.cpp). Access, share and creation flags become
// CreateFileW's as MFC turns them into them, so the share modes hold on both:
// shareDenyWrite lets other handles read and keeps writers out, shareExclusive
// and shareCompat (no share flag) keep every other handle out, shareDenyNone
// keeps nobody out.
#pragma once

#include <string>

#include "platform/Types.h"

// The system's file: a handle of platform/RawFile.h on POSIX, a HANDLE on
// Windows; both keep -1 (INVALID_HANDLE_VALUE) for none.
typedef intptr_t FILE_HANDLE;
constexpr FILE_HANDLE kNoFile = -1;

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoTruncate = 0x10000,
        modeCreate = 0x1000
    };
    enum SeekPosition : UINT { begin = 0,
                               current = 1,
                               end = 2 };

    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // UTF-16 path; FALSE with a last error when the file cannot be opened (or
    // created with modeCreate): ERROR_SHARING_VIOLATION when another handle's
    // share mode, or this one's, refuses. A refused modeCreate leaves an
    // existing file as it was.
    BOOL Open(const WCHAR* pszPath, UINT nOpenFlags, void* pError = nullptr);
    // Bytes read; fewer at the end of the file, 0 on error.
    UINT Read(void* pBuf, UINT nCount);
    // Bytes written (nCount unless the disk refuses).
    UINT Write(const void* pBuf, UINT nCount);
    // New position, or (ULONGLONG)-1 when the seek is refused.
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    ULONGLONG GetPosition() const;
    ULONGLONG GetLength() const;
    // Ends the file at nLength bytes and leaves the position there; FALSE with
    // a last error when the system refuses.
    BOOL SetLength(ULONGLONG nLength);
    void Flush();
    // FALSE with a last error when the system reports a failure (written data
    // may not have reached the disk); the handle is released all the same.
    BOOL Close();
    bool IsOpen() const { return m_hFile != kNoFile; }
    const std::string& GetFilePath() const { return m_strPath; }

private:
    HANDLE SystemHandle() const { return reinterpret_cast<HANDLE>(m_hFile); }

    FILE_HANDLE m_hFile = kNoFile;
    std::string m_strPath;   // UTF-8
};
