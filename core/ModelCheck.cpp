#include "ModelCheck.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace corvane {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

ModelCheck Fail(ModelProblem problem, const char* subject) {
    ModelCheck check;
    check.problem = problem;
    check.subject = subject;
    return check;
}

std::uint64_t ElementsOf(const DoubleView& view) {
    return view.data != nullptr && view.count > 0 ? static_cast<std::uint64_t>(view.count) : 0;
}

// A size field: present, finite, within int32, at least 1 after truncation.
bool ReadSizeField(const DoubleView& field, const char* name, std::int32_t* out,
                   ModelCheck* failure) {
    if (ElementsOf(field) < 1) {
        *failure = Fail(ModelProblem::FieldTooShort, name);
        failure->needs = 1;
        std::snprintf(failure->message, sizeof failure->message,
                      "field \"%s\" is empty; it needs 1 element, the size", name);
        return false;
    }
    const double value = field.data[0];
    if (!std::isfinite(value)) {
        *failure = Fail(ModelProblem::SizeNotFinite, name);
        std::snprintf(failure->message, sizeof failure->message,
                      "field \"%s\" is %g; it must be a finite number of at least 1", name,
                      value);
        return false;
    }
    if (!TruncateSize(value, out)) {
        *failure = Fail(ModelProblem::SizeOutOfRange, name);
        std::snprintf(failure->message, sizeof failure->message,
                      "field \"%s\" is %.17g, outside the range of a signed 32-bit integer",
                      name, value);
        return false;
    }
    if (*out < 1) {
        *failure = Fail(ModelProblem::SizeBelowOne, name);
        std::snprintf(failure->message, sizeof failure->message,
                      "field \"%s\" is %.17g, which truncates to %d; it must be at least 1",
                      name, value, static_cast<int>(*out));
        return false;
    }
    return true;
}

struct Requirement {
    const DoubleView* field;
    const char* name;
    std::uint64_t needs;
    const char* formula;
};

}  // namespace

const char* ModelProblemName(ModelProblem problem) {
    switch (problem) {
        case ModelProblem::None: return "ok";
        case ModelProblem::FieldTooShort: return "fieldTooShort";
        case ModelProblem::SizeNotFinite: return "sizeNotFinite";
        case ModelProblem::SizeOutOfRange: return "sizeOutOfRange";
        case ModelProblem::SizeBelowOne: return "sizeBelowOne";
        case ModelProblem::SizeOverflow: return "sizeOverflow";
        case ModelProblem::FrameTooShort: return "frameTooShort";
        case ModelProblem::MatrixTooShort: return "matrixTooShort";
        case ModelProblem::ScratchTooLarge: return "scratchTooLarge";
        case ModelProblem::DestinationTooShort: return "destinationTooShort";
        case ModelProblem::DestinationOverlaps: return "destinationOverlaps";
    }
    return "unknown";
}

bool TruncateSize(double value, std::int32_t* out) {
    // Compare before converting: converting NaN or an out-of-range double to an
    // integer is undefined. -2147483648.9 and 2147483647.9 still truncate in range.
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    *out = static_cast<std::int32_t>(value);
    return true;
}

