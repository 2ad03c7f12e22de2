// The I/O-error sweep (tests/support/IoErrorSweep.h) through the dispatcher:
// every file call of writing, reading and preloading a small movie fails in
// turn, in each mode, with each error a disk gives.
#include <gtest/gtest.h>

#include <cstdio>

#include "container/RvoFormat.h"
#include "tests/support/IoErrorSweep.h"
#include "tests/support/TestFiles.h"

namespace {

struct ErrorCase {
    DWORD dwError;
    bool bSticky;   // the disk stays full
    const char* pszName;
};

constexpr ErrorCase kErrors[] = {
    {ERROR_CRC, false, "EIO once"},
    {ERROR_ACCESS_DENIED, false, "EACCES once"},
    {ERROR_DISK_FULL, true, "ENOSPC from then on"},
};

TEST(IoErrorSweep, EveryCallOfEveryModeAndPhase) {
    for (LONG nMode : {rvo::JpegBlobs, rvo::RawFrames, rvo::PackedFrames}) {
        for (rvotest::IoPhase phase : {rvotest::IoPhase::Write, rvotest::IoPhase::Read, rvotest::IoPhase::Preload}) {
            for (const ErrorCase& e : kErrors) {
                rvotest::IoSweepCounts c;
                const std::string path = rvotest::ScratchPath("io-sweep-" + std::to_string(nMode) + ".rvo");
                const std::string failure = rvotest::SweepIoErrors(nMode, phase, e.dwError, e.bSticky, 24, 16, 3, path, &c);
                EXPECT_EQ(failure, "") << "mode " << nMode << ", " << rvotest::IoPhaseName(phase) << ", " << e.pszName;
                EXPECT_GT(c.nPoints, 0);
                std::printf("mode %ld %-7s %-20s %3lld calls failed: %3lld reported, %3lld absorbed, %3lld recovered\n",
                            (long)nMode, rvotest::IoPhaseName(phase), e.pszName, c.nPoints, c.nReported, c.nAbsorbed,
                            c.nRecovered);
            }
        }
    }
}

}   // namespace
