// The plug-in's exported entry point. Only `Main` leaves the library (with
// SetReadImageFunc and SetGetImgInfoFunc in the ELF build: plugin/rvoplugin.map;
// on Windows plugin/rvoplugin.def); everything else stays inside. The load and
// unload steps are in plugin/posix/Load.cpp and plugin/win32/DllMain.cpp.
#include "plugin/Dispatch.h"

extern "C" RVO_EXPORT int WINAPI
Main(unsigned nCommand, HostMediaInfo* pIn, HostMediaInfo* pOut, RvoHandle** ppHandle) {
    // RvoDispatch already turns exceptions into failures; this guard keeps that
    // promise at the library boundary whatever the dispatcher becomes.
    try {
        return RvoDispatch(nCommand, pIn, pOut, ppHandle);
    } catch (...) {
        return kHostFailed;
    }
}
