#include "GatewayModel.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "UpdateModel.h"

namespace corvane::gateway {

const ModelField kModelFields[kModelFieldCount] = {
    {"Mu", &BackgroundModel::Mu, true},
    {"Sigma2", &BackgroundModel::Sigma2, true},
    {"imMask", &BackgroundModel::imMask, true},
    {"Pi", &BackgroundModel::Pi, true},
    {"NeuroWin", &BackgroundModel::NeuroWin, true},
    {"Var", &BackgroundModel::Var, true},
    {"Cov", &BackgroundModel::Cov, true},
    {"MaximumVariance", &BackgroundModel::MaximumVariance, false},
    {"NumMapRows", &BackgroundModel::NumMapRows, false},
    {"NumMapColumns", &BackgroundModel::NumMapColumns, false},
    {"NumImageRows", &BackgroundModel::NumImageRows, false},
    {"NumImageColumns", &BackgroundModel::NumImageColumns, false},
    {"MinimumVariance", &BackgroundModel::MinimumVariance, false},
    {"StepSize", &BackgroundModel::StepSize, false},
    {"CurrentFrame", &BackgroundModel::CurrentFrame, true},
};

int ModelFieldIndex(const char* name) {
    for (int i = 0; i < kModelFieldCount; ++i)
        if (std::strcmp(kModelFields[i].name, name) == 0) return i;
    return -1;
}

std::int64_t ElementsWritten(int index, const ModelSizes& sizes) {
    const std::int64_t n = sizes.N;
    const std::int64_t k = sizes.K;
    const DoubleView BackgroundModel::*view = kModelFields[index].view;
    if (!kModelFields[index].written) return 0;
    if (view == &BackgroundModel::Mu) return 3 * k * n;
    if (view == &BackgroundModel::Sigma2) return k * n;
    if (view == &BackgroundModel::Cov) return 4 * n;
    if (view == &BackgroundModel::CurrentFrame) return 1;
    return n;  // imMask, Pi, NeuroWin, Var
}

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
        return MakeError("Corvane:missingField",
                         "the model (input 1) has no field \"%s\"; it needs all of Mu, Sigma2, "
                         "imMask, Pi, NeuroWin, Var, Cov, MaximumVariance, NumMapRows, "
                         "NumMapColumns, NumImageRows, NumImageColumns, MinimumVariance, "
                         "StepSize and CurrentFrame (names are case-sensitive)",
                         name);
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

namespace {

// Whether `count` doubles at `a` and `count` doubles at `b` overlap. Compared
// as integers: the ranges come from unrelated allocations.
bool Overlaps(const double* a, std::int64_t aCount, const double* b, std::int64_t bCount) {
    if (a == nullptr || b == nullptr || aCount <= 0 || bCount <= 0) return false;
    const std::uintptr_t a0 = reinterpret_cast<std::uintptr_t>(a);
    const std::uintptr_t b0 = reinterpret_cast<std::uintptr_t>(b);
    const std::uintptr_t a1 = a0 + static_cast<std::uintptr_t>(aCount) * sizeof(double);
    const std::uintptr_t b1 = b0 + static_cast<std::uintptr_t>(bCount) * sizeof(double);
    return a0 < b1 && b0 < a1;
}

}  // namespace

const char* FirstSharedField(const BackgroundModel& destination, const BackgroundModel& source,
                             const FrameImage& frame, const NeighborhoodMatrix& matrix) {
    for (int i = 0; i < kModelFieldCount; ++i) {
        if (!kModelFields[i].written) continue;
        const DoubleView& field = destination.*kModelFields[i].view;
        bool shared = Overlaps(field.data, field.count, frame.data, frame.count) ||
                      Overlaps(field.data, field.count, matrix.data, matrix.count);
        for (int j = 0; j < kModelFieldCount && !shared; ++j) {
            const DoubleView& given = source.*kModelFields[j].view;
            const DoubleView& sibling = destination.*kModelFields[j].view;
            shared = Overlaps(field.data, field.count, given.data, given.count) ||
                     (j != i && Overlaps(field.data, field.count, sibling.data, sibling.count));
        }
        if (shared) return kModelFields[i].name;
    }
    return nullptr;
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
    // The update writes the leading elements of each written field; the rest
    // of a longer field is the caller's, copied as it is.
    for (int i = 0; i < kModelFieldCount; ++i) {
        if (!kModelFields[i].written) continue;
        const DoubleView& from = source.*kModelFields[i].view;
        const DoubleView& to = destination.*kModelFields[i].view;
        const std::int64_t written = ElementsWritten(i, sizes);
        if (from.count > written) {
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
