// The block functions over a vector lane type: the fast paths of
// RoundedFastPath.h on whole registers, the scalar functions for every lane
// the fast path leaves (special values, results near the subnormal range or
// overflow, and arguments whose rounding the fast path cannot decide). A
// short last group is padded with harmless arguments.
#pragma once

#include <cstdint>

#include "RoundedFastPath.h"
#include "RoundedMath.h"

namespace corvane {
namespace rounded {
namespace {

template <class L>
void LogBlockLanes(const double* in, double* out, std::int64_t count) {
    using D = typename L::D;
    using M = typename L::M;
    constexpr int W = L::kWidth;
    for (std::int64_t i = 0; i < count; i += W) {
        const int lanes = count - i < W ? static_cast<int>(count - i) : W;
        // A short last group loads zeros into its unused lanes.
        const D x = lanes == W ? L::Load(in + i) : L::LoadFirst(in + i, lanes);
        D h, l;
        LogApprox<L>(x, h, l);
        M decided;
        const D y = RoundIfDecided<L>(h, l, kLogTolerance, decided);
        // Positive normal arguments only (NaN fails both comparisons).
        const M usable = And(decided, And(LessEqual(D(0x1p-1022), x),
                                          LessEqual(x, D(0x1.fffffffffffffp1023))));
        const int valid = (1 << lanes) - 1;
        const int done = LaneBits(usable) & valid;
        if (done == valid) {
            if (lanes == W) {
                L::Store(out + i, y);
            } else {
                L::StoreFirst(out + i, y, lanes);
            }
            continue;
        }
        alignas(32) double result[W];
        L::Store(result, y);
        for (int k = 0; k < lanes; ++k) {
            out[i + k] = (done >> k) & 1 ? result[k] : LogCorrectlyRounded(in[i + k]);
        }
    }
}

template <class L>
void ExpBlockLanes(const double* in, double* out, std::int64_t count) {
    using D = typename L::D;
    using U = typename L::U;
    using M = typename L::M;
    constexpr int W = L::kWidth;
    for (std::int64_t i = 0; i < count; i += W) {
        const int lanes = count - i < W ? static_cast<int>(count - i) : W;
        const D x = lanes == W ? L::Load(in + i) : L::LoadFirst(in + i, lanes);
        D h, l;
        U bits;
        ExpApprox<L>(x, h, l, bits);
        M decided;
        const D y = RoundIfDecided<L>(h, l, kExpTolerance, decided) * ExpScale<L>(bits);
        // Results that are normal, not near overflow (-1021 <= k <= 1022),
        // or exactly +0; the rest (NaN included) go to the scalar function.
        const M zero = LessEqual(x, D(kExpLargestZero));
        const M usable =
            Or(zero, And(decided, And(LessEqual(D(-707.0), x), LessEqual(x, D(709.0)))));
        const D result = Select(zero, D(0.0), y);
        const int valid = (1 << lanes) - 1;
        const int done = LaneBits(usable) & valid;
        if (done == valid) {
            if (lanes == W) {
                L::Store(out + i, result);
            } else {
                L::StoreFirst(out + i, result, lanes);
            }
            continue;
        }
        alignas(32) double stored[W];
        L::Store(stored, result);
        for (int k = 0; k < lanes; ++k) {
            out[i + k] = (done >> k) & 1 ? stored[k] : ExpCorrectlyRounded(in[i + k]);
        }
    }
}

}  // namespace
}  // namespace rounded
}  // namespace corvane