ModelCheck CheckModel(const BackgroundModel& model, const FrameImage& frame,
                      const NeighborhoodMatrix& matrix) {
    ModelCheck failure;
    ModelSizes sizes;
    std::int32_t mapRows = 0;
    std::int32_t mapColumns = 0;
    if (!ReadSizeField(model.NumImageRows, "NumImageRows", &sizes.H, &failure) ||
        !ReadSizeField(model.NumImageColumns, "NumImageColumns", &sizes.W, &failure) ||
        !ReadSizeField(model.NumMapRows, "NumMapRows", &mapRows, &failure) ||
        !ReadSizeField(model.NumMapColumns, "NumMapColumns", &mapColumns, &failure)) {
        return failure;
    }

    const std::int64_t pixels = static_cast<std::int64_t>(sizes.H) * sizes.W;
    if (pixels > kInt32Max) {
        failure = Fail(ModelProblem::SizeOverflow, "NumImageRows");
        std::snprintf(failure.message, sizeof failure.message,
                      "the image has NumImageRows*NumImageColumns = %d*%d = %lld pixels, "
                      "more than %lld",
                      static_cast<int>(sizes.H), static_cast<int>(sizes.W),
                      static_cast<long long>(pixels), static_cast<long long>(kInt32Max));
        return failure;
    }
    const std::int64_t neurons = static_cast<std::int64_t>(mapRows) * mapColumns;
    if (neurons > kInt32Max) {
        failure = Fail(ModelProblem::SizeOverflow, "NumMapRows");
        std::snprintf(failure.message, sizeof failure.message,
                      "the map has NumMapRows*NumMapColumns = %d*%d = %lld neurons, "
                      "more than %lld",
                      static_cast<int>(mapRows), static_cast<int>(mapColumns),
                      static_cast<long long>(neurons), static_cast<long long>(kInt32Max));
        return failure;
    }
    sizes.N = static_cast<std::int32_t>(pixels);
    sizes.K = static_cast<std::int32_t>(neurons);

    const std::uint64_t n = static_cast<std::uint64_t>(sizes.N);
    const std::uint64_t k = static_cast<std::uint64_t>(sizes.K);
    const Requirement requirements[] = {
        {&model.Mu, "Mu", 3 * k * n, "3*K*N"},
        {&model.Sigma2, "Sigma2", k * n, "K*N"},
        {&model.imMask, "imMask", n, "N"},
        {&model.Pi, "Pi", n, "N"},
        {&model.NeuroWin, "NeuroWin", n, "N"},
        {&model.Var, "Var", n, "N"},
        {&model.Cov, "Cov", 4 * n, "4*N"},
        {&model.MaximumVariance, "MaximumVariance", n, "N"},
        {&model.MinimumVariance, "MinimumVariance", 1, "1"},
        {&model.StepSize, "StepSize", 1, "1"},
        {&model.CurrentFrame, "CurrentFrame", 1, "1"},
    };
    for (const Requirement& requirement : requirements) {
        const std::uint64_t has = ElementsOf(*requirement.field);
        if (has < requirement.needs) {
            failure = Fail(ModelProblem::FieldTooShort, requirement.name);
            failure.has = has;
            failure.needs = requirement.needs;
            std::snprintf(failure.message, sizeof failure.message,
                          "field \"%s\" holds %llu elements but needs %s = %llu "
                          "(H = %d, W = %d, N = %d, K = %d)",
                          requirement.name, static_cast<unsigned long long>(has),
                          requirement.formula,
                          static_cast<unsigned long long>(requirement.needs),
                          static_cast<int>(sizes.H), static_cast<int>(sizes.W),
                          static_cast<int>(sizes.N), static_cast<int>(sizes.K));
            return failure;
        }
    }

    const std::uint64_t frameHas =
        frame.data != nullptr && frame.count > 0 ? static_cast<std::uint64_t>(frame.count) : 0;
    if (frameHas < 3 * n) {
        failure = Fail(ModelProblem::FrameTooShort, "frame");
        failure.has = frameHas;
        failure.needs = 3 * n;
        std::snprintf(failure.message, sizeof failure.message,
                      "the frame holds %llu elements but needs 3*N = %llu "
                      "(an H x W x 3 image with H = %d, W = %d)",
                      static_cast<unsigned long long>(frameHas),
                      static_cast<unsigned long long>(3 * n), static_cast<int>(sizes.H),
                      static_cast<int>(sizes.W));
        return failure;
    }
    const std::uint64_t matrixHas =
        matrix.data != nullptr && matrix.count > 0 ? static_cast<std::uint64_t>(matrix.count) : 0;
    if (matrixHas < k * k) {
        failure = Fail(ModelProblem::MatrixTooShort, "neighbourhood matrix");
        failure.has = matrixHas;
        failure.needs = k * k;
        std::snprintf(failure.message, sizeof failure.message,
                      "the neighbourhood matrix holds %llu elements but needs K*K = %llu "
                      "(K = NumMapRows*NumMapColumns = %d)",
                      static_cast<unsigned long long>(matrixHas),
                      static_cast<unsigned long long>(k * k), static_cast<int>(sizes.K));
        return failure;
    }

    // Scratch: 8*N bytes of smoothed mask and 32*N of correlations. Always fits
    // a 64-bit size_t; on a 32-bit host a huge image could not be addressed.
    const std::uint64_t scratchBytes = 40 * n + 64;
    if (scratchBytes > static_cast<std::uint64_t>(std::numeric_limits<std::size_t>::max())) {
        failure = Fail(ModelProblem::ScratchTooLarge, "NumImageRows");
        std::snprintf(failure.message, sizeof failure.message,
                      "the update needs %llu bytes of scratch for N = %d pixels, more than "
                      "this host can address",
                      static_cast<unsigned long long>(scratchBytes), static_cast<int>(sizes.N));
        return failure;
    }

    ModelCheck passed;
    passed.sizes = sizes;
    std::snprintf(passed.message, sizeof passed.message, "ok");
    return passed;
}

namespace {

// A run of `count` doubles at `data`, for overlap tests.
struct Span {
    const double* data;
    std::uint64_t count;
};

// Whether two runs share any byte. Compared as integers: the runs come from
// unrelated allocations.
bool Overlap(const Span& a, const Span& b) {
    if (a.data == nullptr || b.data == nullptr || a.count == 0 || b.count == 0) return false;
    const std::uintptr_t a0 = reinterpret_cast<std::uintptr_t>(a.data);
    const std::uintptr_t b0 = reinterpret_cast<std::uintptr_t>(b.data);
    const std::uintptr_t a1 = a0 + static_cast<std::uintptr_t>(a.count) * sizeof(double);
    const std::uintptr_t b1 = b0 + static_cast<std::uintptr_t>(b.count) * sizeof(double);
    return a0 < b1 && b0 < a1;
}

}  // namespace

