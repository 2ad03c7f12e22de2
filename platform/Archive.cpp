// CArchive buffering and the MFC string encoding.
#include "platform/Archive.h"

#include <cstring>

CArchive::CArchive(CFile* pFile, UINT nMode, int nBufSize)
    : m_pFile(pFile), m_bLoading(nMode & load), m_buf((size_t)(nBufSize > 0 ? nBufSize : 4096)) {}

CArchive::~CArchive() = default;

void CArchive::FillBuffer() {
    m_nCur = 0;
    m_nMax = m_pFile->Read(m_buf.data(), (UINT)m_buf.size());
}

UINT CArchive::Read(void* pBuf, UINT nCount) {
    if (!m_bLoading) AfxThrowArchiveException(CArchiveException::writeOnly);
    BYTE* p = static_cast<BYTE*>(pBuf);
    UINT done = 0;
    while (done < nCount) {
        if (m_nCur == m_nMax) {
            // Large reads bypass the buffer.
            if (nCount - done >= m_buf.size()) {
                UINT n = m_pFile->Read(p + done, nCount - done);
                done += n;
                break;
            }
            FillBuffer();
            if (m_nMax == 0) break;
        }
        UINT n = std::min(nCount - done, m_nMax - m_nCur);
        std::memcpy(p + done, m_buf.data() + m_nCur, n);
        m_nCur += n;
        done += n;
    }
    return done;
}

void CArchive::ReadExact(void* pBuf, UINT nCount) {
    if (Read(pBuf, nCount) != nCount) AfxThrowArchiveException(CArchiveException::endOfFile);
}

void CArchive::Write(const void* pBuf, UINT nCount) {
    if (m_bLoading) AfxThrowArchiveException(CArchiveException::readOnly);
    const BYTE* p = static_cast<const BYTE*>(pBuf);
    while (nCount) {
        if (m_nMax == m_buf.size()) Flush();
        UINT n = std::min(nCount, (UINT)m_buf.size() - m_nMax);
        std::memcpy(m_buf.data() + m_nMax, p, n);
        m_nMax += n;
        p += n;
        nCount -= n;
    }
}

void CArchive::Flush() {
    if (m_bLoading || m_nMax == 0) return;
    UINT n = m_pFile->Write(m_buf.data(), m_nMax);
    UINT pending = m_nMax;
    m_nMax = 0;
    if (n != pending) AfxThrowArchiveException(CArchiveException::genericException);
}

void CArchive::Close() {
    if (m_bClosed) return;
    Flush();
    m_bClosed = true;
}

ULONGLONG CArchive::BytesLeft() const {
    ULONGLONG len = m_pFile->GetLength(), pos = m_pFile->GetPosition();
    ULONGLONG buffered = m_bLoading ? (ULONGLONG)(m_nMax - m_nCur) : 0;
    return pos >= len ? buffered : len - pos + buffered;
}

ULONGLONG CArchive::GetPosition() const {
    const ULONGLONG pos = m_pFile->GetPosition();
    return m_bLoading ? pos - (m_nMax - m_nCur) : pos + m_nMax;
}

void CArchive::Skip(ULONGLONG nCount) {
    if (!m_bLoading) AfxThrowArchiveException(CArchiveException::readOnly);
    if (nCount > BytesLeft()) AfxThrowArchiveException(CArchiveException::endOfFile);
    const UINT nBuffered = m_nMax - m_nCur;
    if (nCount <= nBuffered) {
        m_nCur += (UINT)nCount;
        return;
    }
    const ULONGLONG nTo = m_pFile->GetPosition() + (nCount - nBuffered);
    m_nCur = m_nMax = 0;
    if (m_pFile->Seek((LONGLONG)nTo, CFile::begin) != nTo) AfxThrowArchiveException(CArchiveException::endOfFile);
}

CArchive& CArchive::operator<<(WORD v) {
    BYTE b[2] = {(BYTE)v, (BYTE)(v >> 8)};
    Write(b, 2);
    return *this;
}

CArchive& CArchive::operator<<(DWORD v) {
    BYTE b[4] = {(BYTE)v, (BYTE)(v >> 8), (BYTE)(v >> 16), (BYTE)(v >> 24)};
    Write(b, 4);
    return *this;
}

CArchive& CArchive::operator>>(WORD& v) {
    BYTE b[2];
    ReadExact(b, 2);
    v = (WORD)(b[0] | (b[1] << 8));
    return *this;
}

CArchive& CArchive::operator>>(DWORD& v) {
    BYTE b[4];
    ReadExact(b, 4);
    v = (DWORD)b[0] | ((DWORD)b[1] << 8) | ((DWORD)b[2] << 16) | ((DWORD)b[3] << 24);
    return *this;
}

void AfxWriteStringLength(CArchive& ar, ULONGLONG nLength, BOOL bUnicode) {
    if (bUnicode) ar.Write(kArchiveUnicodeMarker, sizeof kArchiveUnicodeMarker);
    if (nLength < 255) {
        ar << (BYTE)nLength;
    } else if (nLength < 0xFFFE) {
        ar << (BYTE)0xFF;
        ar << (WORD)nLength;
    } else {
        ar << (BYTE)0xFF;
        ar << (WORD)0xFFFF;
        ar << (DWORD)nLength;
    }
}

ULONGLONG AfxReadStringLength(CArchive& ar, int& nCharSize) {
    nCharSize = 1;
    BYTE b;
    ar >> b;
    if (b < 0xFF) return b;
    WORD w;
    ar >> w;
    if (w == 0xFFFE) {
        // The Unicode marker; the real length prefix follows.
        nCharSize = 2;
        ar >> b;
        if (b < 0xFF) return b;
        ar >> w;
    }
    if (w < 0xFFFF) return w;
    DWORD d;
    ar >> d;
    return d;
}

CArchive& operator<<(CArchive& ar, const CString& s) {
    AfxWriteStringLength(ar, (ULONGLONG)s.GetLength(), TRUE);
    const std::u16string& str = s.Str();
    for (char16_t c : str) ar << (WORD)c;
    return ar;
}

void ReadArchiveString(CArchive& ar, CString& s, ULONGLONG nMaxChars) {
    int nCharSize;
    ULONGLONG n = AfxReadStringLength(ar, nCharSize);
    if (n > 0x7FFFFFFFull) AfxThrowOleException(E_INVALIDARG);   // a negative length as the archive's int
    if (n > nMaxChars) AfxThrowArchiveException(CArchiveException::badIndex);
    // The text must lie in the file: a forged length never reaches the allocator.
    ULONGLONG nBytes = n * (ULONGLONG)nCharSize;
    if (nBytes > ar.BytesLeft()) AfxThrowArchiveException(CArchiveException::endOfFile);
    std::vector<BYTE> raw((size_t)nBytes);
    ar.ReadExact(raw.data(), (UINT)raw.size());
    if (nCharSize == 2) {
        std::u16string w((size_t)n, u'\0');
        for (size_t i = 0; i < (size_t)n; i++) w[i] = (char16_t)(raw[2 * i] | (raw[2 * i + 1] << 8));
        s = CString(std::move(w));
    } else {
        s = CString(FromAnsi(reinterpret_cast<const char*>(raw.data()), raw.size()));
    }
}

CArchive& operator>>(CArchive& ar, CString& s) {
    ReadArchiveString(ar, s, 0x7FFFFFFFull);
    return ar;
}
