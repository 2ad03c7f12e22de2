// The crash point of the file layer's test hook (SetCrashPointOverride in
// platform/RawFile.h), shared by the POSIX and Win32 file calls: every write
// asks it how many of its bytes may reach the file.
#pragma once

#include "platform/Types.h"

// How many of nBytes a write may pass to the file: all of them while the hook
// is not armed; fewer, then none, once the crash point is reached.
DWORD CrashGate(DWORD nBytes);
// Whether the armed hook has reached its crash point (nothing reaches a file now).
bool Crashed();
