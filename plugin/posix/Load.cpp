// The ELF library's load and unload steps.
#include "plugin/Dispatch.h"

namespace {

__attribute__((constructor)) void OnLoad() { RvoModuleAttach(); }

__attribute__((destructor)) void OnUnload() { RvoModuleDetach(); }

}   // namespace
