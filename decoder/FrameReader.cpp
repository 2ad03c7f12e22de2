// Frame reader (not yet built).
#include "container/RvoFile.h"

int CRvoFile::FindEntry(unsigned) { return -1; }
int CRvoFile::LocateFrame(unsigned) { return -1; }
int CRvoFile::ReadFrame(unsigned, DWORD*, int, int, BOOL, int) { return 0; }
