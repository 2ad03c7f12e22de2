// Raising the MFC-style exceptions.
#include "platform/Exceptions.h"

void AfxThrowArchiveException(int cause) { throw CArchiveException(cause); }
void AfxThrowInvalidArgException() { throw CInvalidArgException(); }
void AfxThrowMemoryException() { throw CMemoryException(); }
void AfxThrowOleException(DWORD sc) { throw COleException(sc); }
