// Rectangle intersection by user32.
#include "platform/Rect.h"

#include "platform/win32/Win32Api.h"

// The module's RECT has the system's layout: four 32-bit LONGs.
BOOL IntersectRect(RECT* pOut, const RECT* a, const RECT* b) {
    return w32::IntersectRect(pOut, a, b) ? TRUE : FALSE;
}
