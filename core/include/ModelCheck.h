// Whether a model, frame and neighbourhood matrix can be updated, and if not,
// exactly what is wrong. Every array field must hold exactly the elements its
// shape in the field table gives for the sizes (ModelFields.h), no fewer, no
// more; a scalar field at least one, of which the first is read. Every host calls this before UpdateModel, so the rules
// for sizes and element counts live here alone.
#pragma once

#include <cstdint>

#include "BackgroundModel.h"

namespace corvane {

enum class ModelProblem {
    None,
    FieldTooShort,    // a field holds fewer elements than the sizes need
    FieldTooLong,     // an array field holds more elements than the sizes give
    SizeNotFinite,    // a size field is NaN or infinite
    SizeOutOfRange,   // a size field does not fit a signed 32-bit integer
    SizeBelowOne,     // a size field truncates to less than 1
    SizeOverflow,     // H*W or NumMapRows*NumMapColumns overflows 32 bits
    FrameTooShort,    // the frame holds fewer than 3*N elements
    MatrixTooShort,   // the neighbourhood matrix holds fewer than K*K elements
    ScratchTooLarge,  // the per-call scratch does not fit the address space
    DestinationTooShort,  // a destination field holds fewer elements than the sizes need
    DestinationOverlaps,  // a destination field shares memory it must not
};

// Short camel-case name of a problem, used after "Corvane:" in error
// identifiers ("fieldTooShort", "sizeNotFinite", ...). "ok" for None.
const char* ModelProblemName(ModelProblem problem);

// The verdict. Plain data with a fixed-size message, so a host may raise an
// error from it without any destructor pending.
struct ModelCheck {
    ModelProblem problem = ModelProblem::None;
    const char* subject = "";   // field name, "frame" or "neighbourhood matrix"
    std::uint64_t has = 0;      // elements present (FieldTooShort, FrameTooShort, MatrixTooShort)
    std::uint64_t needs = 0;    // elements required
    ModelSizes sizes;           // valid only when ok()
    char message[256] = {};

    bool ok() const { return problem == ModelProblem::None; }
};

// Truncates a size field's value toward zero into a signed 32-bit integer.
// Returns false for NaN, infinities and values outside the int32 range.
bool TruncateSize(double value, std::int32_t* out);

ModelCheck CheckModel(const BackgroundModel& model, const FrameImage& frame,
                      const NeighborhoodMatrix& matrix);

// Whether a destination field may be the source field's own array.
enum class InPlace {
    Allowed,  // that field is then updated in place
    Refused,  // every destination field must be memory of its own (a host
              // that returns a fresh model and must not write the caller's)
};

// Whether `source` can be updated into `destination` (UpdateModelInto):
// CheckModel of the source, then every destination field must hold the
// elements its field needs, and the part of it the update writes must either
// be exactly the source field's own array (that field is updated in place,
// when `inPlace` allows it) or share no memory with any field of the source,
// the frame, the matrix or another destination field. Mixing the two field by
// field is allowed. This is the one check of shared memory; every host that
// writes a model out of place asks it.
ModelCheck CheckModelInto(const BackgroundModel& source, const UpdatedFields& destination,
                          const FrameImage& frame, const NeighborhoodMatrix& matrix,
                          InPlace inPlace = InPlace::Allowed);

}  // namespace corvane
