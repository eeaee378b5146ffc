// The one-pass form of the frame update that UpdateModel runs. Internal to the
// core: hosts call UpdateModel.
#pragma once

#include "BackgroundModel.h"

namespace corvane {

// Advances the model by one frame exactly as the four separate phases do, bit
// for bit, but in one sweep over the columns: competition and correlation run
// one column ahead of smoothing and adaptation, so every column's neurons are
// still in cache when they adapt. Reads `source` and writes `destination`
// (fields that are the source's own arrays are updated in place: every
// element is read before it is written). CurrentFrame is not touched.
//
// Scratch: the raw foreground probabilities of three columns live in
// `smoothedMask` (N doubles, as a ring of columns) and the correlations of two
// columns in `correlationTable` (4*N doubles, likewise); the smoothed
// probabilities go straight into imMask. The sizes must be those CheckModel
// accepted for these arrays.
void UpdateModelOnePass(const BackgroundModel& source, const UpdatedFields& destination,
                        const ModelSizes& sizes,
                        const FrameImage& frame, const NeighborhoodMatrix& matrix,
                        double* smoothedMask, double* correlationTable);

}  // namespace corvane
