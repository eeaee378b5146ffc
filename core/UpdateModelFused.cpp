#include "internal/UpdateModelFused.h"

#include <cmath>
#include <cstdint>

#include "internal/PixelKernel.h"
#include "internal/WorkerThreads.h"

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
    double* rawScratch;          // raw probabilities, H per column slot (N in all)
    double* correlationScratch;  // correlations, 4*H per column slot (4*N in all)
};

// The columns first .. last, swept by one thread from left to right.
//
// The scratch has room for every column at its own place (slot = column),
// and that is where the columns that other bands read live: the raw
// probabilities of a band's first and last columns and the correlations of
// its first column. The band's other columns are needed only while its sweep
// passes them: three columns of raw probabilities (c - 1, c, c + 1) and two
// of correlations (c, c + 1) at a time, so in a band of at least five
// columns they take turns in the slots of the band's second to fourth
// columns, which stay in cache; narrower bands use their own slots.
struct Band {
    std::int64_t first;
    std::int64_t last;

    bool Rings() const { return last - first + 1 >= 5; }
    std::int64_t RawSlot(std::int64_t column) const {
        if (!Rings() || column <= first || column >= last) return column;
        return first + 1 + (column - first - 1) % 3;
    }
    std::int64_t CorrelationSlot(std::int64_t column) const {
        if (!Rings() || column <= first || column > last) return column;
        return first + 1 + (column - first - 1) % 2;
    }
    double* RawColumn(const Sweep& s, std::int64_t column) const {
        return s.rawScratch + RawSlot(column) * s.H;
    }
    double* CorrelationColumn(const Sweep& s, std::int64_t column) const {
        return s.correlationScratch + CorrelationSlot(column) * 4 * s.H;
    }
};

// Band b of `bands` over W columns: as equal as whole columns allow.
Band BandOf(std::int64_t W, int bands, int b) {
    return Band{W * b / bands, W * (b + 1) / bands - 1};
}

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
void CompeteRows(const Sweep& s, const Band& band, std::int64_t column) {
    const std::int64_t K = s.K;
    const double minimumVariance = s.minimumVariance;  // a local, as in AdaptRows
    const std::int64_t first = column * s.H;
    double* variances = s.newSigma2 + first * K;
    kernel::ScorePixels(s.x0s + first, s.x1s + first, s.x2s + first, s.pi + first,
                        s.mu + first * K * 3, kInPlace ? variances : s.sigma2 + first * K,
                        variances, K, s.H, minimumVariance, band.RawColumn(s, column),
                        s.neuroWin + first);
}

void CompeteColumn(const Sweep& s, const Band& band, std::int64_t column) {
    if (s.sigma2 == s.newSigma2)
        CompeteRows<true>(s, band, column);
    else
        CompeteRows<false>(s, band, column);
}

