// Movable global-memory blocks: the system's own.
#include "platform/GlobalMemory.h"

#include "platform/win32/Win32Api.h"

HGLOBAL GlobalAlloc(UINT uFlags, size_t dwBytes) { return w32::GlobalAlloc(uFlags, dwBytes); }
void* GlobalLock(HGLOBAL hMem) { return w32::GlobalLock(hMem); }
BOOL GlobalUnlock(HGLOBAL hMem) { return w32::GlobalUnlock(hMem); }
HGLOBAL GlobalFree(HGLOBAL hMem) { return w32::GlobalFree(hMem); }
UINT GlobalFlags(HGLOBAL hMem) { return w32::GlobalFlags(hMem); }
size_t GlobalSize(HGLOBAL hMem) { return w32::GlobalSize(hMem); }
