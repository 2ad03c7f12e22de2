// What every benchmark does the same way: it checks its subject's output
// before anything is timed, discards a warm-up call, times the subject and its
// baseline taking turns on the same frames, and prints one row per subject:
// time per frame, frames/s, MB/s and the ratio to the baseline.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace rvobench {

// The work for call i; callers cycle their frames with i.
using Step = std::function<void(int i)>;

struct Rounds {
    int nRounds = 7;             // the fastest round counts: other processes share the machine
    double dMinSeconds = 0.05;   // a round calls the step at least this long,
    int nMinCalls = 1;           // at least this often,
    int nMaxCalls = 0;           // and at most this often (0: no limit), for steps that grow a file
};

struct Timing {
    double dSeconds = 0;       // per call, in the subject's fastest round
    double dBaseSeconds = 0;   // per call of the baseline; 0 without one
    long nCalls = 0;           // timed calls of the subject over all rounds
    double Ratio() const { return dBaseSeconds > 0 ? dSeconds / dBaseSeconds : 0; }
};

// Prints "  <what>: <problem>; not timed" unless bOk; returns bOk.
bool Verified(bool bOk, const char* pszWhat, const char* pszProblem);

// One warm-up call of each, discarded; then the rounds, subject and baseline in turn.
Timing Time(const Step& subject, const Step& baseline = nullptr, const Rounds& rounds = Rounds());

// "  <label>  <ms> ms  <frames/s> frames/s  <MB/s> MB/s  <ratio>x <base>  <note>" for
// frames of nFrameBytes; the ratio only when the timing has a baseline.
void PrintRow(const char* pszLabel, const Timing& t, size_t nFrameBytes, const char* pszBase = "",
              const char* pszNote = "");

// Runs the program with args, stdin from pszIn and stdout into pszOut; true
// when it exits 0.
bool RunTool(const std::string& program, const std::vector<std::string>& args, const char* pszIn,
             const char* pszOut);

// The rvo program a benchmark runs: argv[2] when given, else the one at the
// root of the build folder the benchmark was built in. Empty, with a message
// naming the benchmark, when there is none.
std::string FindRvoProgram(int argc, char** argv, const char* pszBench);

// Whether both files hold the same bytes.
bool SameFile(const std::string& a, const std::string& b);

// "raw", "alpha runs" or "colour runs": the type of a packed record.
const char* PackedTypeName(DWORD dwTag);

}   // namespace rvobench