ModelCheck CheckModelInto(const BackgroundModel& source, const UpdatedFields& destination,
                          const FrameImage& frame, const NeighborhoodMatrix& matrix) {
    ModelCheck check = CheckModel(source, frame, matrix);
    if (!check.ok()) return check;
    const std::uint64_t n = static_cast<std::uint64_t>(check.sizes.N);
    const std::uint64_t k = static_cast<std::uint64_t>(check.sizes.K);

    // What the update writes of each destination field, and the source field
    // it replaces.
    const struct {
        const DoubleView* field;
        const DoubleView* source;
        const char* name;
        std::uint64_t needs;
        const char* formula;
    } written[] = {
        {&destination.Mu, &source.Mu, "Mu", 3 * k * n, "3*K*N"},
        {&destination.Sigma2, &source.Sigma2, "Sigma2", k * n, "K*N"},
        {&destination.imMask, &source.imMask, "imMask", n, "N"},
        {&destination.Pi, &source.Pi, "Pi", n, "N"},
        {&destination.NeuroWin, &source.NeuroWin, "NeuroWin", n, "N"},
        {&destination.Var, &source.Var, "Var", n, "N"},
        {&destination.Cov, &source.Cov, "Cov", 4 * n, "4*N"},
        {&destination.CurrentFrame, &source.CurrentFrame, "CurrentFrame", 1, "1"},
    };
    for (const auto& field : written) {
        const std::uint64_t has = ElementsOf(*field.field);
        if (has < field.needs) {
            ModelCheck failure = Fail(ModelProblem::DestinationTooShort, field.name);
            failure.has = has;
            failure.needs = field.needs;
            std::snprintf(failure.message, sizeof failure.message,
                          "destination field \"%s\" holds %llu elements but needs %s = %llu",
                          field.name, static_cast<unsigned long long>(has), field.formula,
                          static_cast<unsigned long long>(field.needs));
            return failure;
        }
    }

    // Everything the update reads, by the elements it reads.
    const struct {
        const DoubleView* field;
        const char* name;
        std::uint64_t reads;
    } read[] = {
        {&source.Mu, "Mu", 3 * k * n},
        {&source.Sigma2, "Sigma2", k * n},
        {&source.imMask, "imMask", n},
        {&source.Pi, "Pi", n},
        {&source.NeuroWin, "NeuroWin", n},
        {&source.Var, "Var", n},
        {&source.Cov, "Cov", 4 * n},
        {&source.MaximumVariance, "MaximumVariance", n},
        {&source.NumMapRows, "NumMapRows", 1},
        {&source.NumMapColumns, "NumMapColumns", 1},
        {&source.NumImageRows, "NumImageRows", 1},
        {&source.NumImageColumns, "NumImageColumns", 1},
        {&source.MinimumVariance, "MinimumVariance", 1},
        {&source.StepSize, "StepSize", 1},
        {&source.CurrentFrame, "CurrentFrame", 1},
    };
    const Span frameSpan{frame.data, 3 * n};
    const Span matrixSpan{matrix.data, k * k};
    const std::size_t writtenCount = sizeof written / sizeof written[0];
    for (std::size_t i = 0; i < writtenCount; ++i) {
        const Span here{written[i].field->data, written[i].needs};
        // The source field's own array: that field is updated in place.
        if (here.data == written[i].source->data) continue;
        const char* other = nullptr;
        const char* whose = "";
        for (const auto& field : read) {
            if (Overlap(here, Span{field.field->data, field.reads})) {
                other = field.name;
                whose = "the source's field";
                break;
            }
        }
        if (other == nullptr && Overlap(here, frameSpan)) other = "frame";
        if (other == nullptr && Overlap(here, matrixSpan)) other = "neighbourhood matrix";
        for (std::size_t j = 0; j < writtenCount && other == nullptr; ++j) {
            if (j != i && Overlap(here, Span{written[j].field->data, written[j].needs})) {
                other = written[j].name;
                whose = "destination field";
            }
        }
        if (other != nullptr) {
            ModelCheck failure = Fail(ModelProblem::DestinationOverlaps, written[i].name);
            std::snprintf(failure.message, sizeof failure.message,
                          "destination field \"%s\" shares memory with %s%s%s%s; it must be "
                          "the source field itself or memory of its own",
                          written[i].name, whose, *whose ? " \"" : "the ", other,
                          *whose ? "\"" : "");
            return failure;
        }
    }
    return check;
}

}  // namespace corvane
