// Advancing the background model by one frame.
#pragma once

#include "BackgroundModel.h"
#include "ModelCheck.h"

namespace corvane {

// The number of threads the machine can run at once, at least 1: the CPUs
// this process may run on (its affinity) where the system tells, otherwise
// the processors online.
int HardwareThreads();

// The thread count an update runs on by default: every hardware thread.
constexpr int kAllThreads = 0;

// The most threads an update, the mask's filters or any host runs at once;
// every host accepts thread counts from 0 (kAllThreads) to this and refuses
// others, and a machine with more hardware threads uses this many.
constexpr int kMaxThreads = 256;

// Advances the model by one frame in place: counts the frame, scores it against
// every pixel's neurons, writes the smoothed foreground probability to imMask
// and adapts Pi, Var, Cov, Mu and Sigma2. Scratch comes from `host` and is
// released before returning. Runs as one sweep over the columns, several
// pixels at a time on the widest vector instructions the CPU has (see
// internal/Sweep.h), and gives exactly the bits of UpdateModelReference.
//
// Threads: the image's columns are split into `threads` bands (at most one
// per column) swept at the same time; kAllThreads (0) or any count below 1
// means HardwareThreads(). The bits are the same for every count. The threads
// are started for this call and joined before it returns, so none outlives
// it; only the calling thread calls `host`. A host that runs several updates
// at once (one per video, say) passes 1.
//
// Returns false, with the model untouched, when CheckModel rejects the inputs
// or the host cannot supply the scratch. Hosts that want to tell the user what
// is wrong call CheckModel themselves first.
bool UpdateModel(const BackgroundModel& model, const FrameImage& frame,
                 const NeighborhoodMatrix& matrix, const HostAllocator& host,
                 int threads = kAllThreads);

// Advances the model by one frame out of place: reads `source`, which it
// leaves exactly as it was, and writes every field the update changes into
// `destination`, with the bits UpdateModel would give a copy of `source`. The
// destination's CurrentFrame is the source's plus 1. Fields the update does
// not change (MaximumVariance, MinimumVariance, StepSize, the four sizes) are
// not part of the destination: a host that returns a whole model copies them
// from the source, or shares them. A destination field may also be the
// source's own array, which is then updated in place; UpdateModel is the case
// where every field is. Threads as for UpdateModel.
//
// Returns false, with source and destination untouched, when CheckModelInto
// rejects the inputs (a destination field too short or sharing memory it
// must not, say) or the host cannot supply the scratch.
bool UpdateModelInto(const BackgroundModel& source, const UpdatedFields& destination,
                     const FrameImage& frame, const NeighborhoodMatrix& matrix,
                     const HostAllocator& host, int threads = kAllThreads);

// The same update as four separate passes over all pixels, each phase finished
// before the next begins, on the calling thread alone. The plainest reading of the algorithm, kept as the
// reference that tests and benchmarks compare UpdateModel against.
bool UpdateModelReference(const BackgroundModel& model, const FrameImage& frame,
                          const NeighborhoodMatrix& matrix, const HostAllocator& host);

}  // namespace corvane
