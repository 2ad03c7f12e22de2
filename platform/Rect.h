// Rectangle intersection (IntersectRect role; user32's on Windows).
#pragma once

#include "platform/Types.h"

// The intersection of a and b in *pOut; an empty result is (0, 0, 0, 0) and returns FALSE.
BOOL IntersectRect(RECT* pOut, const RECT* a, const RECT* b);
