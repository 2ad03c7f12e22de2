// IsBadReadPtr: whether a caller's memory range can be read, tested without
// touching it (so an unmapped range reports failure instead of faulting); the
// system's own on Windows.
#pragma once

#include <cstddef>

#include "platform/Types.h"

// TRUE when any byte of [lp, lp + ucb) cannot be read, or lp is null and ucb is
// not 0; FALSE for ucb 0. Also TRUE when the probe itself cannot be set up.
BOOL IsBadReadPtr(const void* lp, size_t ucb);
