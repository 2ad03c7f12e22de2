// Writing a picture's whole copy over its damaged one in a finished JPEG movie.
#include "recover/Repair.h"

#include <new>
#include <vector>

#include "platform/File.h"
#include "platform/LastError.h"

bool RvoCopyMendFits(const CRvoFile& file, int nEntry, const RvoCopyMend& m) {
    const RvoIndexEntry* e = file.GetEntry(nEntry);
    if (!e) return false;
    if (m.nTo == e->m_nIndexBlobAt) return m.nBytes == e->m_dwIndexBlobBytes;
    // The frame-area copy's place ends at the next frame-area copy after it, or at the index.
    ULONGLONG nEnd = file.Header().m_dwIndexOffset;
    for (int i = 0; i < file.GetEntryCount(); i++) {
        const ULONGLONG n = file.GetEntry(i)->m_dwBlobOffset;
        if (n > m.nTo && n < nEnd) nEnd = n;
    }
    return m.nTo + m.nBytes <= nEnd;
}

namespace {

// Bytes [nAt, nAt + nBytes) of f into p, or FALSE with a last error.
BOOL ReadMendBytes(CFile& f, ULONGLONG nAt, BYTE* p, UINT nBytes) {
    SetLastError(ERROR_SUCCESS);
    if (f.Seek((LONGLONG)nAt, CFile::begin) != nAt || f.Read(p, nBytes) != nBytes)
        return Fail(GetLastError() ? GetLastError() : (DWORD)ERROR_READ_FAULT);
    return TRUE;
}

BOOL WriteMendBytes(CFile& f, ULONGLONG nAt, const BYTE* p, UINT nBytes) {
    SetLastError(ERROR_SUCCESS);
    if (f.Seek((LONGLONG)nAt, CFile::begin) != nAt || f.Write(p, nBytes) != nBytes)
        return Fail(GetLastError() ? GetLastError() : (DWORD)ERROR_WRITE_FAULT);
    return TRUE;
}

}   // namespace

BOOL MendPictureCopies(const WCHAR* pszPath, const RvoCopyMend* pMends, size_t nMends) {
    CFile f;
    SetLastError(ERROR_SUCCESS);
    if (!f.Open(pszPath, CFile::modeReadWrite | CFile::shareExclusive))
        return Fail(GetLastError() ? GetLastError() : (DWORD)ERROR_ACCESS_DENIED);
    // Every mend lies within the file before any byte is written.
    const ULONGLONG nLength = f.GetLength();
    for (size_t i = 0; i < nMends; i++) {
        const RvoCopyMend& m = pMends[i];
        if (m.nBytes > 0xFFFFFFFFull || m.nFrom > nLength || m.nBytes > nLength - m.nFrom || m.nTo > nLength ||
            m.nBytes > nLength - m.nTo)
            return Fail(ERROR_INVALID_PARAMETER);
    }
    std::vector<BYTE> copy;
    for (size_t i = 0; i < nMends; i++) {
        const RvoCopyMend& m = pMends[i];
        try {
            copy.resize((size_t)m.nBytes);
        } catch (const std::bad_alloc&) {
            return Fail(ERROR_NOT_ENOUGH_MEMORY);
        }
        if (!ReadMendBytes(f, m.nFrom, copy.data(), (UINT)m.nBytes) ||
            !WriteMendBytes(f, m.nTo, copy.data(), (UINT)m.nBytes))
            return FALSE;
    }
    f.Flush();
    SetLastError(ERROR_SUCCESS);
    if (!f.Close()) return Fail(GetLastError() ? GetLastError() : (DWORD)ERROR_WRITE_FAULT);
    return TRUE;
}
