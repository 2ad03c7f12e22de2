// The plug-in's exported entry point and its load and unload steps. Only
// `Main`, SetReadImageFunc and SetGetImgInfoFunc leave the library
// (plugin/rvoplugin.map); everything else stays inside.
#include "plugin/Dispatch.h"

extern "C" __attribute__((visibility("default"))) int WINAPI
Main(unsigned nCommand, HostMediaInfo* pIn, HostMediaInfo* pOut, RvoHandle** ppHandle) {
    // RvoDispatch already turns exceptions into failures; this guard keeps that
    // promise at the library boundary whatever the dispatcher becomes.
    try {
        return RvoDispatch(nCommand, pIn, pOut, ppHandle);
    } catch (...) {
        return kHostFailed;
    }
}

namespace {

__attribute__((constructor)) void OnLoad() { RvoModuleAttach(); }

__attribute__((destructor)) void OnUnload() { RvoModuleDetach(); }

}  // namespace
