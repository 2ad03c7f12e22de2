// The page-lock limit of rvo preload on Windows: locked pages count against
// the process's working set, which the module raises itself while it locks
// (platform/win32/Memory.cpp), so there is no limit for the tool to raise.
#include <string>

#include "tools/rvo/HostSession.h"

std::string RaiseLockLimit() { return "page locking within the working set, which the module raises as it locks"; }
std::string CurrentLockLimit() { return "the working set, which the module raises as it locks"; }
