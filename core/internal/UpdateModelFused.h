// The one-pass form of the frame update that UpdateModel runs. Internal to the
// core: hosts call UpdateModel.
#pragma once

#include "BackgroundModel.h"

namespace corvane {

// Advances the model by one frame exactly as the four separate phases do, bit
// for bit, but in one sweep over the columns: competition and correlation run
// one column ahead of smoothing and adaptation, so every column's neurons are
// still in cache when they adapt. The columns are split into `threads` bands
// (at most one per column), swept at the same time, one thread each; the
// bits do not depend on the number of bands. Reads `source` and writes `destination`
// (fields that are the source's own arrays are updated in place: every
// element is read before it is written). CurrentFrame is not touched.
//
// Scratch: raw foreground probabilities in `smoothedMask` (N doubles) and
// correlations in `correlationTable` (4*N doubles), one column's worth per
// column slot; the smoothed probabilities go straight into imMask. The sizes
// must be those CheckModel accepted for these arrays. The calling thread
// waits for the others; none of them calls the host.
void UpdateModelOnePass(const BackgroundModel& source, const UpdatedFields& destination,
                        const ModelSizes& sizes,
                        const FrameImage& frame, const NeighborhoodMatrix& matrix,
                        double* smoothedMask, double* correlationTable, int threads);

}  // namespace corvane
