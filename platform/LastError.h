// The calling thread's last-error value, as SetLastError/GetLastError keep it
// (on Windows the system's own, so a host sees the module's codes).
#pragma once

#include "platform/Types.h"

void SetLastError(DWORD dwError);
DWORD GetLastError();

// Records the code and returns 0, so a failing path reads `return Fail(code);`.
inline int Fail(DWORD dwError) {
    SetLastError(dwError);
    return 0;
}
