// rvo bench on Windows: the benchmark programs are built only by the Linux
// release preset, so the subcommand is there and says where to run it.
#include <memory>
#include <string>
#include <vector>

#include "tools/rvo/Commands.h"
#include "tools/rvo/ToolSupport.h"

void RegisterBench(CLI::App& app) {
    auto names = std::make_shared<std::vector<std::string>>();
    auto dir = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("bench", "Run the benchmark programs and print their tables of ratios to a baseline.");
    cmd->footer("The benchmark programs are built only by the Linux release preset: run build/rvo bench there.");
    cmd->add_option("--bench-dir", *dir, "folder of the benchmark programs");
    cmd->add_option("NAME", *names, "which benchmarks (default: all)")
        ->check(CLI::IsMember({"codec", "encoder", "reader", "delivery", "threads", "pack"}));
    cmd->callback([names, dir] {
        throw ToolFailure("bench: the benchmark programs are built only by the Linux release preset; run build/rvo bench there");
    });
}
