#include <cstdint>

#include "internal/ModelPhases.h"
#include "internal/PixelKernel.h"

namespace corvane {
namespace {

// A pixel's backward neighbours found through its offsets: their smoothed
// probability and (already updated) prior.
struct OffsetNeighbours {
    const double* mask;
    const double* pi;
    const NeighborOffsets& offsets;
    std::int64_t p;

    double Mask(int k) const { return mask[p + offsets.slot[k]]; }
    double Pi(int k) const { return pi[p + offsets.slot[k]]; }
};

}  // namespace

void AdaptModel(const BackgroundModel& model, const ModelSizes& sizes, NeighborOffsets& offsets,
                const FrameImage& frame, const NeighborhoodMatrix& matrix) {
    const std::int64_t N = sizes.N;
    const std::int64_t K = sizes.K;
    const double c = model.StepSize.data[0];
    const double keep = 1 - c;
    const double* mask = model.imMask.data;
    double* pi = model.Pi.data;
    const double* x = frame.data;

    for (std::int32_t p = 0; p < sizes.N; ++p) {
        const double m = mask[p];
        const kernel::IndicatorUpdate learned =
            kernel::LearnIndicator(m, pi[p], model.Var.data[p], c, keep);
        pi[p] = learned.pi;
        model.Var.data[p] = learned.var;

        // Backward neighbours come earlier in the scan, so their Pi is already
        // this frame's: the pixel order is part of the result.
        ComputeBackwardOffsets(offsets, p, sizes.H);
        double* cov = model.Cov.data + static_cast<std::int64_t>(p) * 4;
        kernel::AdaptCovariances(cov, cov, kernel::LinksOf(offsets, kBackwardSlots),
                                 kernel::kAllBackwardSlots, learned.e, c, keep,
                                 OffsetNeighbours{mask, pi, offsets, p});

        // NeuroWin was written by this update's competition: a whole number in 0..K-1.
        const std::int64_t w = static_cast<std::int32_t>(model.NeuroWin.data[p]);
        double* means = model.Mu.data + static_cast<std::int64_t>(p) * K * 3;
        double* variances = model.Sigma2.data + static_cast<std::int64_t>(p) * K;
        kernel::AdaptNeurons(x[p], x[N + p], x[2 * N + p], m, learned.pi, matrix.data + w * K, K,
                             model.MaximumVariance.data[p], means, means, variances);
    }
}

}  // namespace corvane
