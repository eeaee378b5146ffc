// model = Corvane(model, frame, nhood) as a native GNU Octave function
// (Corvane.oct), the same call as the MEX file with the same checks, errors
// and bits, built on Octave's own arrays so that no model array is copied
// that need not be:
//
//  - the caller's arrays are read where they are (no conversion to MEX
//    arrays);
//  - the result shares, by Octave's copy-on-write, every field and struct
//    element that the update does not write, so they cost nothing;
//  - each field the update writes is one fresh array, allocated without
//    being cleared and filled by the update from the caller's arrays.
//
// Octave picks Corvane.oct over Corvane.mex in the same folder.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include <octave/oct.h>
#include <octave/ov-struct.h>

#include "FreshMemory.h"
#include "GatewayModel.h"
#include "GatewayThreads.h"

namespace {

using corvane::gateway::ArrayFacts;
using corvane::gateway::GatewayError;
using corvane::gateway::kModelFieldCount;
using corvane::gateway::kModelFields;

void Raise(const GatewayError& error) {
    if (error.raised()) error_with_id(error.identifier, "%s", error.message);
}

// The facts of one value; `values` keeps the doubles the facts point to (a
// range or a diagonal matrix is expanded into it, a full matrix shared) and
// `className` the class name.
ArrayFacts FactsOf(const octave_value& value, NDArray& values, std::string& className) {
    ArrayFacts facts;
    if (value.is_undefined()) return facts;
    facts.present = true;
    className = value.class_name();
    facts.className = className.c_str();
    facts.isDouble = value.is_double_type();
    facts.isComplex = value.iscomplex();
    facts.isSparse = value.issparse();
    facts.count = static_cast<std::int64_t>(value.numel());
    if (facts.isDouble && !facts.isComplex && !facts.isSparse && facts.count > 0) {
        values = value.array_value();
        facts.data = values.data();
    }
    return facts;
}

// An array of `dims` whose elements are not cleared (the update writes every
// one of them), held by Octave from the start.
NDArray FreshArray(const dim_vector& dims) {
    std::allocator<double> allocator;
    const octave_idx_type count = dims.safe_numel();
    double* data = allocator.allocate(static_cast<std::size_t>(count));
    corvane::gateway::AdviseHugePages(data, static_cast<std::size_t>(count) * sizeof(double));
    return NDArray(Array<double>(data, dims));
}

// The caller's struct with each written field of element 0 replaced by its
// updated array. Made after the update: Octave turns a 1 x 1 array into a
// scalar by copying its value when the octave_value is made.
octave_value Result(const octave_value& input, const NDArray (&updated)[kModelFieldCount]) {
    if (input.numel() == 1) {
        octave_scalar_map result = input.scalar_map_value();
        for (int i = 0; i < kModelFieldCount; ++i)
            if (kModelFields[i].written) result.setfield(kModelFields[i].name, updated[i]);
        return octave_value(result);
    }
    octave_map result = input.map_value();
    for (int i = 0; i < kModelFieldCount; ++i) {
        if (!kModelFields[i].written) continue;
        Cell values = result.contents(kModelFields[i].name);
        values(0) = updated[i];
        result.setfield(kModelFields[i].name, values);
    }
    return octave_value(result);
}

// The help of matlab/Corvane.m, the comment marks taken off.
std::string HelpText() {
    const char* text =
#include "CorvaneHelp.inc"
        ;
    std::string help;
    bool lineStart = true;
    for (const char* c = text; *c != '\0'; ++c) {
        if (lineStart && *c == '%') {
            lineStart = false;
            continue;
        }
        help += *c;
        lineStart = *c == '\n';
    }
    return help;
}

}  // namespace

DEFUN_DLD(Corvane, args, nargout, HelpText()) {
    Raise(corvane::gateway::CheckCallCounts(args.length(), nargout));
    const octave_value& input = args(0);
    const std::string inputClass = input.class_name();
    Raise(corvane::gateway::CheckModelArgument(input.isstruct(), inputClass.c_str(),
                                               static_cast<std::int64_t>(input.numel())));

    // Element 0's fields, the frame and the matrix, each checked in turn.
    const octave_map fields = input.map_value();
    NDArray values[kModelFieldCount];
    std::string classNames[kModelFieldCount];
    corvane::BackgroundModel source;
    for (int i = 0; i < kModelFieldCount; ++i) {
        octave_value value;
        if (fields.isfield(kModelFields[i].name)) value = fields.contents(kModelFields[i].name)(0);
        const ArrayFacts facts = FactsOf(value, values[i], classNames[i]);
        Raise(corvane::gateway::CheckField(facts, i));
        source.*kModelFields[i].view = corvane::gateway::ViewOf(facts);
    }
    NDArray frameValues, matrixValues;
    std::string frameClass, matrixClass;
    const ArrayFacts frameFacts = FactsOf(args(1), frameValues, frameClass);
    Raise(corvane::gateway::CheckFrame(frameFacts));
    const ArrayFacts matrixFacts = FactsOf(args(2), matrixValues, matrixClass);
    Raise(corvane::gateway::CheckMatrix(matrixFacts));
    const corvane::FrameImage frame{frameFacts.data, frameFacts.count};
    const corvane::NeighborhoodMatrix matrix{matrixFacts.data, matrixFacts.count};
    corvane::ModelSizes sizes;
    Raise(corvane::gateway::CheckBoundModel(source, frame, matrix, &sizes));
    int threads = 0;
    Raise(corvane::gateway::ThreadsFromEnvironment(&threads));

    // Fresh arrays, shaped as the caller's, for the fields the update writes.
    // Each is the only holder of its data until the result is made, so
    // fortran_vec() gives the array's own memory without a copy.
    NDArray updated[kModelFieldCount];
    corvane::BackgroundModel destination = source;
    try {
        for (int i = 0; i < kModelFieldCount; ++i) {
            if (!kModelFields[i].written) continue;
            updated[i] = FreshArray(fields.contents(kModelFields[i].name)(0).dims());
            destination.*kModelFields[i].view = corvane::DoubleView{
                updated[i].fortran_vec(), static_cast<std::int64_t>(updated[i].numel())};
        }
    } catch (const std::bad_alloc&) {
        Raise(corvane::gateway::MakeError(
            "Corvane:outOfMemory", "there is not enough memory for the updated model (%d pixels)",
            static_cast<int>(sizes.N)));
    }
    Raise(corvane::gateway::CheckFreshArrays(source, destination, frame, matrix));

    if (!corvane::gateway::UpdateIntoFreshArrays(source, destination, sizes, frame, matrix,
                                                 corvane::StandardAllocator(), threads))
        Raise(corvane::gateway::OutOfMemoryError(sizes));
    return ovl(Result(input, updated));
}
