// The rvo tool: inspect, write and read RVO movie files through the module's
// own code paths. Exit codes: 0 success, 1 bad input or failed operation,
// 2 usage error.
#include <dlfcn.h>
#include <stdlib.h>

#include <csignal>
#include <cstdio>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

#include "plugin/Dispatch.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/ToolSupport.h"

namespace {

#define RVO_STRINGIFY2(x) #x
#define RVO_STRINGIFY(x) RVO_STRINGIFY2(x)

// The libjpeg the tool runs with: libjpeg-turbo has no run-time version call,
// so name the library file the dynamic linker loaded and the API version from
// its message table, beside what the headers said at build time.
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
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&jpeg_std_error), &info) && info.dli_fname) {
        char* real = realpath(info.dli_fname, nullptr);
        s += std::string(" from ") + (real ? real : info.dli_fname);
        free(real);
    } else {
        s += " (linked in)";
    }
    return s;
}

std::string VersionText() {
    return "rvo " RVO_VERSION "\n"
           "storage modes: 2 ImageList (read only), 3 JpegBlobs, 4 RawFrames, 5 PackedFrames; mode 1 read as 3\n" +
           LibjpegVersion();
}

}  // namespace

int main(int argc, char** argv) {
    // The tool links the module core directly, so it runs the load-time set-up itself.
    RvoModuleAttach();
    // A file that reaches the file-size limit (ulimit -f) is a write that fails,
    // which the tool reports and survives, finishing the file; not a kill.
    std::signal(SIGXFSZ, SIG_IGN);

    CLI::App app{"rvo: inspect, write and read RVO movie files (32-bit BGRA frames)."};
    app.require_subcommand(1);
    app.set_version_flag("--version", VersionText, "Print the version, the storage modes and the libjpeg in use, and exit");
    RegisterInfo(app);
    RegisterEncode(app);
    RegisterDecode(app);
    RegisterVerify(app);
    RegisterRecover(app);
    RegisterRepair(app);
    RegisterPreload(app);
    RegisterBench(app);
    RegisterDemo(app);

    int rc = 0;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help is a parse "error" with exit code 0; real usage errors exit with 2.
        rc = app.exit(e) == 0 ? 0 : 2;
    } catch (const ToolFailure& e) {
        std::fprintf(stderr, "rvo: %s\n", e.what());
        rc = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rvo: %s\n", e.what());
        rc = 1;
    }
    RvoModuleDetach();
    return rc;
}
