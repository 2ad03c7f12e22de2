// The plug-in's exported entry point. Only `Main` leaves the library (with
// SetReadImageFunc and SetGetImgInfoFunc in the ELF build: plugin/rvoplugin.map;
// on Windows plugin/rvoplugin.def); everything else stays inside. The load and
// unload steps are in plugin/posix/Load.cpp and plugin/win32/DllMain.cpp.
#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "plugin/Dispatch.h"
#include "plugin/OpenHandles.h"

namespace {

// Handles born in commands 5, 6 and 9 and not yet closed by command 10.
std::mutex g_mtxOpen;
std::vector<RvoHandle*> g_arrOpen;

void Track(RvoHandle* pGone, RvoHandle* pBorn) {
    std::lock_guard<std::mutex> lock(g_mtxOpen);
    if (pGone) g_arrOpen.erase(std::remove(g_arrOpen.begin(), g_arrOpen.end(), pGone), g_arrOpen.end());
    // Without room to note it the handle still works; only an unload would not close it.
    try {
        if (pBorn) g_arrOpen.push_back(pBorn);
    } catch (const std::bad_alloc&) {
    }
}

}   // namespace

// Hosts built by other compilers call with the stack aligned to 4 bytes only;
// the module's SSE code wants 16.
#if defined(__i386__)
#define RVO_REALIGN __attribute__((force_align_arg_pointer))
#else
#define RVO_REALIGN
#endif

extern "C" RVO_EXPORT int WINAPI RVO_REALIGN
Main(unsigned nCommand, HostMediaInfo* pIn, HostMediaInfo* pOut, RvoHandle** ppHandle) {
    // RvoDispatch already turns exceptions into failures; this guard keeps that
    // promise at the library boundary whatever the dispatcher becomes.
    try {
        RvoHandle* pBefore = ppHandle ? *ppHandle : nullptr;
        const int rc = RvoDispatch(nCommand, pIn, pOut, ppHandle);
        if (ppHandle && *ppHandle != pBefore) Track(pBefore, *ppHandle);
        return rc;
    } catch (...) {
        return kHostFailed;
    }
}

void CloseOpenHandles() {
    std::vector<RvoHandle*> arrOpen;
    {
        std::lock_guard<std::mutex> lock(g_mtxOpen);
        arrOpen.swap(g_arrOpen);
    }
    for (RvoHandle* pHandle : arrOpen) RvoDispatch(CMD_CLOSE, nullptr, nullptr, &pHandle);
}
