// The rvo tool: inspect, write and read RVO movie files through the module's
// own code paths. Exit codes: 0 success, 1 bad input or failed operation,
// 2 usage error.
#include <cstdio>
#include <string>

#include "codec/LibjpegVersion.h"
#include "plugin/Dispatch.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/System.h"
#include "tools/rvo/ToolSupport.h"

namespace {

std::string VersionText() {
    return "rvo " RVO_VERSION
           "\n"
           "storage modes: 2 ImageList (read only), 3 JpegBlobs, 4 RawFrames, 5 PackedFrames; mode 1 read as 3\n" +
           LibjpegVersion();
}

}   // namespace

int RunTool(int argc, char** argv) {
    // The tool links the module core directly, so it runs the load-time set-up itself.
    RvoModuleAttach();
    PrepareProcess();

    CLI::App app{"rvo: inspect, write and read RVO movie files (32-bit BGRA frames)."};
    // Options are written as on Linux everywhere, and a path may start with '/'.
    app.allow_windows_style_options(false);
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
    RegisterThumbnail(app);

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
