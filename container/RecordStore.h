// The record store of an open file: the unbuffered handle of modes 4 and 5,
// the working frame buffers, and the frame sizes (each record's size while a
// packed file is written, the size table as read). It owns all of them: the
// handle is closed and the buffers freed when the store dies.
#pragma once

#include "container/AlignedBuffer.h"
#include "platform/Collections.h"
#include "platform/RawFile.h"
#include "platform/Types.h"

struct CRecordStore {
    HANDLE m_hRawFile = nullptr;               // modes 4 and 5, unbuffered; null when none
    CAlignedBuffer<BYTE> m_pFrameBuffer;       // working frame buffer (AllocFrameBlock)
    CAlignedBuffer<BYTE> m_pAuxBuffer;         // second working buffer (AllocFrameBlock), modes 4 and 5
    DWORD m_nFrameBytes = 0;                   // one stored record (modes 4, 5) or 4 x cx x cy
    CDWordArray m_arrFrameSizes;               // mode 5 writer: each record's size
    CAlignedBuffer<DWORD> m_pFrameSizeTable;   // mode 5 reader: the frame-size table, at least the frame count's words
    // Mode 5 reader: the last record located, as a frame number and its offset
    // from the first record, so that playing forward (or near the last frame)
    // sums a few table words, not every word before the frame.
    unsigned m_nPlacedFrame = 0;
    ULONGLONG m_nPlacedOffset = 0;

    CRecordStore() = default;
    // A failed Open or Create can leave the raw handle behind; it must not outlive the file.
    ~CRecordStore() {
        if (m_hRawFile) CloseHandle(m_hRawFile);
    }
    CRecordStore(const CRecordStore&) = delete;
    CRecordStore& operator=(const CRecordStore&) = delete;
};
