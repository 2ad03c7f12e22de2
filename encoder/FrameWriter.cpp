// Frame writer (not yet built).
#include "container/RvoFile.h"

BOOL CRvoFile::WriteFrame(const DWORD*, int) { return FALSE; }
BOOL CRvoFile::WritePackedFrame(const DWORD*, int) { return FALSE; }
