// Little-endian loads and stores of 16- and 32-bit values at any byte address:
// every integer the files, blobs and records hold is stored this way.
#pragma once

#include "platform/Types.h"

inline WORD LoadLe16(const BYTE* p) {
    return (WORD)(p[0] | (p[1] << 8));
}

inline DWORD LoadLe32(const BYTE* p) {
    return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

inline void StoreLe16(BYTE* p, WORD v) {
    p[0] = (BYTE)v;
    p[1] = (BYTE)(v >> 8);
}

inline void StoreLe32(BYTE* p, DWORD v) {
    p[0] = (BYTE)v;
    p[1] = (BYTE)(v >> 8);
    p[2] = (BYTE)(v >> 16);
    p[3] = (BYTE)(v >> 24);
}
