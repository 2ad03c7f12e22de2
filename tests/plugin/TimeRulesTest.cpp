// Host times to field numbers and total durations to last frame numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plugin/Dispatch.h"

namespace {

struct FieldCase {
    double t, d;
    unsigned field;
};

TEST(TimeRules, FieldFromTime) {
    const FieldCase cases[] = {
        {0.0, 1.0, 0},
        {0.5, 1.0, 0},
        {0.998, 1.0, 0},   // below one field
        {-3.0, 1.0, 0},
        {0.9995, 1.0, 1},
        {1.0, 1.0, 1},   // within epsilon of d
        {4.5, 1.0, 4},
        {4.502, 1.0, 5},
        {5.6, 1.0, 6},
        {4.5011, 1.0, 5},
        {4.5009, 1.0, 4},
        {4.9, 1.0, 5},
        {0.09, 0.02, 4},
        {0.09004, 0.02, 5},
        {200.0, 20.0, 10},   // other units
        // Within a rounding of the epsilon edge: x87 arithmetic at 64 bits gives one more.
        {0.11002000000094996, 0.02, 5},
        {0.19002000000094996, 0.02, 9},
        {0.23002000000094996, 0.02, 11},
    };
    for (const FieldCase& c : cases)
        EXPECT_EQ(FieldFromTime(c.t, c.d), c.field) << "t=" << c.t << " d=" << c.d;
}

TEST(TimeRules, LastFrameFromDuration) {
    const struct {
        double total, field;
        LONG last;
    } cases[] = {
        {10.0, 1.0, 5},
        {9.0, 1.0, 5},
        {8.999, 1.0, 5},
        {8.99, 1.0, 4},
        {11.0, 1.0, 6},
        {0.0, 1.0, 0},
        {1.0, 1.0, 1},
        {400.0, 40.0, 5},
        {-4.0, 1.0, -2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LastFrameFromDuration(c.total, c.field), c.last) << c.total << " / " << c.field;
}

TEST(TimeRules, TruncToLongKeepsLowHalfAndSurvivesNonsense) {
    EXPECT_EQ(TruncToLong(3.9), 3);
    EXPECT_EQ(TruncToLong(-3.9), -3);
    EXPECT_EQ(TruncToLong(4294967296.0 + 5.0), 5);
    EXPECT_EQ(TruncToLong(2147483648.0), (LONG)0x80000000u);
    EXPECT_EQ(TruncToLong(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(TruncToLong(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(TruncToLong(1e30), 0);
    // A zero field duration must not reach undefined conversions.
    (void)FieldFromTime(5.0, 0.0);
    (void)LastFrameFromDuration(5.0, 0.0);
}

}   // namespace
