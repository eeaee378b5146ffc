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
    double* rawRing;          // raw probabilities, H per column slot
    double* correlationRing;  // correlations, 4*H per column slot

    // Column slots: four of raw probabilities and three of correlations, the
    // most that are live at once. Narrower images index the blocks directly;
    // they have no more columns than that, and N is at least columns * H.
    double* RawColumn(std::int64_t column) const {
        return rawRing + (W >= 4 ? column % 4 : column) * H;
    }
    double* CorrelationColumn(std::int64_t column) const {
        return correlationRing + (W >= 3 ? column % 3 : column) * 4 * H;
    }
};

// Where the pixels of one column keep their scratch values, and those of the
// columns either side (null where the column does not exist).
struct ColumnSlots {
    std::int64_t column;
    bool hasLeft, hasRight;
    double* rawLeft;
    double* rawHere;
    double* rawRight;
    double* correlationHere;
    double* correlationRight;
};

ColumnSlots SlotsOf(const Sweep& s, std::int64_t column) {
    ColumnSlots slots;
    slots.column = column;
    slots.hasLeft = column > 0;
    slots.hasRight = column + 1 < s.W;
    slots.rawLeft = slots.hasLeft ? s.RawColumn(column - 1) : nullptr;
    slots.rawHere = s.RawColumn(column);
    slots.rawRight = slots.hasRight ? s.RawColumn(column + 1) : nullptr;
    slots.correlationHere = s.CorrelationColumn(column);
    slots.correlationRight = slots.hasRight ? s.CorrelationColumn(column + 1) : nullptr;
    return slots;
}

// Phase 1 for pixel p: winner into NeuroWin, raw foreground probability into
// *raw. Same arithmetic, in the same order, as CompeteNeurons.
inline void CompetePixel(const Sweep& s, std::int64_t p, double* raw) {
    const std::int64_t K = s.K;
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
            // Ties keep the lower index; NaN never wins. Written as selects:
            // which neuron wins is data and mispredicts as a branch.
            const bool better = g > best;
            best = better ? g : best;
            winner = better ? j0 + i : winner;
        }
    }
    s.neuroWin[p] = static_cast<double>(winner);
    const double mean = sum / static_cast<double>(K);
    const double f = prior * UniformForegroundDensity;
    *raw = f / (mean * (1 - prior) + f);
}

// sqrt of Var near the pixel being correlated, carried down a column so that
// each is taken once: the pixel above and the left column's rows r - 1, r and
// r + 1. Taking a value once and reusing it gives the same bits.
struct SigmaWindow {
    double above = 0;
    double leftAbove = 0, left = 0, leftBelow = 0;
};

// Phase 2 for pixel p at row r of `slots.column`, into the column's slot. Runs
// before p and its backward neighbours adapt: it reads their old Var and p's
// old Cov.
inline void CorrelatePixel(const Sweep& s, const ColumnSlots& slots, std::int64_t r,
                           std::int64_t p, SigmaWindow& sigma) {
    const std::int64_t H = s.H;
    const double* var = s.var;
    if (slots.hasLeft) {
        if (r == 0) sigma.leftBelow = std::sqrt(var[p - H]);
        sigma.leftAbove = sigma.left;
        sigma.left = sigma.leftBelow;
        if (r + 1 < H) sigma.leftBelow = std::sqrt(var[p - H + 1]);
    }
    const double sigmaP = std::sqrt(var[p]);
    const double* cv = s.cov + p * 4;
    const bool present[4] = {r > 0, r > 0 && slots.hasLeft, slots.hasLeft,
                             slots.hasLeft && r + 1 < H};
    const double sigmaQ[4] = {sigma.above, sigma.leftAbove, sigma.left, sigma.leftBelow};
    // An absent neighbour divides 0 by 1, which is exactly +0. Four plain
    // divisions in a row, so the compiler can pair them.
    double numerator[4], denominator[4];
    for (int k = 0; k < 4; ++k) {
        numerator[k] = present[k] ? cv[k] : 0.0;
        denominator[k] = present[k] ? sigmaQ[k] * sigmaP : 1.0;
    }
    double* out = slots.correlationHere + r * 4;
    for (int k = 0; k < 4; ++k) out[k] = numerator[k] / denominator[k];
    sigma.above = sigmaP;
}

