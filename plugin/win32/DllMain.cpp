// The DLL's load and unload steps (process attach and detach); thread attach
// and detach do nothing.
#include "plugin/Dispatch.h"
#include "plugin/HostLibrary.h"
#include "plugin/OpenHandles.h"

namespace {
constexpr DWORD kProcessDetach = 0, kProcessAttach = 1;
}

extern "C" BOOL WINAPI DllMain(void* hModule, DWORD dwReason, void* pReserved) {
    if (dwReason == kProcessAttach) return RvoModuleAttach();
    if (dwReason == kProcessDetach) {
        // Unloaded by the host (not process exit, when other threads are gone
        // mid-call and the system closes the files): what is open is closed.
        if (!pReserved) {
            CloseOpenHandles();
            ReleaseHostLibrary();
        }
        RvoModuleDetach();
    }
    return TRUE;
}
