// The I/O-error sweep (tests/support/IoErrorSweep.h) through the dispatcher:
// every file call of writing, reading and preloading a small movie fails in
// turn, in each mode, with each error a disk gives. The long form is
// rvo_fuzz_replay --io-sweep; winlayer runs the same under Wine.
#include <gtest/gtest.h>

#include "tests/support/IoErrorSweep.h"
#include "tests/support/TestFiles.h"

namespace {

TEST(IoErrorSweep, EveryCallOfEveryModeAndPhase) {
    EXPECT_EQ(rvotest::SweepEveryIoError(24, 16, 3, rvotest::ScratchPath("io-sweep")), "");
}

}   // namespace
