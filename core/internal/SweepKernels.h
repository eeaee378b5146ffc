// The sweep's column kernels, written as loops over the rows of a column (or
// the neurons of a block of rows) whose every iteration is one pixel's (one
// neuron's) formulas in their literal order, and nothing that ties one
// iteration to the next. The compiler then runs each loop on as many pixels
// as a vector register holds: IEEE addition, subtraction, multiplication,
// division and square root give the same bits in a vector lane as in a scalar
// register, and without -ffast-math and with -ffp-contract=off it neither
// reorders nor fuses them, so every instruction set gives the same bits.
// Conditions are written as selects between values computed in full (a
// division by zero or a NaN in a lane not taken is discarded), so that the
// loops need no branch per pixel.
//
// Included once by each SweepKernels*.cpp, which names the instruction set
// (CORVANE_KERNEL_ISA, a namespace; CORVANE_KERNEL_PATH, a VectorPath;
// CORVANE_KERNEL_LANES, the doubles in one register) and compiles for it; the
// file then defines that path's <Path>ColumnKernels(). Internal to the core.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "ModelConstants.h"
#include "PixelKernel.h"
#include "SweepColumns.h"

namespace corvane {
namespace kernel {
inline namespace CORVANE_KERNEL_ISA {

// The correlation of a pair with covariance `cov`, the pixel's variance vp
// and its square root sp, and the neighbour's variance vq: PairCorrelation
// with the division taken whatever the variances.
CORVANE_KERNEL double PairCorrelationOf(double cov, double vq, double vp, double sp) {
    const double ratio = cov / (std::sqrt(vq) * sp);
    return (vp <= 0) | (vq <= 0) ? 0.0 : ratio;
}

// kLanes doubles in one register of the instruction set, with GCC's vector
// extension (also Clang's): every operation is the IEEE operation on each
// lane. Other compilers take the pixels one at a time.
constexpr int kLanes = CORVANE_KERNEL_LANES;
#if defined(__GNUC__)
#define CORVANE_KERNEL_HAS_LANES 1
typedef double Lanes __attribute__((vector_size(8 * kLanes)));
CORVANE_KERNEL Lanes Broadcast(double x) {
    Lanes v;
    for (int l = 0; l < kLanes; ++l) v[l] = x;
    return v;
}
#endif

// One instruction set's kernels; kPath is also the block path of the
// correctly rounded functions.
template <RoundedMathPath kPath>
struct VectorColumns {
    // ---- Competition ----------------------------------------------------
    //
    // Rows are taken in blocks of whole pixels, at most kScoreBlock neurons:
    // for each neuron its effective variance and squared distance (lanes over
    // the pixel's neurons), the logarithms and exponentials of the block, then
    // the pixels' sums and winners with the lanes over pixels, neuron index by
    // neuron index, so that each pixel adds and compares its densities in
    // index order.
    template <bool kInPlace>
    static void CompeteRows(const SweepArrays& s, std::int64_t column, double* raw) {
        const std::int64_t H = s.H, K = s.K;
        const std::int64_t first = column * H;
        const double minimumVariance = s.minimumVariance;
        double* variancesOut = s.newSigma2 + first * K;
        const double* variancesIn = kInPlace ? variancesOut : s.sigma2 + first * K;
        const double* means = s.mu + first * K * 3;
        if (K > kScoreBlock) {  // a pixel's neurons fill more than a block
            ScorePixels(s.x0s + first, s.x1s + first, s.x2s + first, s.pi + first, means,
                        variancesIn, variancesOut, K, H, minimumVariance, raw, s.neuroWin + first,
                        kPath);
            return;
        }
        const std::int64_t perBlock = kScoreBlock / K;
        const std::int64_t total = H * K;
        double effective[kScoreBlock];
        double density[kScoreBlock];  // the squared distances first
        for (std::int64_t q0 = 0; q0 < H; q0 += perBlock) {
            const std::int64_t n = H - q0 < perBlock ? H - q0 : perBlock;
            const std::int64_t begin = q0 * K, count = n * K;
            for (std::int64_t q = 0; q < n; ++q) {
                const std::int64_t p = first + q0 + q;
                const double c0 = s.x0s[p], c1 = s.x1s[p], c2 = s.x2s[p];
                const std::int64_t at = begin + q * K;
                const double* neuron = means + at * 3;
                const double* in = variancesIn + at;
                double* out = variancesOut + at;
                double* e = effective + q * K;
                double* d = density + q * K;
                for (std::int64_t j = 0; j < K; ++j) {
                    const double v = in[j] + minimumVariance;
                    const double t0 = neuron[j * 3] - c0;
                    const double t1 = neuron[j * 3 + 1] - c1;
                    const double t2 = neuron[j * 3 + 2] - c2;
                    d[j] = t0 * t0 + t1 * t1 + t2 * t2;
                    // The floor's round trip, part of the model's history.
                    out[j] = v - minimumVariance;
                    e[j] = v;
                }
            }
            const std::int64_t nextBegin = begin + count;
            const std::int64_t nextEnd = total - nextBegin < count ? total : nextBegin + count;
            const NextNeurons next{reinterpret_cast<const char*>(means + nextBegin * 3),
                                   reinterpret_cast<const char*>(means + nextEnd * 3),
                                   reinterpret_cast<const char*>(variancesIn + nextBegin),
                                   reinterpret_cast<const char*>(variancesIn + nextEnd)};
            NeuronBlockDensities(effective, density, density, count, next, kPath);
            std::int64_t q = 0;
#if defined(CORVANE_KERNEL_HAS_LANES)
            for (; q + kLanes <= n; q += kLanes)
                CompeteLanes(s, first + q0 + q, density + q * K, K, raw + q0 + q);
#endif
            for (; q < n; ++q) CompetePixel(s, first + q0 + q, density + q * K, K, raw + q0 + q);
        }
    }

    // The sums and winners of one pixel's K densities, in index order, and its
    // raw foreground probability.
    static CORVANE_KERNEL void CompetePixel(const SweepArrays& s, std::int64_t p,
                                            const double* density, std::int64_t K, double* raw) {
        double sum = 0.0, best = InitialBestDensity;
        std::int64_t winner = 0;
        for (std::int64_t j = 0; j < K; ++j) {
            const double g = density[j];
            sum = sum + g;
            // Ties keep the lower index; NaN never wins.
            const bool better = g > best;
            best = better ? g : best;
            winner = better ? j : winner;
        }
        const double mean = sum / static_cast<double>(K);
        const double prior = s.pi[p];
        const double f = prior * UniformForegroundDensity;
        *raw = f / (mean * (1 - prior) + f);
        s.neuroWin[p] = static_cast<double>(winner);
    }

#if defined(CORVANE_KERNEL_HAS_LANES)
    // The same for kLanes pixels p, p + 1, ..., one per lane.
    static CORVANE_KERNEL void CompeteLanes(const SweepArrays& s, std::int64_t p,
                                            const double* density, std::int64_t K, double* raw) {
        Lanes sum = Broadcast(0.0), best = Broadcast(InitialBestDensity), winner = Broadcast(0.0);
        for (std::int64_t j = 0; j < K; ++j) {
            Lanes g;
            for (int l = 0; l < kLanes; ++l) g[l] = density[l * K + j];
            sum = sum + g;
            const auto better = g > best;
            best = better ? g : best;
            winner = better ? Broadcast(static_cast<double>(j)) : winner;
        }
        const Lanes mean = sum / Broadcast(static_cast<double>(K));
        Lanes prior;
        std::memcpy(&prior, s.pi + p, sizeof prior);
        const Lanes f = prior * Broadcast(UniformForegroundDensity);
        const Lanes result = f / (mean * (Broadcast(1.0) - prior) + f);
        std::memcpy(raw, &result, sizeof result);
        std::memcpy(s.neuroWin + p, &winner, sizeof winner);
    }
#endif

    static void Compete(const SweepArrays& s, std::int64_t column, double* raw) {
        if (s.sigma2 == s.newSigma2)
            CompeteRows<true>(s, column, raw);
        else
            CompeteRows<false>(s, column, raw);
    }

    // ---- Correlation ----------------------------------------------------
    //
    // The first and last rows one pixel at a time; the rows between, where
    // every pixel of the column has the same links, with the lanes over rows.
    static void Correlate(const SweepArrays& s, std::int64_t column, double* table) {
        const std::int64_t H = s.H;
        CorrelateRow(s, column, 0, table);
        if (H > 1) CorrelateRow(s, column, H - 1, table);
        const double* var = s.var;
        const std::int64_t first = column * H;
        if (column > 0) {
            for (std::int64_t r = 1; r + 1 < H; ++r) {
                const std::int64_t p = first + r;
                const double vp = var[p], sp = std::sqrt(vp);
                const double* cov = s.cov + p * 4;
                double* t = table + r * 4;
                t[0] = PairCorrelationOf(cov[0], var[p - 1], vp, sp);
                t[1] = PairCorrelationOf(cov[1], var[p - H - 1], vp, sp);
                t[2] = PairCorrelationOf(cov[2], var[p - H], vp, sp);
                t[3] = PairCorrelationOf(cov[3], var[p - H + 1], vp, sp);
            }
        } else {
            for (std::int64_t r = 1; r + 1 < H; ++r) {
                const std::int64_t p = first + r;
                const double vp = var[p], sp = std::sqrt(vp);
                double* t = table + r * 4;
                t[0] = PairCorrelationOf(s.cov[p * 4], var[p - 1], vp, sp);
                t[1] = 0.0;
                t[2] = 0.0;
                t[3] = 0.0;
            }
        }
    }

    // ---- Smoothing ------------------------------------------------------
    //
    // Rows between the first and the last have their column's links: above
    // and below always, the three on the left where there is a column to the
    // left, the three on the right where there is one to the right.
    template <bool kLeft, bool kRight>
    static void SmoothInterior(const SweepArrays& s, std::int64_t column, const SmoothInputs& in) {
        const std::int64_t H = s.H;
        double* mask = s.mask + column * H;
        const double* here = in.rawHere;
        const double* left = in.rawLeft;
        const double* right = in.rawRight;
        const double* corr = in.corrHere;
        const double* corrRight = in.corrRight;
        for (std::int64_t r = 1; r + 1 < H; ++r) {
            double v = here[r];
            v = v + here[r - 1] * corr[r * 4 + 0];
            if (kLeft) {
                v = v + left[r - 1] * corr[r * 4 + 1];
                v = v + left[r] * corr[r * 4 + 2];
                v = v + left[r + 1] * corr[r * 4 + 3];
            }
            v = v + corr[(r + 1) * 4 + 0] * here[r + 1];
            if (kRight) {
                v = v + corrRight[(r + 1) * 4 + 1] * right[r + 1];
                v = v + corrRight[r * 4 + 2] * right[r];
                v = v + corrRight[(r - 1) * 4 + 3] * right[r - 1];
            }
            v = v / SmoothingDivisor;
            mask[r] = v >= 0 ? v : 0.0;  // negative sums and NaN become 0
        }
    }

    static void Smooth(const SweepArrays& s, std::int64_t column, const SmoothInputs& in) {
        const std::int64_t H = s.H;
        double* mask = s.mask + column * H;
        mask[0] = SmoothRow(s, column, in, 0);
        if (H > 1) mask[H - 1] = SmoothRow(s, column, in, H - 1);
        const bool left = column > 0, right = column + 1 < s.W;
        if (left && right)
            SmoothInterior<true, true>(s, column, in);
        else if (left)
            SmoothInterior<true, false>(s, column, in);
        else if (right)
            SmoothInterior<false, true>(s, column, in);
        else
            SmoothInterior<false, false>(s, column, in);
    }

    // ---- Adaptation -----------------------------------------------------
    //
    // The column's priors and indicator variances first (they depend on the
    // pixel alone), then its covariances (which read the new priors of the
    // pixel above and of the column to the left, all final by then), then
    // its neurons, pixel by pixel with the lanes over the pixel's neurons.
    // Every value is the one the pixel-by-pixel order gives.

    // Interior rows' covariances. kLeftSlots: slots 1 to 3 are asked for
    // (otherwise slot 0 alone); kLeft: the column has a column to its left.
    template <bool kCovInPlace, bool kLeftSlots, bool kLeft>
    static void AdaptInteriorCovariances(const SweepArrays& s, std::int64_t column) {
        const std::int64_t H = s.H;
        const double c = s.c, keep = s.keep;
        const double* mask = s.mask;
        const double* pi = s.newPi;
        for (std::int64_t r = 1; r + 1 < H; ++r) {
            const std::int64_t p = column * H + r;
            double* out = s.newCov + p * 4;
            const double* in = kCovInPlace ? out : s.cov + p * 4;
            const double e = mask[p] - pi[p];
            out[0] = (mask[p - 1] - pi[p - 1]) * e * c + keep * in[0];
            if (kLeftSlots) {
                if (kLeft) {
                    out[1] = (mask[p - H - 1] - pi[p - H - 1]) * e * c + keep * in[1];
                    out[2] = (mask[p - H] - pi[p - H]) * e * c + keep * in[2];
                    out[3] = (mask[p - H + 1] - pi[p - H + 1]) * e * c + keep * in[3];
                } else {
                    out[1] = 0.0;
                    out[2] = 0.0;
                    out[3] = 0.0;
                }
            }
        }
    }

    template <bool kCovInPlace>
    static void AdaptCovariancesOf(const SweepArrays& s, std::int64_t column, Links slots) {
        const std::int64_t H = s.H;
        AdaptRowCovariances(s, column, 0, slots);
        if (H > 1) AdaptRowCovariances(s, column, H - 1, slots);
        const bool left = column > 0;
        if (slots == kAllBackwardSlots) {
            if (left)
                AdaptInteriorCovariances<kCovInPlace, true, true>(s, column);
            else
                AdaptInteriorCovariances<kCovInPlace, true, false>(s, column);
        } else if (slots == 0x1) {
            AdaptInteriorCovariances<kCovInPlace, false, false>(s, column);
        } else {
            for (std::int64_t r = 1; r + 1 < H; ++r) AdaptRowCovariances(s, column, r, slots);
        }
    }

    // kK: the neurons per pixel when known at compile time (0: s.K). With a
    // fixed count the neuron loop has no trip count to test and no remainder
    // to find, and the compiler lays its lanes out once.
    template <bool kMuInPlace, std::int64_t kK = 0>
    static void AdaptNeuronsOf(const SweepArrays& s, std::int64_t column) {
        const std::int64_t H = s.H, K = kK > 0 ? kK : s.K;
        for (std::int64_t r = 0; r < H; ++r) {
            const std::int64_t p = column * H + r;
            // Written by this frame's competition: a whole number in 0..K-1.
            const std::int64_t w = static_cast<std::int32_t>(s.neuroWin[p]);
            double* means = s.newMu + p * K * 3;
            AdaptNeurons(s.x0s[p], s.x1s[p], s.x2s[p], s.mask[p], s.newPi[p], s.weights + w * K,
                         K, s.maximumVariance[p], kMuInPlace ? means : s.mu + p * K * 3, means,
                         s.newSigma2 + p * K);
        }
    }

    // The neurons of a column, with the neuron counts of the common square
    // maps fixed at compile time. Not 4 and 6 (the 2 x 2 and 2 x 3 maps): there
    // the compiler unrolls the fixed loop into single lanes, and the loop of
    // any count, which it runs in lanes over the pixel's neurons, takes about
    // 6 and 3 per cent less of the whole update.
    template <bool kMuInPlace>
    static void AdaptNeuronsFixed(const SweepArrays& s, std::int64_t column) {
        switch (s.K) {
            case 9: AdaptNeuronsOf<kMuInPlace, 9>(s, column); return;
            case 16: AdaptNeuronsOf<kMuInPlace, 16>(s, column); return;
            case 25: AdaptNeuronsOf<kMuInPlace, 25>(s, column); return;
            default: AdaptNeuronsOf<kMuInPlace>(s, column); return;
        }
    }

    static void Adapt(const SweepArrays& s, std::int64_t column, Links slots) {
        AdaptIndicators(s, column, slots);
        if (s.mu == s.newMu)
            AdaptNeuronsFixed<true>(s, column);
        else
            AdaptNeuronsFixed<false>(s, column);
    }

    // The adaptation as it was before the fixed neuron counts (the
    // benchmarks' baseline).
    static void AdaptAnyCount(const SweepArrays& s, std::int64_t column, Links slots) {
        AdaptIndicators(s, column, slots);
        if (s.mu == s.newMu)
            AdaptNeuronsOf<true>(s, column);
        else
            AdaptNeuronsOf<false>(s, column);
    }

    static void AdaptIndicators(const SweepArrays& s, std::int64_t column, Links slots) {
        const std::int64_t H = s.H;
        const std::int64_t first = column * H;
        const double c = s.c, keep = s.keep;
        for (std::int64_t r = 0; r < H; ++r) {
            const std::int64_t p = first + r;
            const IndicatorUpdate learned = LearnIndicator(s.mask[p], s.pi[p], s.var[p], c, keep);
            s.newPi[p] = learned.pi;
            s.newVar[p] = learned.var;
        }
        if (s.cov == s.newCov)
            AdaptCovariancesOf<true>(s, column, slots);
        else
            AdaptCovariancesOf<false>(s, column, slots);
    }

    static const ColumnKernels* Table() {
        static const ColumnKernels kernels{&Compete, &Correlate, &Smooth, &Adapt, kPath};
        return &kernels;
    }

    static const ColumnKernels* BaselineTable() {
        static const ColumnKernels kernels{&Compete, &Correlate, &Smooth, &AdaptAnyCount,
                                           kPath};
        return &kernels;
    }
};

}  // namespace CORVANE_KERNEL_ISA
}  // namespace kernel
}  // namespace corvane

#define CORVANE_KERNEL_JOIN(a, b) a##b
#define CORVANE_KERNEL_ENTRY(path) CORVANE_KERNEL_JOIN(path, ColumnKernels)
#define CORVANE_KERNEL_BASELINE_ENTRY(path) CORVANE_KERNEL_JOIN(path, BaselineColumnKernels)

namespace corvane {

const ColumnKernels* CORVANE_KERNEL_ENTRY(CORVANE_KERNEL_PATH)() {
    return kernel::VectorColumns<RoundedMathPath::CORVANE_KERNEL_PATH>::Table();
}

const ColumnKernels* CORVANE_KERNEL_BASELINE_ENTRY(CORVANE_KERNEL_PATH)() {
    return kernel::VectorColumns<RoundedMathPath::CORVANE_KERNEL_PATH>::BaselineTable();
}

}  // namespace corvane
