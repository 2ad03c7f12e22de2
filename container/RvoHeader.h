// The header of an RVO file as values: its first 160 bytes (the byte layout is
// in container/RvoFormat.h). A new header is that of an empty image list.
#pragma once

#include <cstring>

#include "container/RvoFormat.h"
#include "platform/Types.h"

struct CRvoHeader {
    char m_szMagic[8] = {'Q', 'A', 'R', 'V', 'O', 'V', '1', '0'};
    DWORD m_dwIndexOffset = rvo::kHeaderBytes;   // while a mode 1-3 file is written: where its frame area ends
    LONG m_nEntryCount = 0;
    LONG m_nFrameCount = 0;
    LONG m_nMode = rvo::ImageList;
    LONG m_nWidth = 0;
    LONG m_nHeight = 0;
    DWORD m_dwSizeTableFlag = 0;
    DWORD m_dwSizeTableBytes = 0;
    DWORD m_dwSizeTableOffsetHigh = 0;
    DWORD m_dwSizeTableOffsetLow = 0;

    // The 160-byte image in file byte order, and back.
    void StoreHeader(BYTE out[160]) const;
    void LoadHeader(const BYTE in[160]);

private:
    // Bytes 32-39 and 56-159: kept as read so that a file is written back as it came.
    DWORD m_dwReserved32 = 0;
    DWORD m_dwReserved36 = 0;
    BYTE m_abReserved[104] = {};
};

static_assert(sizeof(rvo::kMagic) == sizeof(CRvoHeader::m_szMagic));
