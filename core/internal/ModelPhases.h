// The four phases of the frame update as separate passes, each over pixels
// p = 0 .. N-1 in order: the plainest reading of the update, which
// UpdateModelReference runs one after the other. Internal to the core; tests
// call the phases one by one.
#pragma once

#include "BackgroundModel.h"
#include "NeighborOffsets.h"

namespace corvane {

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
