// The system's own readability test.
#include "platform/ReadCheck.h"

#include "platform/win32/Win32Api.h"

BOOL IsBadReadPtr(const void* lp, size_t ucb) {
    if (ucb == 0) return FALSE;
    if (!lp) return TRUE;
    return w32::IsBadReadPtr(lp, ucb) ? TRUE : FALSE;
}
