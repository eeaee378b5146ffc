#include "internal/Sweep.h"

#include <cstdint>
#include <initializer_list>

#include "internal/PixelKernel.h"
#include "internal/SweepColumns.h"
#include "WorkerThreads.h"

namespace corvane {

#if !defined(CORVANE_SWEEP_SSE2)
const ColumnKernels* Sse2ColumnKernels() { return nullptr; }
const ColumnKernels* Sse2BaselineColumnKernels() { return nullptr; }
#endif
#if !defined(CORVANE_SWEEP_AVX2)
const ColumnKernels* Avx2ColumnKernels() { return nullptr; }
const ColumnKernels* Avx512ColumnKernels() { return nullptr; }
const ColumnKernels* Avx2BaselineColumnKernels() { return nullptr; }
const ColumnKernels* Avx512BaselineColumnKernels() { return nullptr; }
#endif

const ColumnKernels* ColumnKernelsFor(VectorPath path) {
    if (!RoundedMathPathAvailable(path)) return nullptr;
    switch (path) {
        case VectorPath::Scalar: return ScalarColumnKernels();
        case VectorPath::Sse2: return Sse2ColumnKernels();
        case VectorPath::Avx2: return Avx2ColumnKernels();
        case VectorPath::Avx512: return Avx512ColumnKernels();
    }
    return nullptr;
}

const ColumnKernels* BaselineColumnKernelsFor(VectorPath path) {
    if (!RoundedMathPathAvailable(path)) return nullptr;
    switch (path) {
        case VectorPath::Scalar: return ScalarBaselineColumnKernels();
        case VectorPath::Sse2: return Sse2BaselineColumnKernels();
        case VectorPath::Avx2: return Avx2BaselineColumnKernels();
        case VectorPath::Avx512: return Avx512BaselineColumnKernels();
    }
    return nullptr;
}

bool VectorPathAvailable(VectorPath path) { return ColumnKernelsFor(path) != nullptr; }

VectorPath FastestVectorPath() {
    // The fastest of the correctly rounded functions' paths is the fastest
    // instruction set the CPU has; the kernels are built for the same sets.
    static const VectorPath fastest = [] {
        for (VectorPath path : {VectorPath::Avx512, VectorPath::Avx2, VectorPath::Sse2})
            if (VectorPathAvailable(path)) return path;
        return VectorPath::Scalar;
    }();
    return fastest;
}

const char* VectorPathName(VectorPath path) {
    switch (path) {
        case VectorPath::Scalar: return "scalar";
        case VectorPath::Sse2: return "SSE2";
        case VectorPath::Avx2: return "AVX2";
        case VectorPath::Avx512: return "AVX-512";
    }
    return "?";
}

namespace {

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
    double* RawColumn(const SweepArrays& s, std::int64_t column) const {
        return s.rawScratch + RawSlot(column) * s.H;
    }
    double* CorrelationColumn(const SweepArrays& s, std::int64_t column) const {
        return s.correlationScratch + CorrelationSlot(column) * 4 * s.H;
    }
};

// Band b of `bands` over W columns: as equal as whole columns allow.
Band BandOf(std::int64_t W, int bands, int b) {
    return Band{W * b / bands, W * (b + 1) / bands - 1};
}

// The sweep split into bands of columns, one per thread, and the kernels
// that do the work.
struct BandedSweep {
    SweepArrays s;
    int bands;
    const ColumnKernels* kernels;

    Band BandOf(int b) const { return corvane::BandOf(s.W, bands, b); }
    void Compete(const Band& band, std::int64_t column) const {
        kernels->compete(s, column, band.RawColumn(s, column));
    }
    void Correlate(const Band& band, std::int64_t column) const {
        kernels->correlate(s, column, band.CorrelationColumn(s, column));
    }
    void Smooth(const Band& band, std::int64_t column) const {
        const bool hasLeft = column > 0;
        const bool hasRight = column + 1 < s.W;
        const SmoothInputs in{hasLeft ? band.RawColumn(s, column - 1) : nullptr,
                              band.RawColumn(s, column),
                              hasRight ? band.RawColumn(s, column + 1) : nullptr,
                              band.CorrelationColumn(s, column),
                              hasRight ? band.CorrelationColumn(s, column + 1) : nullptr};
        kernels->smooth(s, column, in);
    }
};

// The covariances of a band's first column with the column to its left
// (slots 1 to 3: above-left, left, below-left), once the band to the left
// has adapted that column: they read its smoothed probabilities and this
// frame's priors. Evaluated exactly as the sweep would have, with the pixel's
// evidence e = m - Pi taken again from the stored smoothed probability and
// new prior.
void JoinBandEdge(const SweepArrays& s, std::int64_t column) {
    for (std::int64_t r = 0; r < s.H; ++r) kernel::AdaptRowCovariances(s, column, r, 0xE);
}

// Stage 1 of band b: what its neighbouring bands read of it, computed before
// any band adapts a column (competition and correlation read only the
// source): the raw probabilities of its first and last columns and the
// correlations of its first column, which read the old Var of the column to
// its left.
void StartBand(void* context, int b) {
    const BandedSweep& sweep = *static_cast<const BandedSweep*>(context);
    const Band band = sweep.BandOf(b);
    sweep.Compete(band, band.first);
    sweep.Correlate(band, band.first);
    if (band.last != band.first) sweep.Compete(band, band.last);
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
    const Band band = sweep.BandOf(b);
    for (std::int64_t column = band.first; column <= band.last; ++column) {
        if (column + 1 <= band.last) {
            if (column + 1 != band.last) sweep.Compete(band, column + 1);
            sweep.Correlate(band, column + 1);
        }
        sweep.Smooth(band, column);
        const bool waits = column == band.first && column > 0;
        sweep.kernels->adapt(sweep.s, column, waits ? 0x1 : kernel::kAllBackwardSlots);
    }
}

}  // namespace

void Sweep(const BackgroundModel& source, const UpdatedFields& destination,
           const ModelSizes& sizes, const FrameImage& frame, const NeighborhoodMatrix& matrix,
           double* smoothedMask, double* correlationTable, int threads,
           const ColumnKernels& kernels) {
    BandedSweep sweep;
    sweep.kernels = &kernels;
    SweepArrays& s = sweep.s;
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
    for (int b = 1; b < bands; ++b) JoinBandEdge(s, sweep.BandOf(b).first);
}

}  // namespace corvane
