// The picture blob's life: whether a handle is a live block, and freeing it.
#include "codec/JpegBlob.h"

#include "platform/GlobalMemory.h"

BOOL IsLiveJpegBlob(HGLOBAL h) { return h && GlobalFlags(h) != GMEM_INVALID_HANDLE; }

BOOL FreeJpegBlob(HGLOBAL h) { return IsLiveJpegBlob(h) && GlobalFree(h) == nullptr; }
