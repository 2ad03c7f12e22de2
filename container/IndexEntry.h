// One index entry of a file: a frame written by the module or an external still image.
#pragma once

#include "platform/CString.h"
#include "platform/Types.h"

class CArchive;

struct RvoIndexEntry {
    LONG m_nKind;           // rvo::kKindFrame or rvo::kKindStillImage
    CString m_strName;      // "No.%d" for frames, the image path for still images
    LONG m_nStartFrame;     // relative to the file's first frame
    LONG m_nLastFrame;      // 0 or -1: the start frame alone
    DWORD m_dwFlags;        // bit 0: blob not yet stored in the frame area
    HGLOBAL m_hBlob;        // the entry's picture blob in memory, owned; null when none
    DWORD m_dwBlobOffset;   // file offset of the blob's frame-area copy; 0 = none
    // Where the copy of the blob inside the entry's index record lies (its file
    // form); 0 = the record carries none. Readers keep this instead of the blob.
    ULONGLONG m_nIndexBlobAt;
    DWORD m_dwIndexBlobBytes;
    LONG m_nWidth;
    LONG m_nHeight;
    LONG m_nExtraCount;
    BYTE* m_pExtra;   // m_nExtraCount x 16 bytes, owned

    RvoIndexEntry();
    ~RvoIndexEntry();
    RvoIndexEntry(const RvoIndexEntry&) = delete;
    RvoIndexEntry& operator=(const RvoIndexEntry&) = delete;

    // Zeroes every field, empties the name, frees the blob and the extra items.
    void Clear();

private:
    // Kept as read so that an index is written back as it came; only the record
    // reader and writer (container/IndexArchive.h) touch them.
    DWORD m_dwReserved0;
    DWORD m_dwReserved12;
    DWORD m_dwReserved16;
    BYTE m_abReserved48[32];
    BYTE m_abReserved80[32];
    BYTE m_abReserved120[32];

    friend void WriteEntry(CArchive& ar, const RvoIndexEntry& e, bool bFrameAreaBlob, LONG* pnMaxWidth,
                           LONG* pnMaxHeight);
    friend void ReadEntry(CArchive& ar, RvoIndexEntry& e);
};
