// What the sweep (Sweep.cpp) hands its column kernels: the model's arrays,
// read once per call, and the table of the four kernels of one instruction
// set. Internal to the core.
#pragma once

#include <cstdint>

#include "PixelKernel.h"
#include "Sweep.h"

namespace corvane {

// Everything one sweep needs, read once per call. Old values are read from
// the source; the values this frame writes go to the destination, and the
// sweep reads them back from there.
struct SweepArrays {
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

// The columns a smoothing reads: raw probabilities of the column and of the
// columns either side (null where there is none), correlations of the column
// and of the next (null at the last column).
struct SmoothInputs {
    const double* rawLeft;
    const double* rawHere;
    const double* rawRight;
    const double* corrHere;
    const double* corrRight;
};

// The four steps of the sweep for one column of H pixels, for one instruction
// set. Each gives the bits of the per-pixel formulas in their literal order.
struct ColumnKernels {
    // Phase 1: winners into NeuroWin, variances through the floor's round
    // trip into the destination's Sigma2, raw probabilities into raw[0..H).
    void (*compete)(const SweepArrays& s, std::int64_t column, double* raw);
    // Phase 2: correlations with the four backward neighbours into
    // table[0..4H). Reads the old Var of this column and the one to its left.
    void (*correlate)(const SweepArrays& s, std::int64_t column, double* table);
    // Phase 3: smoothed probabilities into imMask.
    void (*smooth)(const SweepArrays& s, std::int64_t column, const SmoothInputs& in);
    // Phase 4: Pi, Var, the covariance slots named by `slots` (the others are
    // left for the band's edge), Mu and Sigma2, in increasing row order; the
    // columns to the left have adapted already.
    void (*adapt)(const SweepArrays& s, std::int64_t column, kernel::Links slots);
    VectorPath path;
};

// The column kernels of each instruction set, written once over rows
// (SweepKernels.h) and compiled for each (SweepKernels*.cpp); null where this
// build has no such path.
const ColumnKernels* ScalarColumnKernels();
const ColumnKernels* Sse2ColumnKernels();
const ColumnKernels* Avx2ColumnKernels();
const ColumnKernels* Avx512ColumnKernels();

// The same with the neurons per pixel always read at run time, as before the
// common counts were fixed at compile time: the benchmarks' baseline.
const ColumnKernels* ScalarBaselineColumnKernels();
const ColumnKernels* Sse2BaselineColumnKernels();
const ColumnKernels* Avx2BaselineColumnKernels();
const ColumnKernels* Avx512BaselineColumnKernels();

// The per-row helpers of the column kernels, compiled into each kernel's
// own namespace (see PixelKernel.h).
namespace kernel {
inline namespace CORVANE_KERNEL_ISA {

// The links of row r of a column whose interior rows (neither first nor
// last) have the links `interior`.
CORVANE_KERNEL Links RowLinks(Links interior, std::int64_t r, std::int64_t column,
                                      std::int64_t H, std::int64_t W) {
    return r > 0 && r + 1 < H ? interior : LinksAt(r, column, H, W);
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

// The neighbours of row r of a column in the column rings.
struct ColumnNeighbours {
    SmoothInputs in;
    std::int64_t r;

    double Raw(int k) const {
        switch (k) {
            case 0: return in.rawHere[r - 1];
            case 1: return in.rawLeft[r - 1];
            case 2: return in.rawLeft[r];
            case 3: return in.rawLeft[r + 1];
            case 4: return in.rawHere[r + 1];
            case 5: return in.rawRight[r + 1];
            case 6: return in.rawRight[r];
            default: return in.rawRight[r - 1];
        }
    }
    // Backward slots: stored here; forward slot 4 + k: at the neighbour, in
    // its backward slot k.
    double Correlation(int k) const {
        switch (k) {
            case 0: case 1: case 2: case 3: return in.corrHere[r * 4 + k];
            case 4: return in.corrHere[(r + 1) * 4 + 0];
            case 5: return in.corrRight[(r + 1) * 4 + 1];
            case 6: return in.corrRight[r * 4 + 2];
            default: return in.corrRight[(r - 1) * 4 + 3];
        }
    }
};

// The correlations of row r of a column with its backward neighbours, one
// pixel at a time.
CORVANE_KERNEL void CorrelateRow(const SweepArrays& s, std::int64_t column, std::int64_t r,
                                 double* table) {
    const std::int64_t H = s.H;
    const std::int64_t p = column * H + r;
    const Links links = LinksAt(r, column, H, s.W);
    const std::int64_t at[kBackwardSlots] = {p - 1, p - H - 1, p - H, p - H + 1};
    Spread backward[kBackwardSlots];
    for (int k = 0; k < kBackwardSlots; ++k)
        if (HasLink(links, k)) backward[k] = SpreadOf(s.var[at[k]]);
    CorrelatePixel(s.cov + p * 4, SpreadOf(s.var[p]), backward, links, table + r * 4);
}

// Row r of a column smoothed one pixel at a time.
CORVANE_KERNEL double SmoothRow(const SweepArrays& s, std::int64_t column, const SmoothInputs& in,
                                std::int64_t r) {
    const Links links = LinksAt(r, column, s.H, s.W);
    return SmoothPixel(in.rawHere[r], links, ColumnNeighbours{in, r});
}

// The covariance slots `slots` of row r of a column, one pixel at a time,
// once the column's priors are this frame's. The pixel's evidence is taken
// again from its smoothed probability and new prior, as the adaptation
// computed it.
CORVANE_KERNEL void AdaptRowCovariances(const SweepArrays& s, std::int64_t column, std::int64_t r,
                                        Links slots) {
    const std::int64_t p = column * s.H + r;
    const double e = s.mask[p] - s.newPi[p];
    AdaptCovariances(s.cov + p * 4, s.newCov + p * 4, LinksAt(r, column, s.H, s.W),
                             slots, e, s.c, s.keep, BackwardNeighbours{s.mask, s.newPi, p, s.H});
}

}  // namespace CORVANE_KERNEL_ISA
}  // namespace kernel
}  // namespace corvane
