#include "UpdateModelFused.h"

#include <cmath>
#include <cstdint>

#include "PixelKernel.h"

namespace corvane {
namespace {

// Everything one sweep needs, read once per call. Old values are read from
// the source; the values this frame writes go to the destination, and the
// sweep reads them back from there.
struct Sweep {
    std::int64_t H, W, N, K;
    double minimumVariance;
    double c;     // StepSize
    double keep;  // 1 - StepSize
    const double* x0s;
    const double* x1s;
    const double* x2s;
    const double* weights;  // neighbourhood matrix
    // Source: this frame's starting point.
    const double* mu;
    const double* sigma2;
    const double* pi;
    const double* var;
    const double* cov;
    const double* maximumVariance;
    // Destination.
    double* newMu;
    double* newSigma2;  // through the variance floor's round trip, then adapted
    double* mask;       // smoothed probabilities
    double* newPi;
    double* neuroWin;
    double* newVar;
    double* newCov;
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

// The links of row r of a column whose interior rows (neither first nor
// last) have the links `interior`.
kernel::Links RowLinks(kernel::Links interior, std::int64_t r, std::int64_t column,
                       std::int64_t H, std::int64_t W) {
    return r > 0 && r + 1 < H ? interior : kernel::LinksAt(r, column, H, W);
}

// Phase 1 for the pixels of one column: winner into NeuroWin, raw foreground
// probability into the column's ring slot. kInPlace: the destination's Sigma2
// is the source's (the compiler then knows that reads and writes meet).
template <bool kInPlace>
void CompeteRows(const Sweep& s, std::int64_t column) {
    const std::int64_t K = s.K;
    const double minimumVariance = s.minimumVariance;  // a local, as in AdaptRows
    double* raw = s.RawColumn(column);
    for (std::int64_t r = 0; r < s.H; ++r) {
        const std::int64_t p = column * s.H + r;
        double* variances = s.newSigma2 + p * K;
        const kernel::PixelScore score = kernel::ScorePixel(
            s.x0s[p], s.x1s[p], s.x2s[p], s.pi[p], s.mu + p * K * 3,
            kInPlace ? variances : s.sigma2 + p * K, variances, K, minimumVariance);
        s.neuroWin[p] = static_cast<double>(score.winner);
        raw[r] = score.raw;
    }
}

void CompeteColumn(const Sweep& s, std::int64_t column) {
    if (s.sigma2 == s.newSigma2)
        CompeteRows<true>(s, column);
    else
        CompeteRows<false>(s, column);
}

// Phase 2 for the pixels of one column, into the column's ring slot. Must run
// before the column itself and the column to its left adapt: it reads their
// old Var and this column's old Cov.
void CorrelateColumn(const Sweep& s, std::int64_t column) {
    const std::int64_t H = s.H;
    double* table = s.CorrelationColumn(column);
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
        kernel::CorrelatePixel(s.cov + p * 4, here, backward, RowLinks(interior, r, column, H, s.W),
                               table + r * 4);
        backward[0] = here;
    }
}

// The neighbours of row r of a column in the column rings: raw probabilities
// of the columns either side and correlations of this column and the next.
struct ColumnNeighbours {
    const double* rawLeft;
    const double* rawHere;
    const double* rawRight;
    const double* corrHere;
    const double* corrRight;
    std::int64_t r;

