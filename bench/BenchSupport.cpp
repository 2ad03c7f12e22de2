// Timing and printing shared by the benchmarks.
#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "container/PackedRecord.h"

extern char** environ;

namespace rvobench {

namespace {

using Clock = std::chrono::steady_clock;

// Seconds per call over one round of calls starting at call `first`.
double Round(const Step& step, const Rounds& r, int& first) {
    const Clock::time_point t0 = Clock::now();
    double dElapsed = 0;
    int n = 0;
    do {
        step(first + n);
        n++;
        dElapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    } while ((n < r.nMinCalls || dElapsed < r.dMinSeconds) && (r.nMaxCalls <= 0 || n < r.nMaxCalls));
    first += n;
    return dElapsed / n;
}

}   // namespace

bool Verified(bool bOk, const char* pszWhat, const char* pszProblem) {
    if (!bOk) std::printf("  %s: %s; not timed\n", pszWhat, pszProblem);
    return bOk;
}

Timing Time(const Step& subject, const Step& baseline, const Rounds& rounds) {
    subject(0);
    if (baseline) baseline(0);
    Timing t;
    t.dSeconds = t.dBaseSeconds = 1e30;
    int nSubject = 1, nBase = 1;
    for (int i = 0; i < rounds.nRounds; i++) {
        if (baseline) t.dBaseSeconds = std::min(t.dBaseSeconds, Round(baseline, rounds, nBase));
        const int nBefore = nSubject;
        t.dSeconds = std::min(t.dSeconds, Round(subject, rounds, nSubject));
        t.nCalls += nSubject - nBefore;
    }
    if (!baseline) t.dBaseSeconds = 0;
    return t;
}

void PrintRow(const char* pszLabel, const Timing& t, size_t nFrameBytes, const char* pszBase, const char* pszNote) {
    std::printf("  %-38s %8.3f ms %8.1f frames/s %7.0f MB/s", pszLabel, t.dSeconds * 1e3, 1.0 / t.dSeconds,
                (double)nFrameBytes / t.dSeconds / 1e6);
    if (t.dBaseSeconds > 0) std::printf("  %6.2fx %s", t.Ratio(), pszBase);
    if (*pszNote) std::printf("  %s", pszNote);
    std::printf("\n");
}

bool RunTool(const std::string& program, const std::vector<std::string>& args, const char* pszIn,
             const char* pszOut) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, pszIn, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, pszOut, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string FindRvoProgram(int argc, char** argv, const char* pszBench) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string rvo = argc > 2 ? argv[2] : ec ? "build/rvo"
                                                    : (self.parent_path().parent_path() / "rvo").string();
    if (!std::filesystem::is_regular_file(rvo, ec)) {
        std::printf("%s: %s not found (build the release preset, or name the rvo program)\n", pszBench, rvo.c_str());
        return std::string();
    }
    return rvo;
}

bool SameFile(const std::string& a, const std::string& b) {
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    bool bSame = fa && fb;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (bSame) {
        const size_t na = std::fread(ba.data(), 1, ba.size(), fa), nb = std::fread(bb.data(), 1, bb.size(), fb);
        bSame = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na < ba.size()) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return bSame;
}

const char* PackedTypeName(DWORD dwTag) {
    return dwTag == rvo::PackedRaw ? "raw" : dwTag == rvo::PackedAlphaRuns ? "alpha runs"
                                                                           : "colour runs";
}

}   // namespace rvobench
