// A file in the manner of MFC's CFile: a POSIX descriptor or a Win32 handle
// (platform/posix/File.cpp, platform/win32/File.cpp).
#pragma once

#include <string>

#include "platform/Types.h"

// The system's file: a descriptor on POSIX, a HANDLE on Windows; both keep -1
// (INVALID_HANDLE_VALUE) for none.
typedef intptr_t FILE_HANDLE;
constexpr FILE_HANDLE kNoFile = -1;

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000, modeWrite = 0x0001, modeReadWrite = 0x0002,
        shareDenyWrite = 0x0020, shareDenyNone = 0x0040,
        modeNoTruncate = 0x10000, modeCreate = 0x1000
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // UTF-16 path; FALSE when the file cannot be opened (or created with modeCreate).
    // The share flags hold on Windows: shareDenyWrite lets others read only,
    // no share flag lets no one else in.
    BOOL Open(const WCHAR* pszPath, UINT nOpenFlags, void* pError = nullptr);
    // Bytes read; fewer at the end of the file, 0 on error.
    UINT Read(void* pBuf, UINT nCount);
    // Bytes written (nCount unless the disk refuses).
    UINT Write(const void* pBuf, UINT nCount);
    // New position, or (ULONGLONG)-1 when the seek is refused.
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    ULONGLONG GetPosition() const;
    ULONGLONG GetLength() const;
    void Flush();
    void Close();
    bool IsOpen() const { return m_hFile != kNoFile; }
    const std::string& GetFilePath() const { return m_strPath; }

private:
    FILE_HANDLE m_hFile = kNoFile;
    std::string m_strPath;   // UTF-8
};
