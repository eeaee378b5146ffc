// The one-pass form of the frame update that UpdateModel runs. Internal to the
// core: hosts call UpdateModel.
#pragma once

#include "BackgroundModel.h"

namespace corvane {

// The largest double whose exp is exactly +0: exp(x) for any x at or below it
// is +0, and exp of the next double up is the smallest subnormal. The true
// boundary ln(2^-1075) = -745.13321910194120762... lies strictly between the
// two, so a correctly rounded exp (and glibc's) returns +0 exactly here and
// below. The competition skips the call for such arguments.
constexpr double kLargestExpUnderflow = -0x1.74910d52d3052p+9;

// Advances the model by one frame exactly as the four separate phases do, bit
// for bit, but in one sweep over the columns: competition and correlation run
// one column ahead of smoothing and adaptation, so every column's neurons are
// still in cache when they adapt. CurrentFrame is not touched.
//
// Scratch: the raw foreground probabilities of three columns live in
// `smoothedMask` (N doubles, as a ring of columns) and the correlations of two
// columns in `correlationTable` (4*N doubles, likewise); the smoothed
// probabilities go straight into imMask. The sizes must be those CheckModel
// accepted for these arrays.
void UpdateModelOnePass(const BackgroundModel& model, const ModelSizes& sizes,
                        const FrameImage& frame, const NeighborhoodMatrix& matrix,
                        double* smoothedMask, double* correlationTable);

}  // namespace corvane
