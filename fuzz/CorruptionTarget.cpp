// Finished movies of modes 3, 4 and 5 damaged one region at a time: the input
// picks the movie and the damage (zeroed, flipped or cut off, where and how
// long), and the sweep's checks hold for it (tests/support/CorruptionSweep.h):
// no crash, every frame the damage left alone read back exactly, every change
// to bytes that carry a check found.
#include <cstdio>
#include <memory>

#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "tests/support/CorruptionSweep.h"

namespace rvofuzz {

const rvotest::SweepMovie& SweepMovieOfMode(LONG nMode) {
    static std::unique_ptr<rvotest::SweepMovie> movies[3];
    std::unique_ptr<rvotest::SweepMovie>& m = movies[nMode - 3];
    if (!m) {
        m = std::make_unique<rvotest::SweepMovie>();
        const std::string name = "sweep" + std::to_string(nMode);
        Expect(rvotest::MakeSweepMovie(nMode, ScratchPath((name + "-intact").c_str()),
                                       ScratchPath((name + "-damaged").c_str()), m.get()),
               "the sweep's movie cannot be made");
    }
    return *m;
}

int CorruptionTarget(const uint8_t* p, size_t n) {
    Setup();
    if (n == 0) return 0;
    uint8_t b[17] = {};
    for (size_t i = 0; i < n && i < sizeof b; i++) b[i] = p[i];
    uint64_t r1 = 0, r2 = 0;
    for (int i = 0; i < 8; i++) {
        r1 |= (uint64_t)b[1 + i] << (8 * i);
        r2 |= (uint64_t)b[9 + i] << (8 * i);
    }
    const rvotest::SweepMovie& m = SweepMovieOfMode(3 + b[0] % 3);
    rvotest::SweepCounts counts;
    const rvotest::Damage d = rvotest::DrawDamage(m, r1, r2);
    const std::string strFailure = rvotest::CheckDamage(m, d, &counts);
    if (!strFailure.empty()) {
        std::fprintf(stderr, "mode %d, %s: %s\n", (int)m.nMode, rvotest::DescribeDamage(d).c_str(), strFailure.c_str());
        Finding("a damaged movie is not handled as it must be");
    }
    return 0;
}

}   // namespace rvofuzz
