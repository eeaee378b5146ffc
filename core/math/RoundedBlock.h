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
    constexpr int W = L::kWidth;
    for (std::int64_t i = 0; i < count; i += W) {
        const std::int64_t lanes = count - i < W ? count - i : W;
        alignas(32) double padded[W];
        const double* source = in + i;
        if (lanes < W) {
            for (int k = 0; k < W; ++k) padded[k] = k < lanes ? in[i + k] : 1.0;
            source = padded;
        }
        const D x = L::Load(source);
        D h, l;
        LogApprox<L>(x, h, l);
        typename L::M decided;
        const D y = RoundIfDecided<L>(h, l, kLogTolerance, decided);
        // Positive normal arguments only (NaN fails both comparisons).
        const D usable = And(decided, And(LessEqual(D(0x1p-1022), x),
                                          LessEqual(x, D(0x1.fffffffffffffp1023))));
        const int done = LaneBits(usable);
        if (lanes == W && done == (1 << W) - 1) {
            Store(out + i, y);
            continue;
        }
        alignas(32) double result[W];
        Store(result, y);
        for (int k = 0; k < lanes; ++k) {
            out[i + k] = (done >> k) & 1 ? result[k] : LogCorrectlyRounded(source[k]);
        }
    }
}

template <class L>
void ExpBlockLanes(const double* in, double* out, std::int64_t count) {
    using D = typename L::D;
    using U = typename L::U;
    constexpr int W = L::kWidth;
    for (std::int64_t i = 0; i < count; i += W) {
        const std::int64_t lanes = count - i < W ? count - i : W;
        alignas(32) double padded[W];
        const double* source = in + i;
        if (lanes < W) {
            for (int k = 0; k < W; ++k) padded[k] = k < lanes ? in[i + k] : 0.0;
            source = padded;
        }
        const D x = L::Load(source);
        D h, l;
        U bits;
        ExpApprox<L>(x, h, l, bits);
        typename L::M decided;
        const D y = RoundIfDecided<L>(h, l, kExpTolerance, decided) * ExpScale<L>(bits);
        // Results that are normal, not near overflow (-1021 <= k <= 1022),
        // or exactly +0; the rest (NaN included) go to the scalar function.
        const D zero = LessEqual(x, D(kExpLargestZero));
        const D usable =
            Or(zero, And(decided, And(LessEqual(D(-707.0), x), LessEqual(x, D(709.0)))));
        const D result = Select(zero, D(0.0), y);
        const int done = LaneBits(usable);
        if (lanes == W && done == (1 << W) - 1) {
            Store(out + i, result);
            continue;
        }
        alignas(32) double stored[W];
        Store(stored, result);
        for (int k = 0; k < lanes; ++k) {
            out[i + k] = (done >> k) & 1 ? stored[k] : ExpCorrectlyRounded(source[k]);
        }
    }
}

}  // namespace
}  // namespace rounded
}  // namespace corvane