    double Raw(int k) const {
        switch (k) {
            case 0: return rawHere[r - 1];
            case 1: return rawLeft[r - 1];
            case 2: return rawLeft[r];
            case 3: return rawLeft[r + 1];
            case 4: return rawHere[r + 1];
            case 5: return rawRight[r + 1];
            case 6: return rawRight[r];
            default: return rawRight[r - 1];
        }
    }
    // Backward slots: stored here; forward slot 4 + k: at the neighbour, in
    // its backward slot k.
    double Correlation(int k) const {
        switch (k) {
            case 0: case 1: case 2: case 3: return corrHere[r * 4 + k];
            case 4: return corrHere[(r + 1) * 4 + 0];
            case 5: return corrRight[(r + 1) * 4 + 1];
            case 6: return corrRight[r * 4 + 2];
            default: return corrRight[(r - 1) * 4 + 3];
        }
    }
};

// Phase 3 for the pixels of one column: the correlation-weighted 3x3 sum of
// raw probabilities, straight into imMask. Needs the raw probabilities of
// the columns either side and the correlations of this column and the next.
void SmoothColumn(const Sweep& s, std::int64_t column) {
    const std::int64_t H = s.H;
    const bool hasLeft = column > 0;
    const bool hasRight = column + 1 < s.W;
    ColumnNeighbours neighbours{hasLeft ? s.RawColumn(column - 1) : nullptr,
                                s.RawColumn(column),
                                hasRight ? s.RawColumn(column + 1) : nullptr,
                                s.CorrelationColumn(column),
                                hasRight ? s.CorrelationColumn(column + 1) : nullptr,
                                0};
    double* mask = s.mask + column * H;
    const kernel::Links interior = kernel::LinksAt(1, column, H, s.W);
    for (std::int64_t r = 0; r < H; ++r) {
        neighbours.r = r;
        mask[r] = kernel::SmoothPixel(neighbours.rawHere[r], RowLinks(interior, r, column, H, s.W),
                                      neighbours);
    }
}

// The backward neighbours of pixel p in the model's arrays: their smoothed
// probability and prior (already this frame's).
struct BackwardNeighbours {
    const double* mask;
    const double* pi;
    std::int64_t p;
    std::int64_t H;

    std::int64_t At(int k) const {
        switch (k) {
            case 0: return p - 1;
            case 1: return p - H - 1;
            case 2: return p - H;
            default: return p - H + 1;
        }
    }
    double Mask(int k) const { return mask[At(k)]; }
    double Pi(int k) const { return pi[At(k)]; }
};

// Phase 4 for the pixels of one column, in increasing row order, after the
// column has been smoothed and every column to its left has adapted.
// kInPlace: the destination's Mu is the source's.
template <bool kInPlace>
void AdaptRows(const Sweep& s, std::int64_t column) {
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

        // Backward neighbours have adapted already: their Pi is this frame's.
        kernel::AdaptCovariances(s.cov + p * 4, s.newCov + p * 4,
                                 RowLinks(interior, r, column, H, s.W), kernel::kAllBackwardSlots,
                                 learned.e, c, keep, BackwardNeighbours{s.mask, s.newPi, p, H});

        // Written by this frame's competition: a whole number in 0..K-1.
        const std::int64_t w = static_cast<std::int32_t>(s.neuroWin[p]);
        double* means = s.newMu + p * K * 3;
        kernel::AdaptNeurons(s.x0s[p], s.x1s[p], s.x2s[p], m, learned.pi, s.weights + w * K, K,
                             s.maximumVariance[p], kInPlace ? means : s.mu + p * K * 3, means,
                             s.newSigma2 + p * K);
    }
}

void AdaptColumn(const Sweep& s, std::int64_t column) {
    if (s.mu == s.newMu)
        AdaptRows<true>(s, column);
    else
        AdaptRows<false>(s, column);
}

}  // namespace

void UpdateModelOnePass(const BackgroundModel& source, const UpdatedFields& destination,
                        const ModelSizes& sizes, const FrameImage& frame,
                        const NeighborhoodMatrix& matrix, double* smoothedMask,
                        double* correlationTable) {
    Sweep s;
    s.H = sizes.H;
    s.W = sizes.W;
    s.N = sizes.N;
    s.K = sizes.K;
    s.minimumVariance = source.MinimumVariance.data[0];
    s.c = source.StepSize.data[0];
    s.keep = 1 - s.c;
    s.x0s = frame.data;
    s.x1s = frame.data + s.N;
    s.x2s = frame.data + 2 * s.N;
    s.weights = matrix.data;
    s.mu = source.Mu.data;
    s.sigma2 = source.Sigma2.data;
    s.pi = source.Pi.data;
    s.var = source.Var.data;
    s.cov = source.Cov.data;
    s.maximumVariance = source.MaximumVariance.data;
    s.newMu = destination.Mu.data;
    s.newSigma2 = destination.Sigma2.data;
    s.mask = destination.imMask.data;
    s.newPi = destination.Pi.data;
    s.neuroWin = destination.NeuroWin.data;
    s.newVar = destination.Var.data;
    s.newCov = destination.Cov.data;
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
