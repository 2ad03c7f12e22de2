// The DLL's load and unload steps (process attach and detach); thread attach
// and detach do nothing.
#include "plugin/Dispatch.h"

namespace {
constexpr DWORD kProcessDetach = 0, kProcessAttach = 1;
}

extern "C" BOOL WINAPI DllMain(void* hModule, DWORD dwReason, void* pReserved) {
    if (dwReason == kProcessAttach) return RvoModuleAttach();
    if (dwReason == kProcessDetach) RvoModuleDetach();
    return TRUE;
}
