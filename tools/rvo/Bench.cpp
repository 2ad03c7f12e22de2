// rvo bench: runs the benchmark programs built next to the tool (bench/ in the
// release build folder) and passes their tables through. Each program times
// its subject against a baseline measured in the same run and prints the ratio.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/rvo/Commands.h"
#include "tools/rvo/ToolSupport.h"

namespace fs = std::filesystem;

namespace {

struct BenchProgram {
    const char* pszName;   // as given on the command line
    const char* pszProgram;
    bool bScratch;   // takes a folder for its movie files
    const char* pszWhat;
};

const BenchProgram kPrograms[] = {
    {"codec", "CodecBench", false, "JPEG engine against plain libjpeg"},
    {"encoder", "EncoderBench", true, "packed, raw and JPEG writing against memcpy"},
    {"reader", "ReaderBench", true, "reading every mode against memcpy (and ffmpeg qtrle when present)"},
    {"delivery", "DeliveryBench", false, "preload cache delivery against memcpy"},
    {"threads", "ThreadsBench", true, "rvo encode and decode on every core against one thread, and the disk"},
    {"pack", "PackBench", true, "packed records by the standard rule against the smallest, built, encoded and decoded"},
};

struct BenchOptions {
    std::string strDir;
    std::vector<std::string> names;
};

fs::path DefaultBenchDir() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path("build/bench") : self.parent_path() / "bench";
}

// Runs the program with its output going straight to ours; its exit status.
int RunProgram(const std::string& program, const std::vector<std::string>& args) {
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void RunBench(const BenchOptions& o) {
    const fs::path dir = o.strDir.empty() ? DefaultBenchDir() : fs::path(o.strDir);
    std::vector<const BenchProgram*> chosen;
    for (const BenchProgram& p : kPrograms)
        if (o.names.empty() || std::find(o.names.begin(), o.names.end(), p.pszName) != o.names.end())
            chosen.push_back(&p);
    for (const BenchProgram* p : chosen) {
        std::error_code ec;
        if (!fs::is_regular_file(dir / p->pszProgram, ec))
            FailFile((dir / p->pszProgram).string(), "benchmark program not found (build the release preset: make build-release)");
    }

    std::string scratchTemplate = (fs::temp_directory_path() / "rvo-bench-XXXXXX").string();
    if (!mkdtemp(scratchTemplate.data())) FailFile(scratchTemplate, "cannot create a scratch folder");
    const std::string scratch = scratchTemplate;

    std::string failed;
    for (const BenchProgram* p : chosen) {
        std::printf("== %s: %s ==\n", p->pszProgram, p->pszWhat);
        std::vector<std::string> args;
        if (p->bScratch) args.push_back(scratch);
        int rc = RunProgram((dir / p->pszProgram).string(), args);
        std::printf("\n");
        if (rc != 0 && failed.empty()) failed = std::string(p->pszProgram) + " exited with " + std::to_string(rc);
    }
    std::error_code ec;
    fs::remove_all(scratch, ec);
    if (!failed.empty()) FailFile(dir.string(), failed);
}

}   // namespace

void RegisterBench(CLI::App& app) {
    auto opts = std::make_shared<BenchOptions>();
    CLI::App* cmd = app.add_subcommand("bench", "Run the benchmark programs and print their tables of ratios to a baseline.");
    cmd->footer(
        "Run the benchmark programs (codec, encoder, reader, delivery, threads, pack)\n"
        "and print their tables. Every figure is compared with a baseline (memcpy of the\n"
        "same frames, plain libjpeg, or the tool on one thread) measured in the same\n"
        "run, so the ratios hold across machines better than the times do.\n"
        "\n"
        "Examples:\n  rvo bench\n  rvo bench reader delivery\n"
        "The programs are looked up in bench/ next to the rvo program (build/bench/ after make).");
    cmd->add_option("--bench-dir", opts->strDir, "folder of the benchmark programs");
    cmd->add_option("NAME", opts->names, "which benchmarks (default: all)")
        ->check(CLI::IsMember({"codec", "encoder", "reader", "delivery", "threads", "pack"}));
    cmd->callback([opts] { RunBench(*opts); });
}
