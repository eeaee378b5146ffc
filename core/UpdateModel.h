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

// Advances the model by one frame out of place: reads `source`, which it
// leaves exactly as it was, and writes every field the update changes into
// `destination`, with the bits UpdateModel would give a copy of `source`. The
// destination's CurrentFrame is the source's plus 1. Fields the update does
// not change (MaximumVariance, MinimumVariance, StepSize, the four sizes) are
// not part of the destination: a host that returns a whole model copies them
// from the source, or shares them. A destination field may also be the
// source's own array, which is then updated in place; UpdateModel is the case
// where every field is.
//
// Returns false, with source and destination untouched, when CheckModelInto
// rejects the inputs (a destination field too short or sharing memory it
// must not, say) or the host cannot supply the scratch.
bool UpdateModelInto(const BackgroundModel& source, const UpdatedFields& destination,
                     const FrameImage& frame, const NeighborhoodMatrix& matrix,
                     const HostAllocator& host);

// The same update as four separate passes over all pixels, each phase finished
// before the next begins. The plainest reading of the algorithm, kept as the
// reference that tests and benchmarks compare UpdateModel against.
bool UpdateModelReference(const BackgroundModel& model, const FrameImage& frame,
                          const NeighborhoodMatrix& matrix, const HostAllocator& host);

}  // namespace corvane
