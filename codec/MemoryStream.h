// A byte stream over a memory block: the place the libjpeg source and
// destination managers read compressed data from and write it to.
#pragma once

#include "platform/Types.h"

struct MemoryStream {
    DWORD capacity;   // writing: the space offered; reading: the length of the one stream
    DWORD position;   // bytes written or read so far
    BYTE* base;
};

// Copies up to n bytes from the stream; fewer (the rest) near the end.
DWORD MemoryStreamRead(MemoryStream* s, void* pDst, DWORD n);
// Copies all n bytes when they end strictly below the capacity, else nothing;
// a write that would end exactly at the capacity fails. Returns n or 0.
DWORD MemoryStreamWrite(MemoryStream* s, const void* pSrc, DWORD n);
