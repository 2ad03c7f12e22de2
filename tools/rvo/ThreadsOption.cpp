#include "tools/rvo/ThreadsOption.h"

#include <thread>

namespace {

constexpr int kMaxThreads = 64;

int DefaultThreadCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n > (unsigned)kMaxThreads ? kMaxThreads
                                                  : (int)n;
}

}   // namespace

void AddThreadsOption(CLI::App* cmd, int* pnThreads) {
    *pnThreads = DefaultThreadCount();
    cmd->add_option("--threads", *pnThreads,
                    "frames worked on at once, each on its own thread (default: one per core); 1 does "
                    "everything on one thread")
        ->check(CLI::Range(1, kMaxThreads));
}
