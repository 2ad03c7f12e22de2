// Entry picture rebuild (not yet built).
#include "container/RvoFile.h"

int CRvoFile::RebuildFrame(int, DWORD*, int, int, int) { return 0; }
int CRvoFile::LoadEntryBlob(int) { return 0; }
HGLOBAL CRvoFile::TakeBlob(int) { return nullptr; }
int CRvoFile::ReadStillImage(int, int, int, DWORD*) { return 0; }
