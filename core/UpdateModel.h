// Advancing the background model by one frame.
#pragma once

#include "BackgroundModel.h"
#include "ModelCheck.h"

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

}  // namespace corvane
