// What every host of the struct call model = Corvane(model, frame, nhood)
// shares, whichever API it reads its arguments with (MATLAB's mx* functions,
// Octave's octave_value): the model's fields by name, the checks of every
// argument and field with their error identifiers and messages, and the
// update of a model into freshly allocated arrays that leaves the caller's
// arrays as they were.
//
// Everything here is plain data: a host gathers the facts of each array with
// its own API, asks these functions, and raises the GatewayError they return
// itself. MATLAB leaves a MEX function by a long jump when it raises an
// error, so nothing here holds a resource that a skipped destructor would
// leak.
#pragma once

#include <cstddef>
#include <cstdint>

#include "BackgroundModel.h"
#include "ModelCheck.h"
#include "ModelFields.h"

namespace corvane::gateway {

// The model's fields: the core's table (ModelFields.h). Fields the update
// does not write are read only, so a host may hand the caller's array back as
// it is (Octave) or copy it (MATLAB).
using ::corvane::kModelFieldCount;
using ::corvane::kModelFields;
using ::corvane::ModelField;
using ::corvane::ModelFieldIndex;

// An error for the host to raise: identifier "Corvane:<what>" and a message
// that names the argument or field, what it holds and what it needs. Empty
// identifier: no error.
struct GatewayError {
    char identifier[64] = {};
    char message[512] = {};

    bool raised() const { return identifier[0] != '\0'; }
};

GatewayError MakeError(const char* identifier, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// What a host knows about one argument or field.
struct ArrayFacts {
    bool present = false;        // false: the struct has no such field
    const char* className = "";  // the host's name for its class ("double", "single", ...)
    bool isDouble = false;
    bool isComplex = false;
    bool isSparse = false;
    std::int64_t count = 0;      // elements
    const double* data = nullptr;  // the real doubles, when isDouble and usable
};

// Argument counts: exactly 3 inputs, at most 1 output.
GatewayError CheckCallCounts(int inputs, int outputs);

// The model argument: a struct with at least one element.
GatewayError CheckModelArgument(bool isStruct, const char* className, std::int64_t elements);

// An array that must be real, full, non-empty doubles; `what` names it
// ("field \"Mu\"", "the frame (input 2)").
GatewayError CheckDoubleArray(const ArrayFacts& facts, const char* what);

// Field `index` of the model: present, then as CheckDoubleArray.
GatewayError CheckField(const ArrayFacts& facts, int index);

// The frame (input 2) and the neighbourhood matrix (input 3).
GatewayError CheckFrame(const ArrayFacts& facts);
GatewayError CheckMatrix(const ArrayFacts& facts);

// A view of checked facts.
DoubleView ViewOf(const ArrayFacts& facts);

// Sizes and element counts of the bound model, frame and matrix (CheckModel),
// as an error with identifier Corvane:<problem>. `sizes` is set when there is
// no error.
GatewayError CheckBoundModel(const BackgroundModel& model, const FrameImage& frame,
                             const NeighborhoodMatrix& matrix, ModelSizes* sizes);

// Whether every written field of `destination` is memory of its own: not the
// caller's array, and sharing nothing with any field of `source`, the frame,
// the matrix or another written field of `destination` (CheckModelInto with
// in-place updates refused). Otherwise the update would write where it must
// not: Corvane:copyNotIndependent, naming the field.
GatewayError CheckFreshArrays(const BackgroundModel& source, const BackgroundModel& destination,
                              const FrameImage& frame, const NeighborhoodMatrix& matrix);

// The error for a written field that shares the caller's data.
GatewayError SharedFieldError(const char* field);

// Advances `source` by one frame into `destination` in one sweep
// (UpdateModelInto on `threads` threads, 0 for every hardware thread) and
// leaves every array of `source` as it was. In `destination` the written
// fields are fresh arrays of the source field's element count (their
// contents need no initial values: the update writes the elements of the
// field's shape, the rest of a longer scalar is copied from the source); its
// other fields are not used. Scratch comes from `host`, on the calling thread only.
//
// Returns false when the scratch could not be had; the destination's contents
// are then unspecified and the source is still untouched.
bool UpdateIntoFreshArrays(const BackgroundModel& source, const BackgroundModel& destination,
                           const ModelSizes& sizes, const FrameImage& frame,
                           const NeighborhoodMatrix& matrix, const HostAllocator& host,
                           int threads);

// The error when the update could not obtain its scratch.
GatewayError OutOfMemoryError(const ModelSizes& sizes);

}  // namespace corvane::gateway
