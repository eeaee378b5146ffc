#include "UpdateModelFused.h"

#include <cmath>
#include <cstdint>

#include "ModelConstants.h"

namespace corvane {
namespace {

// Neurons scored together: their logarithms are taken first, then their
// exponentials, so the library calls of one block do not wait on each other.
constexpr std::int64_t kNeuronBlock = 16;

// Everything one sweep needs, read once per call.
struct Sweep {
    std::int64_t H, W, N, K;
    double minimumVariance;
    double c;     // StepSize
    double keep;  // 1 - StepSize
    const double* x0s;
    const double* x1s;
    const double* x2s;
    const double* weights;  // neighbourhood matrix
    double* mu;
    double* sigma2;
    double* mask;
    double* pi;
    double* neuroWin;
    double* var;
    double* cov;
    const double* maximumVariance;
    double* rawRing;          // raw probabilities, one column of H per ring slot
    double* correlationRing;  // correlations, 4*H per ring slot

    // Ring slots: three columns of raw probabilities (c - 1, c, c + 1) and two
    // of correlations (c, c + 1). Narrower images index the blocks directly;
    // they have at most that many columns, and N is at least columns * H.
    double* RawColumn(std::int64_t column) const {
        return rawRing + (W >= 3 ? column % 3 : column) * H;
    }
    double* CorrelationColumn(std::int64_t column) const {
        return correlationRing + (W >= 2 ? column % 2 : column) * 4 * H;
    }
};

// Phase 1 for the pixels of one column: winner into NeuroWin, raw foreground
// probability into the column's ring slot. Same arithmetic, in the same order,
// as CompeteNeurons.
void CompeteColumn(const Sweep& s, std::int64_t column) {
    const std::int64_t K = s.K;
    double* raw = s.RawColumn(column);
    for (std::int64_t r = 0; r < s.H; ++r) {
        const std::int64_t p = column * s.H + r;
        const double x0 = s.x0s[p];
        const double x1 = s.x1s[p];
        const double x2 = s.x2s[p];
        const double prior = s.pi[p];
        const double* neurons = s.mu + p * K * 3;
        double* variances = s.sigma2 + p * K;
        double best = InitialBestDensity;
        double sum = 0.0;
        std::int64_t winner = 0;
        for (std::int64_t j0 = 0; j0 < K; j0 += kNeuronBlock) {
            const std::int64_t count = K - j0 < kNeuronBlock ? K - j0 : kNeuronBlock;
            double effective[kNeuronBlock];
            double distance2[kNeuronBlock];
            double logarithm[kNeuronBlock];
            double density[kNeuronBlock];
            for (std::int64_t i = 0; i < count; ++i) {
                const double* neuron = neurons + (j0 + i) * 3;
                const double v = variances[j0 + i] + s.minimumVariance;
                const double t0 = neuron[0] - x0;
                const double t1 = neuron[1] - x1;
                const double t2 = neuron[2] - x2;
                distance2[i] = t0 * t0 + t1 * t1 + t2 * t2;
                variances[j0 + i] = v - s.minimumVariance;
                effective[i] = v;
            }
            for (std::int64_t i = 0; i < count; ++i) logarithm[i] = std::log(effective[i]);
            for (std::int64_t i = 0; i < count; ++i) {
                const double exponent = (-GaussianLogNormalizer - 1.5 * logarithm[i]) -
                                        (0.5 * distance2[i]) / effective[i];
                // exp is exactly +0 down there; NaN fails the test and goes to exp.
                density[i] = exponent <= kLargestExpUnderflow ? 0.0 : std::exp(exponent);
            }
            for (std::int64_t i = 0; i < count; ++i) {
                const double g = density[i];
                sum = sum + g;
                // Ties keep the lower index; NaN never wins. Written as
                // selects: which neuron wins is data and mispredicts as a branch.
                const bool better = g > best;
                best = better ? g : best;
                winner = better ? j0 + i : winner;
            }
        }
        s.neuroWin[p] = static_cast<double>(winner);
        const double mean = sum / static_cast<double>(K);
        const double f = prior * UniformForegroundDensity;
        raw[r] = f / (mean * (1 - prior) + f);
    }
}

// Phase 2 for the pixels of one column, into the column's ring slot. Must run
// before the column itself and the column to its left adapt: it reads their
// old Var and this column's old Cov.
void CorrelateColumn(const Sweep& s, std::int64_t column) {
    const std::int64_t H = s.H;
    double* table = s.CorrelationColumn(column);
    const double* var = s.var;
    const std::int64_t first = column * H;
    // Var and its sqrt along this column (above) and the column to the left
    // (rows r - 1, r, r + 1); each sqrt is taken once and reused, which gives
    // the same bits as taking it again. A pair with a Var of 0 or below counts
    // as uncorrelated, as in CorrelateNeighbors.
    struct Spread {
        double var = 0, sigma = 0;
    };
    auto spreadOf = [var](std::int64_t q) { return Spread{var[q], std::sqrt(var[q])}; };
    auto correlation = [](double cov, const Spread& q, const Spread& p) {
        return p.var <= 0 || q.var <= 0 ? 0.0 : cov / (q.sigma * p.sigma);
    };
    Spread above, leftAbove, left, leftBelow;
    if (column > 0) leftBelow = spreadOf(first - H);
    for (std::int64_t r = 0; r < H; ++r) {
        const std::int64_t p = first + r;
        const double* cv = s.cov + p * 4;
        double* out = table + r * 4;
        const Spread here = spreadOf(p);
        if (column > 0) {
            leftAbove = left;
            left = leftBelow;
            if (r + 1 < H) leftBelow = spreadOf(p - H + 1);
        }
        out[0] = r > 0 ? correlation(cv[0], above, here) : 0;
        out[1] = r > 0 && column > 0 ? correlation(cv[1], leftAbove, here) : 0;
        out[2] = column > 0 ? correlation(cv[2], left, here) : 0;
        out[3] = column > 0 && r + 1 < H ? correlation(cv[3], leftBelow, here) : 0;
        above = here;
    }
}

// Phase 3 for the pixels of one column: the correlation-weighted 3x3 sum of
// raw probabilities, straight into imMask. Needs the raw probabilities of
// the columns either side and the correlations of this column and the next.
void SmoothColumn(const Sweep& s, std::int64_t column) {
    const std::int64_t H = s.H;
    const bool hasLeft = column > 0;
    const bool hasRight = column + 1 < s.W;
    const double* rawLeft = hasLeft ? s.RawColumn(column - 1) : nullptr;
    const double* rawHere = s.RawColumn(column);
    const double* rawRight = hasRight ? s.RawColumn(column + 1) : nullptr;
    const double* corrHere = s.CorrelationColumn(column);
    const double* corrRight = hasRight ? s.CorrelationColumn(column + 1) : nullptr;
    double* mask = s.mask + column * H;
    for (std::int64_t r = 0; r < H; ++r) {
        const bool hasAbove = r > 0;
        const bool hasBelow = r + 1 < H;
        const double* corr = corrHere + r * 4;
        double v = rawHere[r];
        // Backward neighbours: the pair's coefficient is stored here.
        if (hasAbove) v = v + rawHere[r - 1] * corr[0];
        if (hasAbove && hasLeft) v = v + rawLeft[r - 1] * corr[1];
        if (hasLeft) v = v + rawLeft[r] * corr[2];
        if (hasBelow && hasLeft) v = v + rawLeft[r + 1] * corr[3];
        // Forward neighbours: stored at the neighbour, in the slot pointing back.
        if (hasBelow) v = v + corrHere[(r + 1) * 4 + 0] * rawHere[r + 1];
        if (hasBelow && hasRight) v = v + corrRight[(r + 1) * 4 + 1] * rawRight[r + 1];
        if (hasRight) v = v + corrRight[r * 4 + 2] * rawRight[r];
        if (hasAbove && hasRight) v = v + corrRight[(r - 1) * 4 + 3] * rawRight[r - 1];
        v = v / SmoothingDivisor;
        mask[r] = v >= 0 ? v : 0;  // negative sums and NaN become 0
    }
}

// Phase 4 for the pixels of one column, in increasing row order, after the
// column has been smoothed and every column to its left has adapted.
void AdaptColumn(const Sweep& s, std::int64_t column) {
    const std::int64_t H = s.H;
    const std::int64_t K = s.K;
    const double c = s.c;
    const double keep = s.keep;
    const double* mask = s.mask;
    double* pi = s.pi;
    for (std::int64_t r = 0; r < H; ++r) {
        const std::int64_t p = column * H + r;
        const double m = mask[p];
        double newPi = c * m + keep * pi[p];
        // Kept at the smallest normal double, as in AdaptModel: below it the
        // pixel could never be foreground again.
        if (newPi < SmallestPrior) newPi = SmallestPrior;
        pi[p] = newPi;
        const double e = m - newPi;
        s.var[p] = e * e * c + s.var[p] * keep;

        // Backward neighbours have adapted already: their Pi is this frame's.
        double* cv = s.cov + p * 4;
        const bool hasAbove = r > 0;
        const bool hasLeft = column > 0;
        const bool hasBelow = r + 1 < H;
        cv[0] = hasAbove ? (mask[p - 1] - pi[p - 1]) * e * c + keep * cv[0] : 0;
        cv[1] = hasAbove && hasLeft ? (mask[p - H - 1] - pi[p - H - 1]) * e * c + keep * cv[1] : 0;
        cv[2] = hasLeft ? (mask[p - H] - pi[p - H]) * e * c + keep * cv[2] : 0;
        cv[3] = hasBelow && hasLeft ? (mask[p - H + 1] - pi[p - H + 1]) * e * c + keep * cv[3] : 0;

        // Written by this frame's competition: a whole number in 0..K-1.
        const std::int64_t w = static_cast<std::int32_t>(s.neuroWin[p]);
        // A prior of exactly 1 leaves the pixel's neurons where they are, as
        // in AdaptModel.
        const double background = 1 - newPi;
        const double b = background == 0 ? 0.0 : (1 - m) / background;

        const double x0 = s.x0s[p];
        const double x1 = s.x1s[p];
        const double x2 = s.x2s[p];
        const double maximumVariance = s.maximumVariance[p];
        const double* weights = s.weights + w * K;
        double* neuron = s.mu + p * K * 3;
        double* variances = s.sigma2 + p * K;
        for (std::int64_t j = 0; j < K; ++j, neuron += 3) {
            double a = b * weights[j];
            if (a > 1) a = 1;  // a neuron moves at most onto the colour, as in AdaptModel
            const double d0 = x0 - neuron[0];
            const double d1 = x1 - neuron[1];
            const double d2 = x2 - neuron[2];
            neuron[0] = neuron[0] + a * d0;
            neuron[1] = neuron[1] + a * d1;
            neuron[2] = neuron[2] + a * d2;
            const double distance2 = d1 * d1 + d0 * d0 + d2 * d2;
            double s2 = variances[j];
            s2 = s2 + a * (distance2 * VarianceTargetFactor - s2);
            if (s2 > maximumVariance) s2 = maximumVariance;  // NaN is not clamped
            variances[j] = s2;
        }
    }
}

}  // namespace

void UpdateModelOnePass(const BackgroundModel& model, const ModelSizes& sizes,
                        const FrameImage& frame, const NeighborhoodMatrix& matrix,
                        double* smoothedMask, double* correlationTable) {
    Sweep s;
    s.H = sizes.H;
    s.W = sizes.W;
    s.N = sizes.N;
    s.K = sizes.K;
    s.minimumVariance = model.MinimumVariance.data[0];
    s.c = model.StepSize.data[0];
    s.keep = 1 - s.c;
    s.x0s = frame.data;
    s.x1s = frame.data + s.N;
    s.x2s = frame.data + 2 * s.N;
    s.weights = matrix.data;
    s.mu = model.Mu.data;
    s.sigma2 = model.Sigma2.data;
    s.mask = model.imMask.data;
    s.pi = model.Pi.data;
    s.neuroWin = model.NeuroWin.data;
    s.var = model.Var.data;
    s.cov = model.Cov.data;
    s.maximumVariance = model.MaximumVariance.data;
    s.rawRing = smoothedMask;
    s.correlationRing = correlationTable;

    // Column c + 1 is scored and correlated before column c is smoothed (which
    // needs its raw probabilities and correlations) and adapted (which changes
    // the Var that column c + 1's correlations read).
    CompeteColumn(s, 0);
    CorrelateColumn(s, 0);
    for (std::int64_t column = 0; column < s.W; ++column) {
        if (column + 1 < s.W) {
            CompeteColumn(s, column + 1);
            CorrelateColumn(s, column + 1);
        }
        SmoothColumn(s, column);
        AdaptColumn(s, column);
    }
}

}  // namespace corvane
