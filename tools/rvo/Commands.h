// The rvo tool's subcommands. Each lives in its own file and adds itself to the
// application through one Register function, which main.cpp calls in order.
#pragma once

#include <CLI/CLI.hpp>


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
