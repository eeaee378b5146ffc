#include "GatewayModel.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "UpdateModel.h"

namespace corvane::gateway {

GatewayError MakeError(const char* identifier, const char* format, ...) {
    GatewayError error;
    std::snprintf(error.identifier, sizeof error.identifier, "%s", identifier);
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(error.message, sizeof error.message, format, arguments);
    va_end(arguments);
    return error;
}

GatewayError CheckCallCounts(int inputs, int outputs) {
    if (inputs != 3) {
        return MakeError("Corvane:inputCount",
                         "Corvane takes 3 inputs, model = Corvane(model, frame, nhood); it was "
                         "given %d",
                         inputs);
    }
    if (outputs > 1) {
        return MakeError("Corvane:outputCount",
                         "Corvane returns 1 output, the updated model; %d were requested",
                         outputs);
    }
    return GatewayError{};
}

GatewayError CheckModelArgument(bool isStruct, const char* className, std::int64_t elements) {
    if (!isStruct) {
        return MakeError("Corvane:modelNotStruct",
                         "the model (input 1) is of class %s; it must be a struct", className);
    }
    if (elements < 1) {
        return MakeError("Corvane:modelEmpty",
                         "the model (input 1) is an empty struct array; it needs one element");
    }
    return GatewayError{};
}

GatewayError CheckDoubleArray(const ArrayFacts& facts, const char* what) {
    if (!facts.isDouble) {
        return MakeError("Corvane:notDouble", "%s is of class %s; it must be a real double array",
                         what, facts.className);
    }
    if (facts.isComplex) {
        return MakeError("Corvane:complex", "%s is complex; it must be a real double array",
                         what);
    }
    if (facts.isSparse) {
        return MakeError("Corvane:sparse", "%s is sparse; it must be a full double array", what);
    }
    if (facts.count <= 0 || facts.data == nullptr) {
        return MakeError("Corvane:empty", "%s is empty; it must hold doubles", what);
    }
    return GatewayError{};
}

GatewayError CheckField(const ArrayFacts& facts, int index) {
    const char* name = kModelFields[index].name;
    if (!facts.present) {
        // Every name of the table: "A, B, ... and Z".
        char names[320] = {};
        for (int i = 0; i < kModelFieldCount; ++i) {
            const char* separator = i == 0 ? "" : (i + 1 == kModelFieldCount ? " and " : ", ");
            const std::size_t used = std::strlen(names);
            std::snprintf(names + used, sizeof names - used, "%s%s", separator,
                          kModelFields[i].name);
        }
        return MakeError("Corvane:missingField",
                         "the model (input 1) has no field \"%s\"; it needs all of %s (names "
                         "are case-sensitive)",
                         name, names);
    }
    char what[48];
    std::snprintf(what, sizeof what, "field \"%s\"", name);
    return CheckDoubleArray(facts, what);
}

GatewayError CheckFrame(const ArrayFacts& facts) {
    return CheckDoubleArray(facts, "the frame (input 2)");
}

GatewayError CheckMatrix(const ArrayFacts& facts) {
    return CheckDoubleArray(facts, "the neighbourhood matrix (input 3)");
}

DoubleView ViewOf(const ArrayFacts& facts) {
    // The model's views are writable in general; a source model is only read.
    return DoubleView{const_cast<double*>(facts.data), facts.count};
}

GatewayError CheckBoundModel(const BackgroundModel& model, const FrameImage& frame,
                             const NeighborhoodMatrix& matrix, ModelSizes* sizes) {
    const ModelCheck check = CheckModel(model, frame, matrix);
    if (!check.ok()) {
        char identifier[64];
        std::snprintf(identifier, sizeof identifier, "Corvane:%s",
                      ModelProblemName(check.problem));
        return MakeError(identifier, "%s", check.message);
    }
    *sizes = check.sizes;
    return GatewayError{};
}

GatewayError CheckFreshArrays(const BackgroundModel& source, const BackgroundModel& destination,
                              const FrameImage& frame, const NeighborhoodMatrix& matrix) {
    const ModelCheck check =
        CheckModelInto(source, UpdatedFieldsOf(destination), frame, matrix, InPlace::Refused);
    if (check.ok()) return GatewayError{};
    if (check.problem == ModelProblem::DestinationOverlaps) return SharedFieldError(check.subject);
    char identifier[64];
    std::snprintf(identifier, sizeof identifier, "Corvane:%s", ModelProblemName(check.problem));
    return MakeError(identifier, "%s", check.message);
}

GatewayError SharedFieldError(const char* field) {
    return MakeError("Corvane:copyNotIndependent",
                     "the host's copy of the model shares the data of field \"%s\" with "
                     "another array; the update would overwrite the caller's data, so it was "
                     "not run",
                     field);
}

bool UpdateIntoFreshArrays(const BackgroundModel& source, const BackgroundModel& destination,
                           const ModelSizes& sizes, const FrameImage& frame,
                           const NeighborhoodMatrix& matrix, const HostAllocator& host,
                           int threads) {
    // The update writes the elements each field's shape gives. Arrays hold
    // exactly those (CheckModel); a scalar may hold more, read through its
    // first element, and the rest of it is the caller's, copied as it is.
    for (const ModelField& field : kModelFields) {
        if (!field.written) continue;
        const DoubleView& from = source.*field.view;
        const DoubleView& to = destination.*field.view;
        const std::int64_t written = static_cast<std::int64_t>(FieldElements(field, sizes));
        if (from.count > written && to.count >= from.count) {
            std::memcpy(to.data + written, from.data + written,
                        static_cast<std::size_t>(from.count - written) * sizeof(double));
        }
    }
    // One sweep reads the caller's arrays and writes the fresh ones.
    return UpdateModelInto(source, UpdatedFieldsOf(destination), frame, matrix, host, threads);
}

GatewayError OutOfMemoryError(const ModelSizes& sizes) {
    return MakeError("Corvane:outOfMemory",
                     "the update could not obtain its scratch memory (%d pixels)",
                     static_cast<int>(sizes.N));
}

}  // namespace corvane::gateway
