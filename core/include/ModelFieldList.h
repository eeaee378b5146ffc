// The one table of the model's fields. Every field of the model struct is one
// row here, and everything that handles fields one by one is generated from
// or loops over this table: the views of BackgroundModel and UpdatedFields,
// kModelFields (ModelFields.h) with the checks of CheckModel and
// CheckModelInto, OwnedModel and its views and copies, the struct call's
// binding, the detector's export and the Python module's dict. A field added
// here is checked, bound, copied and exported by all of them; only the
// arithmetic that uses it has to be written.
//
// Row: FIELD(name, written, d0, d1, d2)
//   name     the MATLAB struct field name, used unchanged as the C++ member
//   written  whether an update writes the field (the others are only read)
//   d0..d2   its MATLAB shape in extents (Extent below); the element count is
//            their product, so H x W is N. Trailing One extents are dropped
//            from the shape down to two dimensions. A field of shape 1 x 1 is
//            a scalar: only element 0 is read (and, if written, written).
//
// Per-pixel arrays are in column-major pixel order p = 0 .. N-1 (row p mod
// H, column p div H):
//   Mu              channel ch of neuron j of pixel p at (p*K + j)*3 + ch
//   Sigma2          variance of neuron j of pixel p at p*K + j
//   imMask          foreground probability of the last frame
//   Pi              foreground prior
//   NeuroWin        index of the winning neuron, as a double
//   Var             variance of the foreground indicator
//   Cov             covariance with backward neighbour slot s at p*4 + s
//   MaximumVariance cap on the variances of pixel p's neurons
//   NumMapRows, NumMapColumns      K = rows * cols
//   NumImageRows, NumImageColumns  H and W
//   MinimumVariance variance floor added inside the density
//   StepSize        learning rate of Pi, Var and Cov
//   CurrentFrame    frame counter, +1 per update
#pragma once

namespace corvane {

// The extents a field's shape is made of: fixed lengths, or the model's sizes
// (K neurons per pixel, H rows, W columns, N = H*W pixels).
enum class Extent : unsigned char { One, Three, Four, K, H, W, N };

}  // namespace corvane

// clang-format off
#define CORVANE_MODEL_FIELDS(FIELD)                     \
    FIELD(Mu,              true,  Three, K,   N)        \
    FIELD(Sigma2,          true,  K,     N,   One)      \
    FIELD(imMask,          true,  H,     W,   One)      \
    FIELD(Pi,              true,  H,     W,   One)      \
    FIELD(NeuroWin,        true,  H,     W,   One)      \
    FIELD(Var,             true,  H,     W,   One)      \
    FIELD(Cov,             true,  Four,  N,   One)      \
    FIELD(MaximumVariance, false, H,     W,   One)      \
    FIELD(NumMapRows,      false, One,   One, One)      \
    FIELD(NumMapColumns,   false, One,   One, One)      \
    FIELD(NumImageRows,    false, One,   One, One)      \
    FIELD(NumImageColumns, false, One,   One, One)      \
    FIELD(MinimumVariance, false, One,   One, One)      \
    FIELD(StepSize,        false, One,   One, One)      \
    FIELD(CurrentFrame,    true,  One,   One, One)
// clang-format on
