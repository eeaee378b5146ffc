// The sweep's column kernels as they were before they took several pixels at
// once: each phase one pixel at a time. The benchmarks time the update with
// them beside the update with the vector kernels, in the same run.
#include <cstdint>

#include "internal/PixelKernel.h"
#include "internal/SweepColumns.h"

namespace corvane {
namespace {

template <bool kInPlace>
void CompeteRows(const SweepArrays& s, std::int64_t column, double* raw) {
    const std::int64_t K = s.K;
    const double minimumVariance = s.minimumVariance;
    const std::int64_t first = column * s.H;
    double* variances = s.newSigma2 + first * K;
    kernel::ScorePixels(s.x0s + first, s.x1s + first, s.x2s + first, s.pi + first,
                        s.mu + first * K * 3, kInPlace ? variances : s.sigma2 + first * K,
                        variances, K, s.H, minimumVariance, raw, s.neuroWin + first,
                        RoundedMathFastestPath());
}

void CompeteColumn(const SweepArrays& s, std::int64_t column, double* raw) {
    if (s.sigma2 == s.newSigma2)
        CompeteRows<true>(s, column, raw);
    else
        CompeteRows<false>(s, column, raw);
}

void CorrelateColumn(const SweepArrays& s, std::int64_t column, double* table) {
    const std::int64_t H = s.H;
    const double* var = s.var;
    const std::int64_t first = column * H;
    // The spreads of this column (above) and of the column to the left (rows
    // r - 1, r, r + 1), each taken once and reused.
    kernel::Spread backward[kBackwardSlots];  // above, above-left, left, below-left
    if (column > 0) backward[3] = kernel::SpreadOf(var[first - H]);
    const kernel::Links interior = kernel::LinksAt(1, column, H, s.W);
    for (std::int64_t r = 0; r < H; ++r) {
        const std::int64_t p = first + r;
        const kernel::Spread here = kernel::SpreadOf(var[p]);
        if (column > 0) {
            backward[1] = backward[2];
            backward[2] = backward[3];
            if (r + 1 < H) backward[3] = kernel::SpreadOf(var[p - H + 1]);
        }
        kernel::CorrelatePixel(s.cov + p * 4, here, backward,
                               kernel::RowLinks(interior, r, column, H, s.W), table + r * 4);
        backward[0] = here;
    }
}

void SmoothColumn(const SweepArrays& s, std::int64_t column, const SmoothInputs& in) {
    const std::int64_t H = s.H;
    kernel::ColumnNeighbours neighbours{in, 0};
    double* mask = s.mask + column * H;
    const kernel::Links interior = kernel::LinksAt(1, column, H, s.W);
    for (std::int64_t r = 0; r < H; ++r) {
        neighbours.r = r;
        mask[r] = kernel::SmoothPixel(in.rawHere[r], kernel::RowLinks(interior, r, column, H, s.W),
                                      neighbours);
    }
}

template <bool kInPlace>
void AdaptRows(const SweepArrays& s, std::int64_t column, kernel::Links slots) {
    const std::int64_t H = s.H;
    const std::int64_t K = s.K;
    // Locals: a store through a double* could otherwise be the sweep's own
    // doubles, and the compiler would read them again after every store.
    const double c = s.c;
    const double keep = s.keep;
    const kernel::Links interior = kernel::LinksAt(1, column, H, s.W);
    for (std::int64_t r = 0; r < H; ++r) {
        const std::int64_t p = column * H + r;
        const double m = s.mask[p];
        const kernel::IndicatorUpdate learned =
            kernel::LearnIndicator(m, s.pi[p], s.var[p], c, keep);
        s.newPi[p] = learned.pi;
        s.newVar[p] = learned.var;
        kernel::AdaptCovariances(s.cov + p * 4, s.newCov + p * 4,
                                 kernel::RowLinks(interior, r, column, H, s.W), slots, learned.e,
                                 c, keep, kernel::BackwardNeighbours{s.mask, s.newPi, p, H});
        const std::int64_t w = static_cast<std::int32_t>(s.neuroWin[p]);
        double* means = s.newMu + p * K * 3;
        kernel::AdaptNeurons(s.x0s[p], s.x1s[p], s.x2s[p], m, learned.pi, s.weights + w * K, K,
                             s.maximumVariance[p], kInPlace ? means : s.mu + p * K * 3, means,
                             s.newSigma2 + p * K);
    }
}

void AdaptColumn(const SweepArrays& s, std::int64_t column, kernel::Links slots) {
    if (s.mu == s.newMu)
        AdaptRows<true>(s, column, slots);
    else
        AdaptRows<false>(s, column, slots);
}

}  // namespace

const ColumnKernels& PixelByPixelKernels() {
    static const ColumnKernels kernels{&CompeteColumn, &CorrelateColumn, &SmoothColumn,
                                       &AdaptColumn, RoundedMathFastestPath()};
    return kernels;
}

}  // namespace corvane
