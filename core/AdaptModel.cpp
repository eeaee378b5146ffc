#include <cstdint>

#include "ModelConstants.h"
#include "UpdateModel.h"

namespace corvane {

void AdaptModel(const BackgroundModel& model, const ModelSizes& sizes, NeighborOffsets& offsets,
                const FrameImage& frame, const NeighborhoodMatrix& matrix) {
    const std::int64_t N = sizes.N;
    const std::int64_t K = sizes.K;
    const double c = model.StepSize.data[0];
    const double keep = 1 - c;
    const double* mask = model.imMask.data;
    double* pi = model.Pi.data;
    double* var = model.Var.data;
    double* cov = model.Cov.data;
    double* mu = model.Mu.data;
    double* sigma2 = model.Sigma2.data;
    const double* x0s = frame.data;
    const double* x1s = frame.data + N;
    const double* x2s = frame.data + 2 * N;

    for (std::int32_t p = 0; p < sizes.N; ++p) {
        const double m = mask[p];
        double newPi = c * m + keep * pi[p];
        // A static scene drives the prior down by about (1 - c) per frame; once
        // it underflows (to 0 or to a subnormal whose product with the uniform
        // density is 0) the pixel could never be foreground again. The prior
        // is kept at the smallest normal double instead; NaN passes through.
        if (newPi < SmallestPrior) newPi = SmallestPrior;
        pi[p] = newPi;
        const double e = m - newPi;
        var[p] = e * e * c + var[p] * keep;

        // Backward neighbours come earlier in the scan, so their Pi is already
        // this frame's: the pixel order is part of the result.
        ComputeBackwardOffsets(offsets, p, sizes.H);
        const std::int64_t base = static_cast<std::int64_t>(p) * 4;
        for (int k = 0; k < kBackwardSlots; ++k) {
            const std::int32_t o = offsets.slot[k];
            if (o != 0) {
                const std::int64_t q = static_cast<std::int64_t>(p) + o;
                cov[base + k] = (mask[q] - pi[q]) * e * c + keep * cov[base + k];
            } else {
                cov[base + k] = 0;
            }
        }

        // NeuroWin was written by this update's competition: a whole number in 0..K-1.
        const std::int64_t w = static_cast<std::int32_t>(model.NeuroWin.data[p]);
        // A prior that has reached exactly 1 would divide by zero and put NaN or
        // infinity into every mean of the pixel for good; such a pixel's neurons
        // stay where they are this frame instead.
        const double background = 1 - newPi;
        const double b = background == 0 ? 0.0 : (1 - m) / background;

        const double x0 = x0s[p];
        const double x1 = x1s[p];
        const double x2 = x2s[p];
        const double maximumVariance = model.MaximumVariance.data[p];
        const double* weights = matrix.data + w * K;
        for (std::int64_t j = 0; j < K; ++j) {
            double a = b * weights[j];
            // b reaches 1/StepSize when the prior is near 1 and the mask falls,
            // so a can exceed 1 even with weights of at most 1. Past 1 the mean
            // overshoots the colour and the variance can turn negative; past 2
            // every frame multiplies the mean's distance by a - 1, until it
            // overflows into infinities and NaN. A neuron moves at most onto
            // the colour instead. NaN passes through.
            if (a > 1) a = 1;
            double* neuron = mu + (static_cast<std::int64_t>(p) * K + j) * 3;
            const double d0 = x0 - neuron[0];
            const double d1 = x1 - neuron[1];
            const double d2 = x2 - neuron[2];
            neuron[0] = neuron[0] + a * d0;
            neuron[1] = neuron[1] + a * d1;
            neuron[2] = neuron[2] + a * d2;
            const double distance2 = d1 * d1 + d0 * d0 + d2 * d2;
            double s2 = sigma2[static_cast<std::int64_t>(p) * K + j];
            s2 = s2 + a * (distance2 * VarianceTargetFactor - s2);
            if (s2 > maximumVariance) s2 = maximumVariance;  // NaN is not clamped
            sigma2[static_cast<std::int64_t>(p) * K + j] = s2;
        }
    }
}

}  // namespace corvane
