// Delivery from the preload cache (not yet built).
#include "container/RvoFile.h"

int CRvoFile::DeliverField(unsigned, DWORD*, int, int) { return 0; }
