// The calling thread's last-error value, as SetLastError/GetLastError keep it
// (on Windows the system's own, so a host sees the module's codes).
#pragma once

#include "platform/Types.h"

void SetLastError(DWORD dwError);
DWORD GetLastError();

// Whether dwError is the system's failure of a transfer (the device could not
// read or write, the disk is full, access was refused), as opposed to what the
// module finds wrong in a file's bytes: the file may well be whole.
inline bool IsIoFailure(DWORD dwError) {
    switch (dwError) {
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_DISK_FULL:
    case ERROR_ACCESS_DENIED:
        return true;
    default:
        return false;
    }
}

// Records the code and returns 0, so a failing path reads `return Fail(code);`.
inline int Fail(DWORD dwError) {
    SetLastError(dwError);
    return 0;
}
