// Timing and printing shared by the benchmarks.
#include "bench/BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "container/PackedRecord.h"

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

}  // namespace

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

const char* PackedTypeName(DWORD dwTag) {
    return dwTag == rvo::PackedRaw ? "raw" : dwTag == rvo::PackedAlphaRuns ? "alpha runs" : "colour runs";
}

}  // namespace rvobench