// Phase 2 for the pixels of one column, into the column's ring slot. Must run
// before the column itself and the column to its left adapt: it reads their
// old Var and this column's old Cov.
void CorrelateColumn(const Sweep& s, const Band& band, std::int64_t column) {
    const std::int64_t H = s.H;
    double* table = band.CorrelationColumn(s, column);
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
void SmoothColumn(const Sweep& s, const Band& band, std::int64_t column) {
    const std::int64_t H = s.H;
    const bool hasLeft = column > 0;
    const bool hasRight = column + 1 < s.W;
    ColumnNeighbours neighbours{hasLeft ? band.RawColumn(s, column - 1) : nullptr,
                                band.RawColumn(s, column),
                                hasRight ? band.RawColumn(s, column + 1) : nullptr,
                                band.CorrelationColumn(s, column),
                                hasRight ? band.CorrelationColumn(s, column + 1) : nullptr,
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
// kInPlace: the destination's Mu is the source's. Covariance slots not in
// `slots` are left for JoinBandEdge.
template <bool kInPlace>
void AdaptRows(const Sweep& s, std::int64_t column, kernel::Links slots) {
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
                                 RowLinks(interior, r, column, H, s.W), slots, learned.e, c, keep,
                                 BackwardNeighbours{s.mask, s.newPi, p, H});

        // Written by this frame's competition: a whole number in 0..K-1.
        const std::int64_t w = static_cast<std::int32_t>(s.neuroWin[p]);
        double* means = s.newMu + p * K * 3;
        kernel::AdaptNeurons(s.x0s[p], s.x1s[p], s.x2s[p], m, learned.pi, s.weights + w * K, K,
                             s.maximumVariance[p], kInPlace ? means : s.mu + p * K * 3, means,
                             s.newSigma2 + p * K);
    }
}

void AdaptColumn(const Sweep& s, std::int64_t column, kernel::Links slots) {
    if (s.mu == s.newMu)
        AdaptRows<true>(s, column, slots);
    else
        AdaptRows<false>(s, column, slots);
}

// The covariances of a band's first column with the column to its left
// (slots 1 to 3: above-left, left, below-left), once the band to the left
// has adapted that column: they read its smoothed probabilities and this
// frame's priors. Evaluated exactly as the sweep would have, with the pixel's
// evidence e = m - Pi taken again from the stored smoothed probability and
// new prior.
void JoinBandEdge(const Sweep& s, std::int64_t column) {
    const std::int64_t H = s.H;
    const kernel::Links interior = kernel::LinksAt(1, column, H, s.W);
    const kernel::Links leftSlots = 0xE;
    for (std::int64_t r = 0; r < H; ++r) {
        const std::int64_t p = column * H + r;
        const double e = s.mask[p] - s.newPi[p];
        kernel::AdaptCovariances(s.cov + p * 4, s.newCov + p * 4,
                                 RowLinks(interior, r, column, H, s.W), leftSlots, e, s.c, s.keep,
                                 BackwardNeighbours{s.mask, s.newPi, p, H});
    }
}

// The sweep split into bands of columns, one per thread.
struct BandedSweep {
    Sweep s;
    int bands;
};

// Stage 1 of band b: what its neighbouring bands read of it, computed before
// any band adapts a column (competition and correlation read only the
// source): the raw probabilities of its first and last columns and the
// correlations of its first column, which read the old Var of the column to
// its left.
void StartBand(void* context, int b) {
    const BandedSweep& sweep = *static_cast<const BandedSweep*>(context);
    const Sweep& s = sweep.s;
    const Band band = BandOf(s.W, sweep.bands, b);
    CompeteColumn(s, band, band.first);
    CorrelateColumn(s, band, band.first);
    if (band.last != band.first) CompeteColumn(s, band, band.last);
}

// Stage 2 of band b: the band's columns from left to right. Column c + 1 is
// scored and correlated before column c is smoothed (which needs its raw
// probabilities and correlations) and adapted (which changes the Var that
// column c + 1's correlations read); the first and last columns were scored,
// and the first correlated, in stage 1. The first column's covariances with
// the column to its left wait for JoinBandEdge: that column is the band to
// the left's, and it may not have adapted yet.
void SweepBand(void* context, int b) {
    const BandedSweep& sweep = *static_cast<const BandedSweep*>(context);
    const Sweep& s = sweep.s;
    const Band band = BandOf(s.W, sweep.bands, b);
    for (std::int64_t column = band.first; column <= band.last; ++column) {
        if (column + 1 <= band.last) {
            if (column + 1 != band.last) CompeteColumn(s, band, column + 1);
            CorrelateColumn(s, band, column + 1);
        }
        SmoothColumn(s, band, column);
        const bool waits = column == band.first && column > 0;
        AdaptColumn(s, column, waits ? 0x1 : kernel::kAllBackwardSlots);
    }
}

}  // namespace

void UpdateModelOnePass(const BackgroundModel& source, const UpdatedFields& destination,
                        const ModelSizes& sizes, const FrameImage& frame,
                        const NeighborhoodMatrix& matrix, double* smoothedMask,
                        double* correlationTable, int threads) {
    BandedSweep sweep;
    Sweep& s = sweep.s;
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
    s.rawScratch = smoothedMask;
    s.correlationScratch = correlationTable;

    // One band per thread, at least one column each.
    int bands = threads < 1 ? 1 : threads;
    if (bands > kMaxTasks) bands = kMaxTasks;
    if (bands > s.W) bands = static_cast<int>(s.W);
    sweep.bands = bands;

    // Each stage ends when all its threads have: a band's stage 2 reads what
    // its neighbours wrote in stage 1, and JoinBandEdge what they wrote in
    // stage 2.
    RunTasks(bands, &StartBand, &sweep);
    RunTasks(bands, &SweepBand, &sweep);
    for (int b = 1; b < bands; ++b) JoinBandEdge(s, BandOf(s.W, bands, b).first);
}

}  // namespace corvane
