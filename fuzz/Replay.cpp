// Replays stored inputs through every fuzz target without libFuzzer, so that
// every build (and every sanitizer) runs the regression inputs and the seeds:
//   rvo_fuzz_replay [--seeds] [file or folder]...
//   rvo_fuzz_replay --write-seeds FOLDER     (FOLDER/<target>/<seed> for the fuzzers)
//   rvo_fuzz_replay --corruption-sweep N [SEED]   (N seeded damages per mode, counted)
//   rvo_fuzz_replay --crash-sweep N [SEED]        (N seeded crash points per mode, counted)
//   rvo_fuzz_replay --io-sweep FRAMES             (every file call failing, FRAMES 96x64 frames per mode)
// A finding aborts the program; otherwise it prints what it ran and exits 0.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/Seeds.h"
#include "tests/support/CorruptionSweep.h"
#include "tests/support/CrashSweep.h"
#include "tests/support/IoErrorSweep.h"
#include "tests/support/TestFiles.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace fs = std::filesystem;
using namespace rvofuzz;

namespace {

// What runs now, for the report of a crash (written from a signal handler).
char g_szCurrent[1024];

void ReportCurrent() {
    const char prefix[] = "\nrvo_fuzz_replay: the failing run: ";
    if (write(2, prefix, sizeof prefix - 1) < 0) return;
    if (write(2, g_szCurrent, strnlen(g_szCurrent, sizeof g_szCurrent)) < 0) return;
    if (write(2, "\n", 1) < 0) return;
}

void OnFatalSignal(int sig) {
    ReportCurrent();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void RunEverywhere(const std::string& name, const std::vector<uint8_t>& bytes, size_t& nRuns) {
    for (const Target& t : kTargets) {
        std::snprintf(g_szCurrent, sizeof g_szCurrent, "target %s, input %s", t.pszName, name.c_str());
        t.pfn(bytes.data(), bytes.size());
        nRuns++;
    }
}

// The corruption target's checks over n damages per mode drawn from nSeed,
// with what they found; exit 1 at the first failure.
int CorruptionSweep(int n, uint64_t nSeed) {
    for (LONG nMode : {3, 4, 5}) {
        const std::string name = "sweep" + std::to_string(nMode);
        rvotest::SweepMovie m;
        if (!rvotest::MakeSweepMovie(nMode, ScratchPath((name + "-intact").c_str()), ScratchPath((name + "-damaged").c_str()), &m)) {
            std::printf("mode %d: the movie cannot be made\n", (int)nMode);
            return 1;
        }
        rvotest::SweepCounts c;
        const std::string strFailure = rvotest::RunCorruptionSweep(m, nSeed + (uint64_t)nMode, n, &c);
        std::printf(
            "mode %d: %lld damages, %lld opened, %lld had to be found, %lld found; %lld intact frames read back "
            "exactly, %lld damaged pictures read back exactly, %lld changed unnoticed by the reader%s%s\n",
            (int)nMode, c.nDamages, c.nOpened, c.nMustFind, c.nFound, c.nIntactFrames, c.nReadFromOtherCopy, c.nChangedUnnoticed,
            strFailure.empty() ? "" : "; FAILED at ", strFailure.c_str());
        if (!strFailure.empty()) return 1;
    }
    return 0;
}

// n crash points per mode drawn with the seed over the crash sweep's movies
// (half by write, half by byte), with what recovery gave back.
int CrashSweep(int n, uint64_t nSeed) {
    for (LONG nMode : {3, 4, 5}) {
        const rvotest::CrashMovie* m = CrashMovieOfMode(nMode);
        if (!m) {
            std::printf("no crash point hook on this platform\n");
            return 1;
        }
        std::mt19937_64 rng(nSeed + (uint64_t)nMode);
        rvotest::CrashCounts c;
        std::string strFailure;
        for (int i = 0; i < n && strFailure.empty(); i++) {
            const bool bBytes = (i & 1) != 0;
            const ULONGLONG k = rng() % ((bBytes ? m->nBytes : m->nWrites) + 1);
            strFailure = rvotest::CheckCrashPoint(*m, bBytes, k, &c);
            if (!strFailure.empty())
                strFailure = std::string("crash at ") + (bBytes ? "byte " : "write ") + std::to_string(k) + ": " + strFailure;
        }
        std::printf(
            "mode %d: %lld crash points over %llu writes and %llu bytes, %lld recovered (%lld whole frames back), "
            "%lld finished, %lld torn final headers%s%s\n",
            (int)nMode, c.nPoints, (unsigned long long)m->nWrites, (unsigned long long)m->nBytes, c.nRecovered,
            c.nFramesBack, c.nFinished, c.nTorn, strFailure.empty() ? "" : "; FAILED at ", strFailure.c_str());
        if (!strFailure.empty()) return 1;
    }
    return 0;
}

// The I/O-error sweep of make test over a longer movie: every file call of
// writing, reading and preloading nFrames 96x64 frames fails in turn, in each
// mode, with EIO and EACCES once and with a disk that stays full.
int IoSweep(int nFrames) {
    const std::string failure = rvotest::SweepEveryIoError(96, 64, nFrames, rvotest::ScratchPath("io-sweep"));
    if (!failure.empty()) std::printf("FAILED at %s\n", failure.c_str());
    return failure.empty() ? 0 : 1;
}

int WriteSeeds(const fs::path& dir) {
    for (const Target& t : kTargets) {
        const fs::path sub = dir / t.pszName;
        fs::create_directories(sub);
        for (const Seed& s : MakeSeeds(t.pszName)) rvotest::WriteAll((sub / s.first).string(), s.second);
    }
    return 0;
}

}   // namespace

int main(int argc, char** argv) {
    Setup();
    if (argc == 3 && std::strcmp(argv[1], "--write-seeds") == 0) return WriteSeeds(argv[2]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--corruption-sweep") == 0)
        return CorruptionSweep(std::atoi(argv[2]), argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1);
    if (argc == 3 && std::strcmp(argv[1], "--io-sweep") == 0) return IoSweep(std::atoi(argv[2]));
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--crash-sweep") == 0)
        return CrashSweep(std::atoi(argv[2]), argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1);
    std::signal(SIGSEGV, OnFatalSignal);
    std::signal(SIGABRT, OnFatalSignal);
    std::signal(SIGBUS, OnFatalSignal);
    std::signal(SIGFPE, OnFatalSignal);
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_death_callback(ReportCurrent);
#endif
    size_t nInputs = 0, nRuns = 0;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--seeds") == 0) {
            for (const Target& t : kTargets)
                for (const Seed& s : MakeSeeds(t.pszName)) {
                    RunEverywhere(std::string("seed ") + t.pszName + "/" + s.first, s.second, nRuns);
                    nInputs++;
                }
            continue;
        }
        const fs::path arg(argv[i]);
        std::vector<fs::path> files;
        if (fs::is_directory(arg)) {
            for (const auto& e : fs::recursive_directory_iterator(arg))
                if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
        } else {
            files.push_back(arg);
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            RunEverywhere(f.string(), rvotest::ReadAll(f.string()), nRuns);
            nInputs++;
        }
    }
    std::printf("replayed %zu inputs, %zu target runs, no finding\n", nInputs, nRuns);
    return 0;
}
