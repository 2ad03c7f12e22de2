// Loading the plug-in once for the host tests.
#include <dlfcn.h>

#include <cstdlib>

#include "HostRecord.h"

namespace host {

Plugin& Module() {
    static Plugin p = [] {
        Plugin m;
        const char* path = std::getenv("RVO_PLUGIN");
        m.lib = dlopen(path ? path : RVO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!m.lib) {
            m.error = dlerror();
            return m;
        }
        m.main = reinterpret_cast<MainFn>(dlsym(m.lib, "Main"));
        return m;
    }();
    return p;
}

}   // namespace host
