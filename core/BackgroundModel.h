// The background model record, the frame and neighbourhood-matrix layouts, and
// the host operations the update needs. Plain data only: every array belongs to
// the caller and is seen through a non-owning view.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// A run of IEEE 754 doubles owned by somebody else: base address and the
// number of elements the owner guarantees are readable (and, for the model's
// fields, writable).
struct DoubleView {
    double* data = nullptr;
    std::int64_t count = 0;
};

// Every field of the model struct, by its MATLAB field name. Per-pixel arrays
// are in column-major pixel order p = 0 .. N-1 (row p mod H, column p div H).
// Scalar fields are read (and, for CurrentFrame, written) through element 0.
//
//   Mu              3*K*N  channel ch of neuron j of pixel p at (p*K + j)*3 + ch
//   Sigma2          K*N    variance of neuron j of pixel p at p*K + j
//   imMask          N      foreground probability of the last frame
//   Pi              N      foreground prior
//   NeuroWin        N      index of the winning neuron, as a double
//   Var             N      variance of the foreground indicator
//   Cov             4*N    covariance with backward neighbour slot s at p*4 + s
//   MaximumVariance N      cap on the variances of pixel p's neurons
//   MinimumVariance scalar variance floor added inside the density
//   StepSize        scalar learning rate of Pi, Var and Cov
//   CurrentFrame    scalar frame counter, +1 per update
//   NumMapRows, NumMapColumns     scalar, K = rows * cols
//   NumImageRows, NumImageColumns scalar, H and W
struct BackgroundModel {
    DoubleView Mu;
    DoubleView Sigma2;
    DoubleView imMask;
    DoubleView Pi;
    DoubleView NeuroWin;
    DoubleView Var;
    DoubleView Cov;
    DoubleView MaximumVariance;
    DoubleView NumMapRows;
    DoubleView NumMapColumns;
    DoubleView NumImageRows;
    DoubleView NumImageColumns;
    DoubleView MinimumVariance;
    DoubleView StepSize;
    DoubleView CurrentFrame;
};

// The fields an update writes, as views of their own: an update may read one
// model (the source) and write its result into these arrays, leaving the
// source as it was. The rest of a model (MaximumVariance, MinimumVariance,
// StepSize and the four size fields) is never changed by an update; a host
// that wants a whole updated model takes those from the source as they are.
// Each view needs the element count of its field in the table above;
// elements beyond that are not touched.
struct UpdatedFields {
    DoubleView Mu;
    DoubleView Sigma2;
    DoubleView imMask;
    DoubleView Pi;
    DoubleView NeuroWin;
    DoubleView Var;
    DoubleView Cov;
    DoubleView CurrentFrame;
};

// The written fields of `model` itself: updating into them is updating the
// model in place.
inline UpdatedFields UpdatedFieldsOf(const BackgroundModel& model) {
    return UpdatedFields{model.Mu,  model.Sigma2, model.imMask, model.Pi,
                         model.NeuroWin, model.Var, model.Cov, model.CurrentFrame};
}

// The frame: three channel planes of N doubles, channel ch of pixel p at
// ch*N + p (an H x W x 3 column-major array). Colours are in 0..255.
struct FrameImage {
    const double* data = nullptr;
    std::int64_t count = 0;
};

// K x K column-major weights: weight of neuron j when neuron w won at w*K + j.
struct NeighborhoodMatrix {
    const double* data = nullptr;
    std::int64_t count = 0;
};

// Sizes derived from the scalar fields once per update. N = H*W and K fit in a
// signed 32-bit integer; indices built from them are formed in 64 bits.
struct ModelSizes {
    std::int32_t H = 0;  // image rows
    std::int32_t W = 0;  // image columns
    std::int32_t N = 0;  // pixels
    std::int32_t K = 0;  // neurons per pixel
};

// The host's memory operations for the per-call scratch: malloc/free in a C++
// program, mxMalloc/mxFree inside MATLAB or Octave. `allocate` may return null
// on failure (mxMalloc never does; it leaves the MEX call instead).
struct HostAllocator {
    void* (*allocate)(std::size_t bytes) = nullptr;
    void (*release)(void* block) = nullptr;
};

// malloc and free.
HostAllocator StandardAllocator();

}  // namespace corvane
