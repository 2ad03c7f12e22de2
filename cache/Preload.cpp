// Preloading (not yet built).
#include "container/RvoFile.h"

BOOL CRvoFile::Preload(const WCHAR*, int, int) { return FALSE; }
