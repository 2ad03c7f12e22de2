// A buffered archive over a CFile in the manner of MFC's CArchive: little-endian
// integers, byte blocks and MFC archive strings. A read that runs past the end
// of the file raises CArchiveException::endOfFile.
#pragma once

#include <vector>

#include "platform/CString.h"
#include "platform/Exceptions.h"
#include "platform/File.h"
#include "platform/Types.h"

class CArchive {
public:
    enum Mode { store = 0,
                load = 1 };

    CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096);
    ~CArchive();
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    bool IsLoading() const { return m_bLoading; }
    bool IsStoring() const { return !m_bLoading; }
    CFile* GetFile() const { return m_pFile; }

    // Bytes copied; fewer only at the end of the file.
    UINT Read(void* pBuf, UINT nCount);
    // Raises endOfFile unless all nCount bytes arrive.
    void ReadExact(void* pBuf, UINT nCount);
    void Write(const void* pBuf, UINT nCount);
    // Writes what is buffered; raises genericException when the file takes less.
    void Flush();
    // Flushes a storing archive; the archive is unusable afterwards.
    void Close();
    // Bytes between the archive's logical position and the end of the file.
    ULONGLONG BytesLeft() const;
    // The file offset of the next byte read or written.
    ULONGLONG GetPosition() const;
    // Loading: passes over nCount bytes without reading them; raises endOfFile
    // when fewer are left.
    void Skip(ULONGLONG nCount);

    CArchive& operator<<(BYTE v) {
        Write(&v, 1);
        return *this;
    }
    CArchive& operator<<(WORD v);
    CArchive& operator<<(DWORD v);
    CArchive& operator<<(LONG v) { return *this << (DWORD)v; }
    CArchive& operator>>(BYTE& v) {
        ReadExact(&v, 1);
        return *this;
    }
    CArchive& operator>>(WORD& v);
    CArchive& operator>>(DWORD& v);
    CArchive& operator>>(LONG& v) {
        DWORD d;
        *this >> d;
        v = (LONG)d;
        return *this;
    }

private:
    void FillBuffer();

    CFile* m_pFile;
    bool m_bLoading;
    bool m_bClosed = false;
    std::vector<BYTE> m_buf;
    UINT m_nCur = 0;   // next byte in m_buf
    UINT m_nMax = 0;   // loading: bytes valid in m_buf; storing: bytes pending
};

// MFC's string length prefix: with bUnicode the marker FF FE FF first, then the
// length as one byte (< 255), FF + u16 (< 65534) or FF FF FF + u32.
constexpr BYTE kArchiveUnicodeMarker[3] = {0xFF, 0xFE, 0xFF};
void AfxWriteStringLength(CArchive& ar, ULONGLONG nLength, BOOL bUnicode);
// Reads a length prefix; nCharSize becomes 2 after the Unicode marker, else 1.
ULONGLONG AfxReadStringLength(CArchive& ar, int& nCharSize);

// A string as the archive stores it: the Unicode prefix then UTF-16LE code units.
CArchive& operator<<(CArchive& ar, const CString& s);
// Reads either form; 8-bit text is taken in the ANSI code page. A length that
// cannot fit the rest of the file raises endOfFile before anything is allocated.
CArchive& operator>>(CArchive& ar, CString& s);
// The same with a limit on the length: a longer string raises badIndex.
void ReadArchiveString(CArchive& ar, CString& s, ULONGLONG nMaxChars);
