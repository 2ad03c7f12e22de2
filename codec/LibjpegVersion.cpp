// The libjpeg version text. libjpeg-turbo has no run-time version call, so the
// text names the library file the dynamic linker loaded and the API version
// from its message table, beside what the headers said at build time.
#include "codec/LibjpegVersion.h"

#include <cstdlib>

#include <jpeglib.h>
#include <jerror.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#define RVO_STRINGIFY2(x) #x
#define RVO_STRINGIFY(x) RVO_STRINGIFY2(x)

std::string LibjpegVersion() {
    std::string s = "libjpeg: built with ";
#ifdef LIBJPEG_TURBO_VERSION
    s += "libjpeg-turbo " RVO_STRINGIFY(LIBJPEG_TURBO_VERSION) ", ";
#endif
    s += "JPEG_LIB_VERSION " RVO_STRINGIFY(JPEG_LIB_VERSION) "; running ";
    jpeg_error_mgr err;
    jpeg_std_error(&err);
    if (err.jpeg_message_table && err.last_jpeg_message >= JMSG_VERSION && err.jpeg_message_table[JMSG_VERSION])
        s += std::string("API ") + err.jpeg_message_table[JMSG_VERSION];
#ifndef _WIN32
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&jpeg_std_error), &info) && info.dli_fname) {
        char* real = realpath(info.dli_fname, nullptr);
        s += std::string(" from ") + (real ? real : info.dli_fname);
        free(real);
        return s;
    }
#endif
    s += " (linked in)";
    return s;
}
