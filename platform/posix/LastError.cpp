// Per-thread last-error value.
#include "platform/LastError.h"

namespace {
thread_local DWORD t_dwLastError = 0;
}

void SetLastError(DWORD dwError) { t_dwLastError = dwError; }
DWORD GetLastError() { return t_dwLastError; }