// Phase 3 for pixel p at row r: the correlation-weighted 3x3 sum of raw
// probabilities, straight into imMask. Needs the raw probabilities of the
// columns either side and the correlations of this column and the next.
inline void SmoothPixel(const Sweep& s, const ColumnSlots& slots, std::int64_t r,
                        std::int64_t p) {
    const bool hasAbove = r > 0;
    const bool hasBelow = r + 1 < s.H;
    const bool hasLeft = slots.hasLeft;
    const bool hasRight = slots.hasRight;
    const double* rawHere = slots.rawHere;
    const double* rawLeft = slots.rawLeft;
    const double* rawRight = slots.rawRight;
    const double* corr = slots.correlationHere + r * 4;
    double v = rawHere[r];
    // Backward neighbours: the pair's coefficient is stored here.
    if (hasAbove) v = v + rawHere[r - 1] * corr[0];
    if (hasAbove && hasLeft) v = v + rawLeft[r - 1] * corr[1];
    if (hasLeft) v = v + rawLeft[r] * corr[2];
    if (hasBelow && hasLeft) v = v + rawLeft[r + 1] * corr[3];
    // Forward neighbours: stored at the neighbour, in the slot pointing back.
    if (hasBelow) v = v + slots.correlationHere[(r + 1) * 4 + 0] * rawHere[r + 1];
    if (hasBelow && hasRight) v = v + slots.correlationRight[(r + 1) * 4 + 1] * rawRight[r + 1];
    if (hasRight) v = v + slots.correlationRight[r * 4 + 2] * rawRight[r];
    if (hasAbove && hasRight) v = v + slots.correlationRight[(r - 1) * 4 + 3] * rawRight[r - 1];
    v = v / SmoothingDivisor;
    s.mask[p] = v >= 0 ? v : 0;  // negative sums and NaN become 0
}

// Phase 4 for pixel p at row r, after p has been smoothed and every earlier
// pixel has adapted.
inline void AdaptPixel(const Sweep& s, const ColumnSlots& slots, std::int64_t r,
                       std::int64_t p) {
    const std::int64_t H = s.H;
    const std::int64_t K = s.K;
    const double c = s.c;
    const double keep = s.keep;
    const double* mask = s.mask;
    double* pi = s.pi;
    const double m = mask[p];
    const double newPi = c * m + keep * pi[p];
    pi[p] = newPi;
    const double e = m - newPi;
    s.var[p] = e * e * c + s.var[p] * keep;

    // Backward neighbours have adapted already: their Pi is this frame's.
    double* cv = s.cov + p * 4;
    const bool hasAbove = r > 0;
    const bool hasLeft = slots.hasLeft;
    const bool hasBelow = r + 1 < H;
    cv[0] = hasAbove ? (mask[p - 1] - pi[p - 1]) * e * c + keep * cv[0] : 0;
    cv[1] = hasAbove && hasLeft ? (mask[p - H - 1] - pi[p - H - 1]) * e * c + keep * cv[1] : 0;
    cv[2] = hasLeft ? (mask[p - H] - pi[p - H]) * e * c + keep * cv[2] : 0;
    cv[3] = hasBelow && hasLeft ? (mask[p - H + 1] - pi[p - H + 1]) * e * c + keep * cv[3] : 0;

    // Written by this frame's competition: a whole number in 0..K-1.
    const std::int64_t w = static_cast<std::int32_t>(s.neuroWin[p]);
    // A prior of exactly 1 leaves the pixel's neurons where they are, as in
    // AdaptModel.
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
        const double a = b * weights[j];
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

inline void FinishPixel(const Sweep& s, const ColumnSlots& slots, std::int64_t r) {
    const std::int64_t p = slots.column * s.H + r;
    SmoothPixel(s, slots, r, p);
    AdaptPixel(s, slots, r, p);
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

    // Pixel t is scored and correlated H + 1 pixels ahead of pixel t - H - 1,
    // which is then smoothed and adapted: smoothing needs the raw probability
    // and correlations of its forward neighbours (up to t), and the
    // correlations of t read the Var of t - H - 1, which adapting it changes.
    // The lag keeps about one column of neurons between their scoring and
    // their adaptation, so they are still in cache, and interleaves the
    // library calls of one pixel with the plain arithmetic of another.
    const std::int64_t H = s.H;
    const std::int64_t W = s.W;
    ColumnSlots finishing[2];  // columns c - 1 and c - 2
    for (std::int64_t column = 0; column <= W; ++column) {
        ColumnSlots current{};
        if (column < W) current = SlotsOf(s, column);
        if (column >= 1) finishing[0] = SlotsOf(s, column - 1);
        if (column >= 2) finishing[1] = SlotsOf(s, column - 2);
        SigmaWindow sigma;
        for (std::int64_t r = 0; r < H; ++r) {
            if (column < W) {
                const std::int64_t p = column * H + r;
                CompetePixel(s, p, current.rawHere + r);
                CorrelatePixel(s, current, r, p, sigma);
            }
            if (r > 0) {
                if (column >= 1) FinishPixel(s, finishing[0], r - 1);
            } else if (column >= 2) {
                FinishPixel(s, finishing[1], H - 1);
            }
        }
    }
    FinishPixel(s, SlotsOf(s, W - 1), H - 1);
}

}  // namespace corvane
