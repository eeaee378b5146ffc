#include "ModelCheck.h"

#include "ModelFields.h"

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

}  // namespace

const char* ModelProblemName(ModelProblem problem) {
    switch (problem) {
        case ModelProblem::None: return "ok";
        case ModelProblem::FieldTooShort: return "fieldTooShort";
        case ModelProblem::FieldTooLong: return "fieldTooLong";
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
    // Arrays hold exactly the elements the sizes give: a longer one would be
    // read with the wrong stride if it was meant for other sizes (a K = 9
    // model whose map fields say 2 x 2), so it is refused rather than read in
    // part. A scalar field is read through its first element.
    for (const ModelField& field : kModelFields) {
        const std::uint64_t has = ElementsOf(model.*field.view);
        const std::uint64_t needs = FieldElements(field, sizes);
        if (IsScalarField(field) ? has < 1 : has != needs) {
            failure = Fail(has < needs ? ModelProblem::FieldTooShort : ModelProblem::FieldTooLong,
                           field.name);
            failure.has = has;
            failure.needs = needs;
            std::snprintf(failure.message, sizeof failure.message,
                          "field \"%s\" holds %llu elements but needs exactly %s = %llu "
                          "(H = %d, W = %d, N = %d, K = %d)",
                          field.name, static_cast<unsigned long long>(has),
                          FieldElementsFormula(field), static_cast<unsigned long long>(needs),
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
                          const FrameImage& frame, const NeighborhoodMatrix& matrix,
                          InPlace inPlace) {
    ModelCheck check = CheckModel(source, frame, matrix);
    if (!check.ok()) return check;
    const ModelSizes& sizes = check.sizes;
    const std::uint64_t n = static_cast<std::uint64_t>(sizes.N);
    const std::uint64_t k = static_cast<std::uint64_t>(sizes.K);

    for (const ModelField& field : kModelFields) {
        if (field.updated == nullptr) continue;
        const std::uint64_t has = ElementsOf(destination.*field.updated);
        const std::uint64_t needs = FieldElements(field, sizes);
        if (has < needs) {
            ModelCheck failure = Fail(ModelProblem::DestinationTooShort, field.name);
            failure.has = has;
            failure.needs = needs;
            std::snprintf(failure.message, sizeof failure.message,
                          "destination field \"%s\" holds %llu elements but needs %s = %llu",
                          field.name, static_cast<unsigned long long>(has),
                          FieldElementsFormula(field), static_cast<unsigned long long>(needs));
            return failure;
        }
    }

    // What the update writes of each destination field, against everything
    // it reads (every field of the source, the frame, the matrix) and every
    // other field it writes.
    const Span frameSpan{frame.data, 3 * n};
    const Span matrixSpan{matrix.data, k * k};
    for (const ModelField& field : kModelFields) {
        if (field.updated == nullptr) continue;
        const Span here{(destination.*field.updated).data, FieldElements(field, sizes)};
        // The source field's own array: that field is updated in place.
        const bool own = here.data == (source.*field.view).data;
        if (own && inPlace == InPlace::Allowed) continue;
        const char* other = nullptr;
        const char* whose = "";
        if (own) {
            other = field.name;
            whose = "the source's field";
        }
        for (const ModelField& read : kModelFields) {
            if (other != nullptr) break;
            if (Overlap(here, Span{(source.*read.view).data, FieldElements(read, sizes)})) {
                other = read.name;
                whose = "the source's field";
            }
        }
        if (other == nullptr && Overlap(here, frameSpan)) other = "frame";
        if (other == nullptr && Overlap(here, matrixSpan)) other = "neighbourhood matrix";
        for (const ModelField& sibling : kModelFields) {
            if (other != nullptr) break;
            if (&sibling == &field || sibling.updated == nullptr) continue;
            const Span there{(destination.*sibling.updated).data, FieldElements(sibling, sizes)};
            if (Overlap(here, there)) {
                other = sibling.name;
                whose = "destination field";
            }
        }
        if (other != nullptr) {
            ModelCheck failure = Fail(ModelProblem::DestinationOverlaps, field.name);
            std::snprintf(failure.message, sizeof failure.message,
                          "destination field \"%s\" shares memory with %s%s%s%s; it must be "
                          "%smemory of its own",
                          field.name, whose, *whose ? " \"" : "the ", other, *whose ? "\"" : "",
                          inPlace == InPlace::Allowed ? "the source field itself or " : "");
            return failure;
        }
    }
    return check;
}

}  // namespace corvane
