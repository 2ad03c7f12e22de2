// CFile over the file handles of platform/RawFile.h (buffered); paths arrive
// as UTF-16 and are opened as UTF-8.
#include "platform/File.h"

#include "platform/CString.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"

namespace {

// MFC's mapping: a share mode of 0 for shareCompat as for shareExclusive.
DWORD ShareModeFor(UINT nOpenFlags) {
    switch (nOpenFlags & 0x70) {
    case CFile::shareDenyWrite: return FILE_SHARE_READ;
    case CFile::shareDenyRead: return FILE_SHARE_WRITE;
    case CFile::shareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;
    }
}

// SetFilePointer on the whole 64-bit distance; the new position, or -1. The
// caller's last error survives a seek that succeeds.
ULONGLONG SeekHandle(HANDLE h, LONGLONG lOff, DWORD dwMethod) {
    const DWORD dwSaved = GetLastError();
    LONG nHigh = (LONG)((ULONGLONG)lOff >> 32);
    SetLastError(ERROR_SUCCESS);
    const DWORD nLow = SetFilePointer(h, (LONG)(DWORD)(ULONGLONG)lOff, &nHigh, dwMethod);
    if (nLow == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return (ULONGLONG)-1;
    SetLastError(dwSaved);
    return ((ULONGLONG)(DWORD)nHigh << 32) | nLow;
}

}   // namespace

CFile::~CFile() { Close(); }

BOOL CFile::Open(const WCHAR* pszPath, UINT nOpenFlags, void*) {
    Close();
    if (!pszPath) return Fail(ERROR_INVALID_PARAMETER);
    DWORD dwAccess = GENERIC_READ;
    switch (nOpenFlags & 3) {
    case modeRead: break;
    case modeWrite: dwAccess = GENERIC_WRITE; break;
    default: dwAccess = GENERIC_READ | GENERIC_WRITE; break;
    }
    DWORD dwDisposition = OPEN_EXISTING;
    if (nOpenFlags & modeCreate) dwDisposition = (nOpenFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    HANDLE h = CreateFileW(pszPath, dwAccess, ShareModeFor(nOpenFlags), nullptr, dwDisposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    m_hFile = (FILE_HANDLE)h;
    m_strPath = ToUtf8(pszPath);
    return TRUE;
}

UINT CFile::Read(void* pBuf, UINT nCount) {
    if (m_hFile == kNoFile) return 0;
    DWORD nRead = 0;
    ReadFile(SystemHandle(), pBuf, nCount, &nRead, nullptr);
    return nRead;
}

UINT CFile::Write(const void* pBuf, UINT nCount) {
    if (m_hFile == kNoFile) return 0;
    DWORD nWritten = 0;
    WriteFile(SystemHandle(), pBuf, nCount, &nWritten, nullptr);
    return nWritten;
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    if (m_hFile == kNoFile) return (ULONGLONG)-1;
    return SeekHandle(SystemHandle(), lOff, nFrom == begin ? FILE_BEGIN : nFrom == current ? FILE_CURRENT
                                                                                           : FILE_END);
}

ULONGLONG CFile::GetPosition() const {
    if (m_hFile == kNoFile) return 0;
    const ULONGLONG nPos = SeekHandle(SystemHandle(), 0, FILE_CURRENT);
    return nPos == (ULONGLONG)-1 ? 0 : nPos;
}

ULONGLONG CFile::GetLength() const {
    if (m_hFile == kNoFile) return 0;
    // Where the position cannot be had it could not be put back: the length is not looked for (0, the error kept).
    const ULONGLONG nPos = SeekHandle(SystemHandle(), 0, FILE_CURRENT);
    if (nPos == (ULONGLONG)-1) return 0;
    const ULONGLONG nEnd = SeekHandle(SystemHandle(), 0, FILE_END);
    if (SeekHandle(SystemHandle(), (LONGLONG)nPos, FILE_BEGIN) != nPos) return 0;
    return nEnd == (ULONGLONG)-1 ? 0 : nEnd;
}

BOOL CFile::SetLength(ULONGLONG nLength) {
    if (m_hFile == kNoFile) return Fail(ERROR_INVALID_HANDLE);
    if (Seek((LONGLONG)nLength, begin) != nLength) return FALSE;
    return SetEndOfFile(SystemHandle());
}

void CFile::Flush() {
    // Writes go straight to the kernel; nothing is held back in user space.
}

BOOL CFile::Close() {
    const BOOL bOk = m_hFile == kNoFile || CloseHandle(SystemHandle());
    m_hFile = kNoFile;
    m_strPath.clear();
    return bOk;
}
