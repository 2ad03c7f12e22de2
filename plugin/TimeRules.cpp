// How host times and durations become field and frame numbers.
#include <cmath>
#include <cstdint>

#include "plugin/Dispatch.h"

LONG TruncToLong(double x) {
    // Outside the 64-bit range the host's conversion yields the "integer
    // indefinite" value, whose low half is 0; a plain cast would be undefined.
    if (!(x > -9.2e18 && x < 9.2e18)) return 0;
    return (LONG)(uint32_t)(uint64_t)(int64_t)x;
}

unsigned FieldFromTime(double t, double d) {
    double diff = t - d;
    if (!(diff > kTimeEpsilon || std::fabs(diff) < kTimeEpsilon)) return 0;
    double q = t / d;
    if (q < kTimeEpsilon) return 0;
    LONG T = TruncToLong(q);
    if (q - (double)T - 0.5 > kTimeEpsilon) return (unsigned)T + 1u;
    return (unsigned)T;
}

LONG LastFrameFromDuration(double dTotal, double dField) {
    double x = dTotal / dField * 0.5;
    LONG m = TruncToLong(x);
    double l = x - (double)m - 0.5;
    if (l > kTimeEpsilon || std::fabs(l) < kTimeEpsilon) return (LONG)((uint32_t)m + 1u);
    return m;
}
