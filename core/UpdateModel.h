// Advancing the background model by one frame.
#pragma once

#include "BackgroundModel.h"
#include "ModelCheck.h"
#include "NeighborOffsets.h"

namespace corvane {

// Advances the model by one frame in place: counts the frame, scores it against
// every pixel's neurons, writes the smoothed foreground probability to imMask
// and adapts Pi, Var, Cov, Mu and Sigma2. Scratch comes from `host` and is
// released before returning. Runs as one sweep over the columns (see
// UpdateModelFused.h) and gives exactly the bits of UpdateModelReference.
//
// Returns false, with the model untouched, when CheckModel rejects the inputs
// or the host cannot supply the scratch. Hosts that want to tell the user what
// is wrong call CheckModel themselves first.
bool UpdateModel(const BackgroundModel& model, const FrameImage& frame,
                 const NeighborhoodMatrix& matrix, const HostAllocator& host);

// The same update as four separate passes over all pixels, each phase finished
// before the next begins. The plainest reading of the algorithm, kept as the
// reference that tests and benchmarks compare UpdateModel against.
bool UpdateModelReference(const BackgroundModel& model, const FrameImage& frame,
                          const NeighborhoodMatrix& matrix, const HostAllocator& host);

// The four phases, each over pixels p = 0 .. N-1 in order.

// Phase 1: winner into NeuroWin, raw foreground probability into imMask;
// rewrites Sigma2 through the variance floor's round trip.
void CompeteNeurons(const BackgroundModel& model, const ModelSizes& sizes,
                    const FrameImage& frame);

// Phase 2: correlation with each backward neighbour into correlationTable
// (4*N doubles, element p*4 + slot; 0 where the neighbour is absent).
void CorrelateNeighbors(const BackgroundModel& model, const ModelSizes& sizes,
                        NeighborOffsets& offsets, double* correlationTable);

// Phase 3: correlation-weighted 3x3 average of the raw imMask into smoothedMask
// (N doubles), then copied over imMask.
void SmoothMask(const BackgroundModel& model, const ModelSizes& sizes, NeighborOffsets& offsets,
                const double* correlationTable, double* smoothedMask);

// Phase 4: learn Pi, Var and Cov from the smoothed mask, then move every neuron
// towards the frame by the winner's column of the neighbourhood matrix.
void AdaptModel(const BackgroundModel& model, const ModelSizes& sizes, NeighborOffsets& offsets,
                const FrameImage& frame, const NeighborhoodMatrix& matrix);

}  // namespace corvane
