// The background model record, the frame and neighbourhood-matrix layouts, and
// the host operations the update needs. Plain data only: every array belongs to
// the caller and is seen through a non-owning view.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ModelFieldList.h"

namespace corvane {

// A run of IEEE 754 doubles owned by somebody else: base address and the
// number of elements the owner guarantees are readable (and, for the model's
// fields, writable).
struct DoubleView {
    double* data = nullptr;
    std::int64_t count = 0;
};

// Every field of the model struct (ModelFieldList.h), by its MATLAB field
// name, each a view of the caller's array.
struct BackgroundModel {
#define CORVANE_VIEW_MEMBER(name, written, d0, d1, d2) DoubleView name;
    CORVANE_MODEL_FIELDS(CORVANE_VIEW_MEMBER)
#undef CORVANE_VIEW_MEMBER
};

// Stands in UpdatedFields for a field the update does not write, so that the
// member exists by name but holds no view.
struct NotWritten {};

template <bool written>
struct WrittenViewOf {
    using type = DoubleView;
};
template <>
struct WrittenViewOf<false> {
    using type = NotWritten;
};
template <bool written>
using WrittenView = typename WrittenViewOf<written>::type;

// The fields an update writes, as views of their own: an update may read one
// model (the source) and write its result into these arrays, leaving the
// source as it was. The rest of a model (the fields the table marks as not
// written) is never changed by an update; a host that wants a whole updated
// model takes those from the source as they are. Each view needs the element
// count of its field; elements beyond that are not touched.
struct UpdatedFields {
#define CORVANE_UPDATED_MEMBER(name, written, d0, d1, d2) WrittenView<written> name;
    CORVANE_MODEL_FIELDS(CORVANE_UPDATED_MEMBER)
#undef CORVANE_UPDATED_MEMBER
};

namespace detail {
inline void TakeIfWritten(DoubleView& to, const DoubleView& from) { to = from; }
inline void TakeIfWritten(NotWritten&, const DoubleView&) {}
}  // namespace detail

// The written fields of `model` itself: updating into them is updating the
// model in place.
inline UpdatedFields UpdatedFieldsOf(const BackgroundModel& model) {
    UpdatedFields fields;
#define CORVANE_TAKE_WRITTEN(name, written, d0, d1, d2) detail::TakeIfWritten(fields.name, model.name);
    CORVANE_MODEL_FIELDS(CORVANE_TAKE_WRITTEN)
#undef CORVANE_TAKE_WRITTEN
    return fields;
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
