// The rvo tool: inspect, write and read RVO movie files through the module's
// own code paths. Exit codes: 0 success, 1 bad input or failed operation,
// 2 usage error.
#include <cstdio>

#include "plugin/Dispatch.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/ToolSupport.h"

int main(int argc, char** argv) {
    // The tool links the module core directly, so it runs the load-time set-up itself.
    RvoModuleAttach();

    CLI::App app{"rvo: inspect, write and read RVO movie files (32-bit BGRA frames)."};
    app.require_subcommand(1);
    RegisterInfo(app);
    RegisterEncode(app);
    RegisterDecode(app);
    RegisterVerify(app);
    RegisterRecover(app);
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
