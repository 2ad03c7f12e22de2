// CFile over POSIX descriptors (kept in the handle); paths arrive as UTF-16 and
// are opened as UTF-8.
#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/CString.h"

CFile::~CFile() { Close(); }

BOOL CFile::Open(const WCHAR* pszPath, UINT nOpenFlags, void*) {
    Close();
    if (!pszPath) return FALSE;
    int flags = O_CLOEXEC;
    switch (nOpenFlags & 3) {
        case modeRead: flags |= O_RDONLY; break;
        case modeWrite: flags |= O_WRONLY; break;
        default: flags |= O_RDWR; break;
    }
    if (nOpenFlags & modeCreate) {
        flags |= O_CREAT;
        if (!(nOpenFlags & modeNoTruncate)) flags |= O_TRUNC;
    }
    std::string path = ToUtf8(pszPath);
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return FALSE;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return FALSE;
    }
    m_hFile = fd;
    m_strPath = path;
    return TRUE;
}

UINT CFile::Read(void* pBuf, UINT nCount) {
    if (m_hFile == kNoFile) return 0;
    char* p = static_cast<char*>(pBuf);
    UINT done = 0;
    while (done < nCount) {
        ssize_t n = ::read((int)m_hFile, p + done, nCount - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (UINT)n;
    }
    return done;
}

UINT CFile::Write(const void* pBuf, UINT nCount) {
    if (m_hFile == kNoFile) return 0;
    const char* p = static_cast<const char*>(pBuf);
    UINT done = 0;
    while (done < nCount) {
        ssize_t n = ::write((int)m_hFile, p + done, nCount - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (UINT)n;
    }
    return done;
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    if (m_hFile == kNoFile) return (ULONGLONG)-1;
    int whence = nFrom == begin ? SEEK_SET : nFrom == current ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek((int)m_hFile, (off_t)lOff, whence);
    return r < 0 ? (ULONGLONG)-1 : (ULONGLONG)r;
}

ULONGLONG CFile::GetPosition() const {
    if (m_hFile == kNoFile) return 0;
    off_t r = ::lseek((int)m_hFile, 0, SEEK_CUR);
    return r < 0 ? 0 : (ULONGLONG)r;
}

ULONGLONG CFile::GetLength() const {
    struct stat st;
    if (m_hFile == kNoFile || fstat((int)m_hFile, &st) != 0) return 0;
    return (ULONGLONG)st.st_size;
}

void CFile::Flush() {
    // Writes go straight to the kernel; nothing is held back in user space.
    (void)m_hFile;
}

void CFile::Close() {
    if (m_hFile != kNoFile) ::close((int)m_hFile);
    m_hFile = kNoFile;
    m_strPath.clear();
}
