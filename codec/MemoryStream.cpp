// The memory stream's bounded reads and writes.
#include "codec/MemoryStream.h"

#include <cstring>

DWORD MemoryStreamRead(MemoryStream* s, void* pDst, DWORD n) {
    DWORD dwLeft = s->capacity > s->position ? s->capacity - s->position : 0;
    if (n > dwLeft) n = dwLeft;
    if (n == 0) return 0;
    std::memcpy(pDst, s->base + s->position, n);
    s->position += n;
    return n;
}

DWORD MemoryStreamWrite(MemoryStream* s, const void* pSrc, DWORD n) {
    if ((ULONGLONG)s->position + n >= s->capacity) return 0;
    if (n == 0) return 0;
    std::memcpy(s->base + s->position, pSrc, n);
    s->position += n;
    return n;
}
