// The arithmetic of one pixel, step by step: the competition of its neurons,
// its correlation with its backward neighbours, the smoothing of its
// foreground probability, and the learning of its prior, indicator statistics
// and neurons. The four-pass reference and the column sweep both call these
// functions and differ only in the order in which they visit pixels and in
// where they keep the values passed between steps. Every departure from the
// literal formulas lives here, once. Internal to the core.
//
// Functions that read a value and write its update take separate input and
// output pointers; they may be the same array (an update in place), because
// each element is read before it is written.
#pragma once

#include <cmath>
#include <cstdint>

#include "ModelConstants.h"
#include "NeighborOffsets.h"
#include "RoundedMath.h"

// Every step is forced inline into its loop: the loops differ in how they
// address neighbours, and the compiler folds each step into that addressing.
#if defined(__GNUC__)
#define CORVANE_KERNEL inline __attribute__((always_inline))
#else
#define CORVANE_KERNEL inline
#endif

// Each instruction set's column kernels are compiled from these functions in
// a file of their own; the namespace keeps every compilation's inline copies
// apart, so the linker never hands one file another file's instructions.
#ifndef CORVANE_KERNEL_ISA
#define CORVANE_KERNEL_ISA baseline
#endif

namespace corvane::kernel {
inline namespace CORVANE_KERNEL_ISA {

// ---------------------------------------------------------------------------
// Neighbour links

// Bit k is set when neighbour slot k exists (slots as in NeighborOffsets:
// 0 above, 1 above-left, 2 left, 3 below-left, 4 below, 5 below-right,
// 6 right, 7 above-right).
using Links = unsigned;

constexpr bool HasLink(Links links, int slot) { return (links >> slot & 1u) != 0; }

// The links of a pixel whose offsets are filled in slots 0 .. slots-1: 4
// after ComputeBackwardOffsets alone, 8 after ComputeForwardOffsets as well.
CORVANE_KERNEL Links LinksOf(const NeighborOffsets& offsets, int slots) {
    Links links = 0;
    for (int k = 0; k < slots; ++k)
        if (offsets.slot[k] != 0) links |= 1u << k;
    return links;
}

// The links of the pixel at row r, column c of an H x W image: the same set
// ComputeBackwardOffsets and ComputeForwardOffsets find, without the offsets.
CORVANE_KERNEL Links LinksAt(std::int64_t r, std::int64_t c, std::int64_t H, std::int64_t W) {
    const bool above = r > 0, below = r + 1 < H, left = c > 0, right = c + 1 < W;
    return Links(above) | Links(above && left) << 1 | Links(left) << 2 |
           Links(below && left) << 3 | Links(below) << 4 | Links(below && right) << 5 |
           Links(right) << 6 | Links(above && right) << 7;
}

// ---------------------------------------------------------------------------
// Competition

// Neuron values scored together: the logarithms of this many neurons (of one
// pixel or of several consecutive pixels) are taken first, then their
// exponentials. Long runs keep the vector paths of the correctly rounded
// functions busy with whole registers and pay their setup once per run of
// 64 instead of once per pixel; the three scratch arrays of a block (12 KB)
// stay in the first-level cache.
constexpr std::int64_t kScoreBlock = 512;

// Brings part `part` of `parts` of the byte range [begin, end) into the
// cache, one request per 64-byte line.
CORVANE_KERNEL void PrefetchPart(const char* begin, const char* end, int part, int parts) {
#if defined(__GNUC__)
    const std::int64_t lines = (end - begin + 63) / 64;
    const std::int64_t from = lines * part / parts, to = lines * (part + 1) / parts;
    for (std::int64_t k = from; k < to; ++k) __builtin_prefetch(begin + 64 * k);
#else
    (void)begin, (void)end, (void)part, (void)parts;
#endif
}

// The next block's neurons, asked for while this block computes: the byte
// ranges of their means and of their variances.
struct NextNeurons {
    const char* meansBegin;
    const char* meansEnd;
    const char* variancesBegin;
    const char* variancesEnd;
};

// The normal densities of `count` (at most kScoreBlock) neurons:
//   density[i] = exp((-GaussianLogNormalizer - 1.5 * log(s)) - (0.5 * d2) / s)
// with s = effective[i], the variance raised by the floor, and d2 =
// distance2[i], the squared colour distance. density may be distance2.
// `next` is brought into the cache meanwhile. `path` is the correctly rounded
// functions' block path (all give the same bits).
//
// This block is the only place the update calls log and exp, and it calls
// the correctly rounded ones (core/math): the same bits on every CPU and
// every platform, whichever neurons share a call. Exponents at or below the
// underflow bound give exactly +0 inside ExpCorrectlyRoundedBlock without
// further work.
CORVANE_KERNEL void NeuronBlockDensities(const double* effective, const double* distance2,
                                         double* density, std::int64_t count,
                                         const NextNeurons& next, RoundedMathPath path) {
    // The model is far larger than the cache, and the competition reads it
    // once per frame. The next block's lines are asked for a slice at a time
    // between short calls, so that the requests overlap the arithmetic
    // instead of queueing up (the CPU holds only a few dozen at once).
    constexpr std::int64_t kSlice = 64;
    constexpr int kParts = static_cast<int>(2 * kScoreBlock / kSlice);
    double logarithm[kScoreBlock];
    int part = 0;
    for (std::int64_t i = 0; i < count; i += kSlice, ++part) {
        PrefetchPart(next.meansBegin, next.meansEnd, part, kParts);
        PrefetchPart(next.variancesBegin, next.variancesEnd, part, kParts);
        LogCorrectlyRoundedBlockWith(path, effective + i, logarithm + i, count - i < kSlice ? count - i : kSlice);
    }
    for (std::int64_t i = 0; i < count; ++i) {
        density[i] =
            (-GaussianLogNormalizer - 1.5 * logarithm[i]) - (0.5 * distance2[i]) / effective[i];
    }
    part = kParts / 2;
    for (std::int64_t i = 0; i < count; i += kSlice, ++part) {
        PrefetchPart(next.meansBegin, next.meansEnd, part, kParts);
        PrefetchPart(next.variancesBegin, next.variancesEnd, part, kParts);
        ExpCorrectlyRoundedBlockWith(path, density + i, density + i, count - i < kSlice ? count - i : kSlice);
    }
}

// Scores `count` consecutive pixels against their K neurons (K >= 1) with the
// variance floor `minimumVariance`. Pixel q has the colour (x0[q], x1[q],
// x2[q]), the prior priors[q] of the previous frame, the neurons means[3*K*q
// ...] (three channels each) and variancesIn[K*q ...]; each variance goes
// through the floor's round trip (raised by the floor, lowered again) into
// variancesOut (which may be variancesIn). Writes the pixel's foreground
// probability before smoothing to raw[q] and the index of its densest neuron
// to winners[q].
//
// The pixels' neurons are taken in blocks of kScoreBlock in memory order,
// a block ending wherever it fills, inside a pixel or not; each pixel's
// densities are then summed and compared neuron by neuron in index order,
// so the result is that of one pixel, one neuron at a time.
CORVANE_KERNEL void ScorePixels(const double* x0, const double* x1, const double* x2,
                                const double* priors, const double* means,
                                const double* variancesIn, double* variancesOut, std::int64_t K,
                                std::int64_t count, double minimumVariance, double* raw,
                                double* winners, RoundedMathPath path) {
    const std::int64_t total = count * K;
    // Where the next block starts: pixel q, neuron j; and that pixel's
    // competition so far.
    std::int64_t q = 0, j = 0;
    double best = InitialBestDensity;
    double sum = 0.0;
    std::int64_t winner = 0;
    for (std::int64_t i0 = 0; i0 < total; i0 += kScoreBlock) {
        const std::int64_t n = total - i0 < kScoreBlock ? total - i0 : kScoreBlock;
        double effective[kScoreBlock];
        double density[kScoreBlock];  // the squared distances first
        // Neuron by neuron, one pixel's run at a time.
        for (std::int64_t i = 0, pq = q, pj = j; i < n; pj = 0, ++pq) {
            const std::int64_t run = K - pj < n - i ? K - pj : n - i;
            const double c0 = x0[pq], c1 = x1[pq], c2 = x2[pq];
            for (std::int64_t t = 0; t < run; ++t, ++i) {
                const std::int64_t at = i0 + i;
                const double* neuron = means + at * 3;
                const double s = variancesIn[at] + minimumVariance;
                const double t0 = neuron[0] - c0;
                const double t1 = neuron[1] - c1;
                const double t2 = neuron[2] - c2;
                density[i] = t0 * t0 + t1 * t1 + t2 * t2;
                // Raising the variance by the floor and lowering it again
                // may change its last bits; that round trip is part of the
                // model's history.
                variancesOut[at] = s - minimumVariance;
                effective[i] = s;
            }
        }
        const std::int64_t nextEnd = total - (i0 + n) < n ? total : i0 + 2 * n;
        const NextNeurons next{reinterpret_cast<const char*>(means + (i0 + n) * 3),
                               reinterpret_cast<const char*>(means + nextEnd * 3),
                               reinterpret_cast<const char*>(variancesIn + i0 + n),
                               reinterpret_cast<const char*>(variancesIn + nextEnd)};
        NeuronBlockDensities(effective, density, density, n, next, path);
        for (std::int64_t i = 0; i < n;) {
            const std::int64_t run = K - j < n - i ? K - j : n - i;
            for (std::int64_t t = 0; t < run; ++t, ++i, ++j) {
                const double g = density[i];
                sum = sum + g;
                // Ties keep the lower index; NaN never wins. Written as
                // selects: which neuron wins is data and mispredicts as a
                // branch.
                const bool better = g > best;
                best = better ? g : best;
                winner = better ? j : winner;
            }
            if (j == K) {
                const double mean = sum / static_cast<double>(K);
                const double prior = priors[q];
                const double f = prior * UniformForegroundDensity;
                raw[q] = f / (mean * (1 - prior) + f);
                winners[q] = static_cast<double>(winner);
                ++q;
                j = 0;
                best = InitialBestDensity;
                sum = 0.0;
                winner = 0;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Correlation

// A pixel's indicator variance and its square root, taken once and reused
// for every pair the pixel is in.
struct Spread {
    double var = 0;
    double sigma = 0;
};

CORVANE_KERNEL Spread SpreadOf(double var) { return Spread{var, std::sqrt(var)}; }

// The correlation coefficient of the pair (q, p) with covariance `cov`.
//
// An indicator variance of 0 (every pixel's after a frame at StepSize 1, or
// decayed there over a long static scene) would give x/0 = infinity or
// 0/0 = NaN, and either ends up zeroing or flooding the mask: a pair with a
// Var of 0 or below counts as uncorrelated. NaN variances pass through.
CORVANE_KERNEL double PairCorrelation(double cov, const Spread& q, const Spread& p) {
    return p.var <= 0 || q.var <= 0 ? 0.0 : cov / (q.sigma * p.sigma);
}

// The correlations of a pixel with its four backward neighbours into
// `correlation` (0 where a neighbour is absent), from the pixel's covariances
// `cov` (4 values), its own spread and the neighbours' spreads by slot
// (read only where the link exists).
CORVANE_KERNEL void CorrelatePixel(const double* cov, const Spread& here, const Spread* backward,
                           Links links, double* correlation) {
    for (int k = 0; k < kBackwardSlots; ++k)
        correlation[k] = HasLink(links, k) ? PairCorrelation(cov[k], backward[k], here) : 0.0;
}

// ---------------------------------------------------------------------------
// Smoothing

// Adds neighbour slot k's raw probability weighted by the pair's correlation
// to v, where the link exists. `neighbours.Raw(k)` and
// `neighbours.Correlation(k)` give the slot's values; they are called only
// where the link exists, with k a constant. The correlation of a forward slot
// 4 + k is the one stored at that neighbour in its backward slot k, which
// points back at this pixel.
template <int k, class Neighbours>
CORVANE_KERNEL double AddNeighbour(double v, Links links, const Neighbours& neighbours) {
    if (!HasLink(links, k)) return v;
    if (k < kBackwardSlots) return v + neighbours.Raw(k) * neighbours.Correlation(k);
    return v + neighbours.Correlation(k) * neighbours.Raw(k);
}

// The smoothed foreground probability of a pixel: its raw probability `here`
// plus each neighbour's raw probability weighted by the correlation of that
// pair, in slot order (backward slots first), over the size of a full 3x3
// neighbourhood.
template <class Neighbours>
CORVANE_KERNEL double SmoothPixel(double here, Links links, const Neighbours& neighbours) {
    double v = here;
    v = AddNeighbour<0>(v, links, neighbours);
    v = AddNeighbour<1>(v, links, neighbours);
    v = AddNeighbour<2>(v, links, neighbours);
    v = AddNeighbour<3>(v, links, neighbours);
    v = AddNeighbour<4>(v, links, neighbours);
    v = AddNeighbour<5>(v, links, neighbours);
    v = AddNeighbour<6>(v, links, neighbours);
    v = AddNeighbour<7>(v, links, neighbours);
    v = v / SmoothingDivisor;
    return v >= 0 ? v : 0;  // negative sums and NaN become 0
}

// ---------------------------------------------------------------------------
// Adaptation

struct IndicatorUpdate {
    double pi;   // the new prior
    double var;  // the new indicator variance
    double e;    // the new evidence: smoothed probability minus new prior
};

// The prior and indicator variance of a pixel with smoothed probability m,
// learned at rate c (keep = 1 - c).
CORVANE_KERNEL IndicatorUpdate LearnIndicator(double m, double pi, double var, double c, double keep) {
    double newPi = c * m + keep * pi;
    // A static scene drives the prior down by about (1 - c) per frame; once it
    // underflows (to 0 or to a subnormal whose product with the uniform
    // density is 0) the pixel could never be foreground again. The prior is
    // kept at the smallest normal double instead; NaN passes through.
    if (newPi < SmallestPrior) newPi = SmallestPrior;
    const double e = m - newPi;
    return IndicatorUpdate{newPi, e * e * c + var * keep, e};
}

// Backward slot k of a pixel's covariances, from `covIn` into `covOut`, if
// bit k of `slots` asks for it: the product of the neighbour's new evidence
// (its smoothed probability `neighbours.Mask(k)` minus its new prior
// `neighbours.Pi(k)`, called only where the link exists) and the pixel's own
// evidence e, learned at rate c. An absent neighbour's slot becomes 0.
template <int k, class Neighbours>
CORVANE_KERNEL void AdaptCovariance(const double* covIn, double* covOut, Links links, Links slots,
                                    double e, double c, double keep,
                                    const Neighbours& neighbours) {
    if (!HasLink(slots, k)) return;
    covOut[k] = HasLink(links, k)
                    ? (neighbours.Mask(k) - neighbours.Pi(k)) * e * c + keep * covIn[k]
                    : 0.0;
}

// The backward slots named by `slots` (kAllBackwardSlots for all four) of a
// pixel's covariances.
constexpr Links kAllBackwardSlots = 0xF;
template <class Neighbours>
CORVANE_KERNEL void AdaptCovariances(const double* covIn, double* covOut, Links links,
                                     Links slots, double e, double c, double keep,
                                     const Neighbours& neighbours) {
    AdaptCovariance<0>(covIn, covOut, links, slots, e, c, keep, neighbours);
    AdaptCovariance<1>(covIn, covOut, links, slots, e, c, keep, neighbours);
    AdaptCovariance<2>(covIn, covOut, links, slots, e, c, keep, neighbours);
    AdaptCovariance<3>(covIn, covOut, links, slots, e, c, keep, neighbours);
}

// Moves the pixel's K neurons towards the colour (x0, x1, x2): neuron j by
// the rate weights[j] (the winner's column of the neighbourhood matrix)
// times the background weight (1 - m) / (1 - newPi), then caps its variance
// at maximumVariance. Means come from `meansIn` and go to `meansOut`; the
// variances, already through the floor's round trip, are updated in place.
CORVANE_KERNEL void AdaptNeurons(double x0, double x1, double x2, double m, double newPi,
                         const double* weights, std::int64_t K, double maximumVariance,
                         const double* meansIn, double* meansOut, double* variances) {
    // A prior that has reached exactly 1 would divide by zero and put NaN or
    // infinity into every mean of the pixel for good; such a pixel's neurons
    // stay where they are this frame instead.
    const double background = 1 - newPi;
    const double b = background == 0 ? 0.0 : (1 - m) / background;
    for (std::int64_t j = 0; j < K; ++j) {
        double a = b * weights[j];
        // b reaches 1/StepSize when the prior is near 1 and the mask falls, so
        // a can exceed 1 even with weights of at most 1. Past 1 the mean
        // overshoots the colour and the variance can turn negative; past 2
        // every frame multiplies the mean's distance by a - 1, until it
        // overflows into infinities and NaN. A neuron moves at most onto the
        // colour instead. NaN passes through.
        if (a > 1) a = 1;
        // All three channels are read before any moves (the output may be
        // the input).
        const double mu0 = meansIn[j * 3];
        const double mu1 = meansIn[j * 3 + 1];
        const double mu2 = meansIn[j * 3 + 2];
        const double d0 = x0 - mu0;
        const double d1 = x1 - mu1;
        const double d2 = x2 - mu2;
        double* out = meansOut + j * 3;
        out[0] = mu0 + a * d0;
        out[1] = mu1 + a * d1;
        out[2] = mu2 + a * d2;
        const double distance2 = d1 * d1 + d0 * d0 + d2 * d2;
        double s2 = variances[j];
        s2 = s2 + a * (distance2 * VarianceTargetFactor - s2);
        if (s2 > maximumVariance) s2 = maximumVariance;  // NaN is not clamped
        variances[j] = s2;
    }
}

}  // namespace CORVANE_KERNEL_ISA
}  // namespace corvane::kernel
