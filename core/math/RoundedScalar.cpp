// The scalar correctly rounded exp and log: special values, the fast path of
// RoundedFastPath.h with one lane, and the exact path for what it leaves.
#include <cstdint>
#include <limits>

#include "RoundedExact.h"
#include "RoundedFastPath.h"
#include "RoundedLanesScalar.h"
#include "RoundedMath.h"
#include "RoundedScalarDetail.h"

namespace corvane {

namespace rounded {

void LogFastPath(double x, double& h, double& l, double& err) {
    LogApprox<ScalarLanes>(x, h, l, err);
}

void ExpFastPath(double x, double& h, double& l, int& k) {
    std::uint64_t bits;
    ExpApprox<ScalarLanes>(x, h, l, bits);
    const std::int64_t n = static_cast<std::int64_t>(bits - AsBits(kRoundingShift));
    k = static_cast<int>((n - (n & 255)) / 256);
}

namespace {

// The nearest double to (h + l) * 2^k for -1075 <= k <= -1022, where
// 0.5 <= h < 2 and |l| <= 2^-52: the result has the fixed grid 2^-1074 (it is
// subnormal or in the lowest normal binade), which is g = 2^(-1074-k) >= 2^-52
// in units of h. hr = h rounded to that grid; d = h - hr, |d| <= g/2, exact;
// then h + l rounds to hr, hr + g or hr - g as d + l compares with +-g/2, the
// comparisons made exactly as l against +-g/2 - d (both multiples of 2^-53).
double RoundOnSubnormalGrid(double h, double l, int k) {
    const double g = AsDouble(static_cast<std::uint64_t>(-1074 - k + 1023) << 52);
    // Adding 1.5 * 2^52 * g rounds to a multiple of g (ulp of the sum is g).
    const double shift = 1.5 * 0x1p52 * g;
    const double hr = (h + shift) - shift;
    const double d = h - hr;
    const double up = g * 0.5 - d;
    const double down = -g * 0.5 - d;
    // hr * 2^k is a multiple of 2^-1074 below 2^-1021: exact, in two steps
    // since 2^k itself may be below the least subnormal.
    const double scaled = (hr * AsDouble(static_cast<std::uint64_t>(k + 64 + 1023) << 52)) * 0x1p-64;
    const bool odd = (AsBits(scaled) & 1u) != 0;
    int step = 0;
    if (l > up || (l == up && odd)) step = 1;
    if (l < down || (l == down && odd)) step = -1;
    return scaled + step * 0x1p-1074;
}

}  // namespace

}  // namespace rounded

using namespace rounded;

double ExpCorrectlyRounded(double x) {
    if (!(x <= kExpLargestFinite)) {
        // NaN: quieted, as the C library returns it. Otherwise overflow.
        return x != x ? x + x : std::numeric_limits<double>::infinity();
    }
    if (x <= kExpLargestZero) return 0.0;  // also -inf
    double h, l;
    std::uint64_t bits;
    ExpApprox<ScalarLanes>(x, h, l, bits);
    const std::int64_t n = static_cast<std::int64_t>(bits - AsBits(kRoundingShift));
    const int k = static_cast<int>((n - (n & 255)) / 256);
    if (k >= -1021) {
        bool decided;
        const double rounded = RoundIfDecided<ScalarLanes>(h, l, kExpTolerance, decided);
        if (decided) {
            // k = 1024 only for x just below the overflow threshold.
            if (k <= 1023) return rounded * ExpScale<ScalarLanes>(bits);
            return (rounded * 2.0) * 0x1p1023;
        }
    } else {
        const double err = h * kExpTolerance;
        const double below = RoundOnSubnormalGrid(h, l - err, k);
        if (below == RoundOnSubnormalGrid(h, l + err, k)) return below;
    }
    return ExpExact(x, n);
}

double LogCorrectlyRounded(double x) {
    int shift = 0;
    if (!(x >= 0x1p-1022 && x <= std::numeric_limits<double>::max())) {
        if (x != x) return x + x;                                   // NaN, quieted
        if (x == 0) return -std::numeric_limits<double>::infinity();  // +-0
        if (x < 0) return AsDouble(0xfff8000000000000ULL);         // what 0/0 gives on x86
        if (x > 0 && x - x != 0) return x;                          // +inf
        x *= 0x1p52;                                                // subnormal: exact
        shift = -52;
    }
    double h, l, err;
    LogApprox<ScalarLanes>(x, h, l, err);
    if (shift != 0) {
        // Only subnormal arguments: add -52 ln 2 as a double-double first
        // (its errors are within err, see LogApprox).
        double s, t;
        TwoSum(h, -52 * kLn2Head, s, t);
        const double w = (t + l) + -52 * kLn2Tail;
        FastTwoSum(s, w, h, l);
    }
    bool decided;
    const double rounded = RoundIfDecidedWithin<ScalarLanes>(h, l, err, decided);
    if (decided) return rounded;
    return LogExact(x, shift);
}

}  // namespace corvane
