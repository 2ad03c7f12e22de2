// The rvo tool's subcommands. Each lives in its own file and adds itself to the
// application through one Register function, which main.cpp calls in order.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

void RegisterInfo(CLI::App& app);
void RegisterEncode(CLI::App& app);
void RegisterDecode(CLI::App& app);
void RegisterVerify(CLI::App& app);
void RegisterRecover(CLI::App& app);
void RegisterRepair(CLI::App& app);
void RegisterPreload(CLI::App& app);
void RegisterBench(CLI::App& app);
void RegisterDemo(CLI::App& app);
void RegisterThumbnail(CLI::App& app);

// rvo repair's work, for any command that meets a finished JPEG movie whose
// two copies of a picture differ: writes the movie with the whole copy in both
// places (to strOutput, by default FILE-repaired.ext, or over FILE with
// bInPlace), as the options say; throws a ToolFailure naming the file when it
// cannot.
struct RepairOptions {
    std::string strInput;
    std::string strOutput;   // empty: FILE-repaired.ext
    bool bForce = false;     // overwrite an existing output (or FILE.bak)
    bool bInPlace = false;   // replace the input, keeping FILE.bak unless bNoBackup
    bool bNoBackup = false;
};
void RunRepair(const RepairOptions& o);
