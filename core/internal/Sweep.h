// The sweep: the form of the frame update that UpdateModel runs. Internal to
// the core: hosts call UpdateModel.
#pragma once

#include "BackgroundModel.h"
#include "RoundedMath.h"

namespace corvane {

// The instruction sets the sweep's column kernels are built for: the same four
// as the correctly rounded functions' block paths (scalar, SSE2, AVX2,
// AVX-512), chosen together.
using VectorPath = RoundedMathPath;

// Whether this build and this CPU can run `path`, and the fastest that can
// (the one UpdateModel uses).
bool VectorPathAvailable(VectorPath path);
VectorPath FastestVectorPath();
const char* VectorPathName(VectorPath path);

struct ColumnKernels;

// The column kernels of `path`, or null where VectorPathAvailable(path) is
// false.
const ColumnKernels* ColumnKernelsFor(VectorPath path);

// The update as it was before the column kernels worked on several pixels at
// once: one pixel at a time in every phase, on the same sweep. Kept for the
// benchmarks, which compare against it in the same run.
const ColumnKernels& PixelByPixelKernels();

// The column kernels of `path` as they were before the common neuron counts
// per pixel were fixed at compile time (null where `path` is not available).
// Kept for the benchmarks, which compare against them in the same run.
const ColumnKernels* BaselineColumnKernelsFor(VectorPath path);

// Advances the model by one frame exactly as the four separate phases do, bit
// for bit, but in one sweep over the columns: competition and correlation run
// one column ahead of smoothing and adaptation, so every column's neurons are
// still in cache when they adapt. The columns are split into `threads` bands
// (at most one per column), swept at the same time, one thread each; the
// bits do not depend on the number of bands nor on the kernels. Reads
// `source` and writes `destination` (fields that are the source's own arrays
// are updated in place: every element is read before it is written).
// CurrentFrame is not touched.
//
// Scratch: raw foreground probabilities in `smoothedMask` (N doubles) and
// correlations in `correlationTable` (4*N doubles), one column's worth per
// column slot; the smoothed probabilities go straight into imMask. The sizes
// must be those CheckModel accepted for these arrays. The calling thread
// waits for the others; none of them calls the host.
void Sweep(const BackgroundModel& source, const UpdatedFields& destination,
           const ModelSizes& sizes, const FrameImage& frame, const NeighborhoodMatrix& matrix,
           double* smoothedMask, double* correlationTable, int threads,
           const ColumnKernels& kernels);

// UpdateModelInto with the given kernels instead of the fastest: for tests and
// benchmarks that compare the paths.
bool UpdateModelIntoWith(const ColumnKernels& kernels, const BackgroundModel& source,
                         const UpdatedFields& destination, const FrameImage& frame,
                         const NeighborhoodMatrix& matrix, const HostAllocator& host,
                         int threads);

}  // namespace corvane
