// CFile over a Win32 file handle (kept in the handle), with MFC's share modes.
#include "platform/File.h"

#include "platform/CString.h"
#include "platform/CrashPoint.h"
#include "platform/FaultPoint.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"
#include "platform/win32/Win32Api.h"

namespace {

w32::HANDLE Handle(FILE_HANDLE h) { return reinterpret_cast<w32::HANDLE>(h); }

// MFC's share flags: compatibility (0) and exclusive let no one else in.
w32::ULONG ShareMode(UINT nOpenFlags) {
    switch (nOpenFlags & 0x70) {
    case CFile::shareDenyWrite: return w32::kShareRead;
    case CFile::shareDenyRead: return w32::kShareWrite;
    case CFile::shareDenyNone: return w32::kShareRead | w32::kShareWrite;
    default: return 0;
    }
}

}   // namespace

CFile::~CFile() { Close(); }

BOOL CFile::Open(const WCHAR* pszPath, UINT nOpenFlags, void*) {
    Close();
    if (!pszPath) return FALSE;
    w32::ULONG access;
    switch (nOpenFlags & 3) {
    case modeRead: access = GENERIC_READ; break;
    case modeWrite: access = GENERIC_WRITE; break;
    default: access = GENERIC_READ | GENERIC_WRITE; break;
    }
    w32::ULONG disposition = OPEN_EXISTING;
    if (nOpenFlags & modeCreate) disposition = (nOpenFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    w32::HANDLE h = w32::CreateFileW(w32::Wide(pszPath), access, ShareMode(nOpenFlags), nullptr, disposition,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FALSE;   // a folder is refused here too
    m_hFile = reinterpret_cast<FILE_HANDLE>(h);
    m_strPath = ToUtf8(pszPath);
    return TRUE;
}

UINT CFile::Read(void* pBuf, UINT nCount) {
    if (m_hFile == kNoFile || FaultPointFails(kFaultRead)) return 0;
    char* p = static_cast<char*>(pBuf);
    UINT done = 0;
    while (done < nCount) {
        w32::ULONG n = 0;
        if (!w32::ReadFile(Handle(m_hFile), p + done, nCount - done, &n, nullptr) || n == 0) break;
        done += (UINT)n;
    }
    return done;
}

UINT CFile::Write(const void* pBuf, UINT nCount) {
    if (m_hFile == kNoFile || FaultPointFails(kFaultWrite)) return 0;
    const char* p = static_cast<const char*>(pBuf);
    UINT done = 0;
    // Past the test hook's crash point the rest is reported written and is not.
    const UINT nPass = CrashGate(nCount);
    if (nPass < nCount) {
        while (done < nPass) {
            w32::ULONG n = 0;
            if (!w32::WriteFile(Handle(m_hFile), p + done, nPass - done, &n, nullptr) || n == 0) break;
            done += (UINT)n;
        }
        Seek((LONGLONG)(nCount - done), current);
        return nCount;
    }
    while (done < nCount) {
        w32::ULONG n = 0;
        if (!w32::WriteFile(Handle(m_hFile), p + done, nCount - done, &n, nullptr) || n == 0) break;
        done += (UINT)n;
    }
    return done;
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    long long to = 0;
    if (m_hFile == kNoFile || FaultPointFails(kFaultSeek) || !w32::SetFilePointerEx(Handle(m_hFile), lOff, &to, nFrom))
        return (ULONGLONG)-1;
    return (ULONGLONG)to;
}

ULONGLONG CFile::GetPosition() const {
    long long at = 0;
    if (m_hFile == kNoFile || !w32::SetFilePointerEx(Handle(m_hFile), 0, &at, FILE_CURRENT)) return 0;
    return (ULONGLONG)at;
}

ULONGLONG CFile::GetLength() const {
    long long n = 0;
    if (m_hFile == kNoFile || !w32::GetFileSizeEx(Handle(m_hFile), &n)) return 0;
    return (ULONGLONG)n;
}

BOOL CFile::SetLength(ULONGLONG nLength) {
    if (m_hFile == kNoFile) return Fail(ERROR_INVALID_HANDLE);
    if (Seek((LONGLONG)nLength, begin) != nLength || FaultPointFails(kFaultSetEnd)) return FALSE;
    if (Crashed()) return TRUE;
    return w32::SetEndOfFile(Handle(m_hFile)) ? TRUE : FALSE;   // the system's reason stays the last error
}

void CFile::Flush() {
    // Writes go straight to the system; nothing is held back in the module.
}

BOOL CFile::Close() {
    BOOL bOk = TRUE;
    if (m_hFile != kNoFile) {
        const BOOL bFaulted = FaultPointFails(kFaultClose);
        bOk = w32::CloseHandle(Handle(m_hFile)) && !bFaulted;
    }
    m_hFile = kNoFile;
    m_strPath.clear();
    return bOk;
}
