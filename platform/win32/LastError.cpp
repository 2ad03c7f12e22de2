// The thread's Win32 last-error value.
#include "platform/LastError.h"

#include "platform/win32/Win32Api.h"

void SetLastError(DWORD dwError) { w32::SetLastError(dwError); }
DWORD GetLastError() { return (DWORD)w32::GetLastError(); }
