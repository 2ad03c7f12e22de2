// --threads N for the subcommands that spread frames over the cores.
#pragma once

#include <CLI/CLI.hpp>

// How many frames may be in flight for nThreads workers: read or decoded
// ahead of the one being written, plus those being worked on.
inline int FramesInFlight(int nThreads) { return 2 * nThreads; }

// Adds --threads to cmd; *pnThreads starts as one per core.
void AddThreadsOption(CLI::App* cmd, int* pnThreads);
