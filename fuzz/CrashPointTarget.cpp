// A writer stopped at a crash point over an older movie in the same file, and
// what recovery makes of it (tests/support/CrashSweep.h): the input picks the
// mode, whether the point counts writes or bytes, and where it lies.
#include <cstdio>
#include <memory>

#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "tests/support/CrashSweep.h"

namespace rvofuzz {

const rvotest::CrashMovie* CrashMovieOfMode(int nMode) {
    static std::unique_ptr<rvotest::CrashMovie> movies[3];
    static bool bNoHook = false;
    std::unique_ptr<rvotest::CrashMovie>& m = movies[nMode - 3];
    if (!m && !bNoHook) {
        auto made = std::make_unique<rvotest::CrashMovie>();
        bool bHooked = false;
        const bool bMade = rvotest::MakeCrashMovie((LONG)nMode, 96, 64, 12, ScratchPath(("crash" + std::to_string(nMode)).c_str()),
                                                   made.get(), &bHooked);
        RemoveAtExit(made->oldPath);
        bNoHook = !bHooked;
        if (bHooked) Expect(bMade, "the crash sweep's movie cannot be made");
        if (bMade) m = std::move(made);
    }
    return m.get();
}

int CrashPointTarget(const uint8_t* p, size_t n) {
    Setup();
    if (n < 2) return 0;
    const rvotest::CrashMovie* m = CrashMovieOfMode(3 + p[0] % 3);
    if (!m) return 0;
    const bool bBytes = (p[1] & 1) != 0;
    uint64_t r = 0;
    for (size_t i = 2; i < n && i < 10; i++) r |= (uint64_t)p[i] << (8 * (i - 2));
    const ULONGLONG k = r % ((bBytes ? m->nBytes : m->nWrites) + 1);
    rvotest::CrashCounts counts;
    const std::string strFailure = rvotest::CheckCrashPoint(*m, bBytes, k, &counts);
    if (!strFailure.empty()) {
        std::fprintf(stderr, "mode %d, crash at %s %llu: %s\n", (int)m->nMode, bBytes ? "byte" : "write",
                     (unsigned long long)k, strFailure.c_str());
        Finding("a crashed writer's file is not recovered as it must be");
    }
    return 0;
}

}   // namespace rvofuzz
