// The block functions over a vector lane type: the fast paths of
// RoundedFastPath.h on whole registers, the scalar functions for every lane
// the fast path leaves (special values, results near the subnormal range or
// overflow, and arguments whose rounding the fast path cannot decide). A
// short last group is padded with harmless arguments.
//
// Whole groups are taken two registers at a time: the two computations are
// independent, and with both in the instruction stream (interleaved by the
// compiler's scheduler, see CMakeLists.txt) the CPU overlaps their long
// dependency chains instead of waiting on one.
#pragma once

#include <cstdint>

#include "RoundedFastPath.h"
#include "RoundedMath.h"

namespace corvane {
namespace rounded {
namespace {

// log of the lanes of x into y; returns the lanes (as bits) whose result is
// final. Positive normal arguments only (NaN fails both comparisons).
template <class L>
inline int LogLanes(typename L::D x, typename L::D& y) {
    using D = typename L::D;
    using M = typename L::M;
    D h, l, err;
    LogApprox<L>(x, h, l, err);
    M decided;
    y = RoundIfDecidedWithin<L>(h, l, err, decided);
    return LaneBits(And(decided, And(LessEqual(D(0x1p-1022), x),
                                     LessEqual(x, D(0x1.fffffffffffffp1023)))));
}

// exp of the lanes of x into y; returns the lanes whose result is final:
// results that are normal, not near overflow (-1021 <= k <= 1022), or
// exactly +0. The rest (NaN included) go to the scalar function.
template <class L>
inline int ExpLanes(typename L::D x, typename L::D& y) {
    using D = typename L::D;
    using U = typename L::U;
    using M = typename L::M;
    D h, l;
    U bits;
    ExpApprox<L>(x, h, l, bits);
    M decided;
    const D rounded = RoundIfDecided<L>(h, l, kExpTolerance, decided) * ExpScale<L>(bits);
    const M zero = LessEqual(x, D(kExpLargestZero));
    y = Select(zero, D(0.0), rounded);
    return LaneBits(
        Or(zero, And(decided, And(LessEqual(D(-707.0), x), LessEqual(x, D(709.0))))));
}

// Stores the `lanes` first lanes of y to out, where `done` says the lane is
// final, and the scalar function's result for the rest.
template <class L, double (*Scalar)(double)>
inline void StoreLanes(const double* in, double* out, typename L::D y, int done, int lanes) {
    constexpr int W = L::kWidth;
    const int valid = (1 << lanes) - 1;
    if ((done & valid) == valid) {
        if (lanes == W) {
            L::Store(out, y);
        } else {
            L::StoreFirst(out, y, lanes);
        }
        return;
    }
    alignas(64) double result[W];
    L::Store(result, y);
    for (int k = 0; k < lanes; ++k) out[k] = (done >> k) & 1 ? result[k] : Scalar(in[k]);
}

template <class L, int (*Lanes)(typename L::D, typename L::D&), double (*Scalar)(double)>
inline void BlockLanes(const double* in, double* out, std::int64_t count) {
    using D = typename L::D;
    constexpr int W = L::kWidth;
    constexpr int G = 2;  // three or four spill registers and are slower
    std::int64_t i = 0;
    for (; i + G * W <= count; i += G * W) {
        D x[G], y[G];
        int done[G];
        for (int g = 0; g < G; ++g) x[g] = L::Load(in + i + g * W);
        for (int g = 0; g < G; ++g) done[g] = Lanes(x[g], y[g]);
        for (int g = 0; g < G; ++g)
            StoreLanes<L, Scalar>(in + i + g * W, out + i + g * W, y[g], done[g], W);
    }
    for (; i < count; i += W) {
        const int lanes = count - i < W ? static_cast<int>(count - i) : W;
        // A short last group loads zeros into its unused lanes.
        const D x = lanes == W ? L::Load(in + i) : L::LoadFirst(in + i, lanes);
        D y;
        const int done = Lanes(x, y);
        StoreLanes<L, Scalar>(in + i, out + i, y, done, lanes);
    }
}

template <class L>
void LogBlockLanes(const double* in, double* out, std::int64_t count) {
    BlockLanes<L, LogLanes<L>, LogCorrectlyRounded>(in, out, count);
}

template <class L>
void ExpBlockLanes(const double* in, double* out, std::int64_t count) {
    BlockLanes<L, ExpLanes<L>, ExpCorrectlyRounded>(in, out, count);
}

}  // namespace
}  // namespace rounded
}  // namespace corvane
