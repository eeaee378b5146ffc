// libFuzzer target over the core's checking entry and update.
//
// The input decides every size field (small usable sizes most of the time,
// but also 0, negative, fractional, NaN, infinite, huge and overflowing
// values, and size fields with no element at all), the element count of every
// array (exactly what the sizes need, a few more, one short, or anything
// shorter) and the contents (plausible model values or arbitrary doubles).
// Every array is a heap block of exactly its element count, so AddressSanitizer
// reports any read or write past it.
//
// Oracles, besides the sanitizers:
//  - CheckModel accepts exactly when the harness's own reading of the sizes
//    and counts says the update can run;
//  - when it rejects, UpdateModel and UpdateModelReference return false,
//    obtain no scratch and leave every array bit for bit as it was;
//  - when it accepts, both return true, release every scratch block they
//    obtained, produce bit-identical models (UpdateModel on 1 to 4 threads,
//    as the input says), and leave the elements beyond what the sizes need
//    untouched.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "ModelCheck.h"
#include "UpdateModel.h"

namespace {

using corvane::BackgroundModel;
using corvane::DoubleView;

constexpr int kFieldCount = 15;

// Field order as in BackgroundModel.
constexpr DoubleView BackgroundModel::*kFields[kFieldCount] = {
    &BackgroundModel::Mu,           &BackgroundModel::Sigma2,
    &BackgroundModel::imMask,       &BackgroundModel::Pi,
    &BackgroundModel::NeuroWin,     &BackgroundModel::Var,
    &BackgroundModel::Cov,          &BackgroundModel::MaximumVariance,
    &BackgroundModel::NumMapRows,   &BackgroundModel::NumMapColumns,
    &BackgroundModel::NumImageRows, &BackgroundModel::NumImageColumns,
    &BackgroundModel::MinimumVariance, &BackgroundModel::StepSize,
    &BackgroundModel::CurrentFrame};
enum FieldIndex { kMu, kSigma2, kImMask, kPi, kNeuroWin, kVar, kCov, kMaximumVariance,
                  kNumMapRows, kNumMapColumns, kNumImageRows, kNumImageColumns,
                  kMinimumVariance, kStepSize, kCurrentFrame, kFrame, kMatrix, kBufferCount };

// Allocations of the update's scratch, counted so that the harness can tell
// every block came back.
int gLiveBlocks = 0;
int gAllocations = 0;
corvane::HostAllocator CountingAllocator() {
    corvane::HostAllocator host;
    host.allocate = [](std::size_t bytes) -> void* {
        ++gLiveBlocks;
        ++gAllocations;
        return std::malloc(bytes);
    };
    host.release = [](void* block) {
        --gLiveBlocks;
        std::free(block);
    };
    return host;
}

// A size field's value: mostly small and usable, sometimes anything.
double PickSize(FuzzedDataProvider& in, int usableMax) {
    static const double kSpecial[] = {
        0.0, -0.0, -1.0, 0.5, 0.999999, -0.5, 1.5, 2.75,
        std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), 2147483648.0, 2147483647.0, 2147483647.9,
        -2147483648.0, -2147483649.0, 65536.0, 46341.0, 46340.0, 1e300, 4294967296.0,
        std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min()};
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    if (kind < 200) return 1 + kind % usableMax;
    if (kind < 250) return kSpecial[kind % (sizeof kSpecial / sizeof kSpecial[0])];
    return in.ConsumeFloatingPoint<double>();
}

// How many elements an array gets, given what the sizes need (or 0 when the
// sizes are unusable and the harness has no count to aim at).
std::int64_t PickCount(FuzzedDataProvider& in, std::int64_t needs) {
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    const std::int64_t cap = 4096;  // keeps each run small
    if (needs > cap) return in.ConsumeIntegralInRange<std::int64_t>(0, cap);
    if (kind < 220) return needs;
    if (kind < 232) return needs + 1 + kind % 3;
    if (kind < 244) return needs > 0 ? needs - 1 : 0;
    if (kind < 250) return 0;
    return in.ConsumeIntegralInRange<std::int64_t>(0, needs);
}

// One element: a plausible value for the field or any double at all.
double PickValue(FuzzedDataProvider& in, int field, std::int64_t K) {
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    if (kind >= 224) return in.ConsumeFloatingPoint<double>();
    const double unit = (kind & 31) / 31.0;  // 0 .. 1 in 32 steps
    switch (field) {
        case kMu: return 255 * unit;
        case kSigma2: return 400 * unit;
        case kPi: case kImMask: return unit;
        case kVar: return 0.25 * unit;
        case kCov: return 0.25 * unit - 0.125;
        case kNeuroWin: return static_cast<double>((kind & 31) % (K > 0 ? K : 1));
        case kMaximumVariance: return 500 * unit;
        case kMinimumVariance: return 30 * unit;
        case kStepSize: return unit;
        case kMatrix: return unit;
        default: return 255 * unit;  // the frame, CurrentFrame
    }
}

// Buffers 0..14 hold the model's fields in BackgroundModel order, 15 the
// frame, 16 the neighbourhood matrix. Each is a heap block of exactly its
// element count (null for 0 elements).

struct Buffers {
    double* arrays[kBufferCount] = {};
    std::int64_t counts[kBufferCount] = {};

    Buffers() = default;
    Buffers(const Buffers&) = delete;
    Buffers& operator=(const Buffers&) = delete;
    ~Buffers() {
        for (double* a : arrays) std::free(a);
    }
    double* Allocate(int index, std::int64_t count) {
        std::free(arrays[index]);
        arrays[index] = count > 0 ? static_cast<double*>(std::malloc(
                                        static_cast<std::size_t>(count) * sizeof(double)))
                                  : nullptr;
        counts[index] = count;
        return arrays[index];
    }
    void CopyFrom(const Buffers& other) {
        for (int i = 0; i < kBufferCount; ++i) {
            double* block = Allocate(i, other.counts[i]);
            if (block != nullptr)
                std::memcpy(block, other.arrays[i],
                            static_cast<std::size_t>(other.counts[i]) * sizeof(double));
        }
    }
    // Whether elements from..count-1 of buffer `index` hold the same bits in both.
    bool SameBits(const Buffers& other, int index, std::int64_t from) const {
        const std::int64_t count = counts[index];
        if (count <= from) return true;
        return std::memcmp(arrays[index] + from, other.arrays[index] + from,
                           static_cast<std::size_t>(count - from) * sizeof(double)) == 0;
    }
};

// Views of buffers 0..14 as the model, 15 as the frame, 16 as the matrix.
void Bind(const Buffers& b, BackgroundModel* model, corvane::FrameImage* frame,
          corvane::NeighborhoodMatrix* matrix) {
    for (int f = 0; f < kFieldCount; ++f) model->*kFields[f] = DoubleView{b.arrays[f], b.counts[f]};
    *frame = corvane::FrameImage{b.arrays[kFrame], b.counts[kFrame]};
    *matrix = corvane::NeighborhoodMatrix{b.arrays[kMatrix], b.counts[kMatrix]};
}

// The harness's own reading of a size field (element 0, truncated toward
// zero), independent of the core's TruncateSize.
bool ReadSize(const Buffers& b, int field, std::int64_t* out) {
    if (b.counts[field] < 1) return false;
    const double v = b.arrays[field][0];
    if (!(std::fabs(v) < 4e9)) return false;  // NaN, infinite or far out of range
    const double t = std::trunc(v);
    if (t < 1 || t > 2147483647.0) return false;
    *out = static_cast<std::int64_t>(t);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Buffers b;

    // Size fields first (they decide what the arrays need), each with 0, 1 or
    // 2 elements.
    const int usableMax[4] = {3, 3, 6, 6};  // map rows, map columns, image rows, image columns
    for (int s = 0; s < 4; ++s) {
        const int field = kNumMapRows + s;
        const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
        const std::int64_t count = kind < 240 ? 1 : (kind < 248 ? 0 : 2);
        double* block = b.Allocate(field, count);
        for (std::int64_t i = 0; i < count; ++i) block[i] = PickSize(in, usableMax[s]);
    }

    std::int64_t mapRows = 0, mapColumns = 0, H = 0, W = 0;
    const bool sizesRead = ReadSize(b, kNumMapRows, &mapRows) && ReadSize(b, kNumMapColumns, &mapColumns) &&
                           ReadSize(b, kNumImageRows, &H) && ReadSize(b, kNumImageColumns, &W);
    const std::int64_t N = sizesRead ? H * W : 0;
    const std::int64_t K = sizesRead ? mapRows * mapColumns : 0;
    const bool sizesUsable = sizesRead && N <= 2147483647 && K <= 2147483647;

    // What each array needs under those sizes (0 when unusable).
    std::int64_t needs[kBufferCount] = {};
    if (sizesUsable) {
        const std::int64_t perPixel[8] = {3 * K, K, 1, 1, 1, 1, 4, 1};
        for (int f = 0; f < 8; ++f) {
            // Needs beyond the cap are certain to be short; saturate to stay in 64 bits.
            needs[f] = perPixel[f] > 0 && N > (std::int64_t{1} << 40) / perPixel[f]
                           ? (std::int64_t{1} << 40)
                           : perPixel[f] * N;
        }
        needs[kFrame] = 3 * N;
        needs[kMatrix] = K > (std::int64_t{1} << 20) ? (std::int64_t{1} << 40) : K * K;
    }
    for (int f : {kMinimumVariance, kStepSize, kCurrentFrame}) needs[f] = 1;

    for (int f = 0; f < kBufferCount; ++f) {
        if (f >= kNumMapRows && f <= kNumImageColumns) continue;
        const std::int64_t count = PickCount(in, needs[f]);
        double* block = b.Allocate(f, count);
        for (std::int64_t i = 0; i < count; ++i) block[i] = PickValue(in, f, K);
    }

    // The model's arrays must hold exactly what the sizes give (a longer one
    // would be read with another map shape); the scalars, the frame and the
    // matrix at least that.
    bool countsSuffice = sizesUsable;
    for (int f = 0; f < kBufferCount && countsSuffice; ++f)
        countsSuffice = f <= kMaximumVariance ? b.counts[f] == needs[f] : b.counts[f] >= needs[f];

    BackgroundModel model;
    corvane::FrameImage frame;
    corvane::NeighborhoodMatrix matrix;
    Bind(b, &model, &frame, &matrix);
    const corvane::ModelCheck check = corvane::CheckModel(model, frame, matrix);
    if (check.ok() != countsSuffice) std::abort();  // the core and the harness disagree
    if (check.ok() && (check.sizes.H != H || check.sizes.W != W || check.sizes.K != K ||
                       check.sizes.N != N))
        std::abort();

    Buffers before;
    before.CopyFrom(b);
    Buffers reference;
    reference.CopyFrom(b);
    BackgroundModel referenceModel;
    corvane::FrameImage referenceFrame;
    corvane::NeighborhoodMatrix referenceMatrix;
    Bind(reference, &referenceModel, &referenceFrame, &referenceMatrix);

    // The update on 1 to 4 threads (bands of columns), against the four-pass
    // reference on one.
    const int threads = in.ConsumeIntegralInRange<int>(1, 4);
    gLiveBlocks = 0;
    gAllocations = 0;
    const bool updated = corvane::UpdateModel(model, frame, matrix, CountingAllocator(), threads);
    const int allocations = gAllocations;
    if (gLiveBlocks != 0) std::abort();
    const bool referenceUpdated = corvane::UpdateModelReference(referenceModel, referenceFrame,
                                                                referenceMatrix, CountingAllocator());
    if (gLiveBlocks != 0) std::abort();
    if (updated != check.ok() || referenceUpdated != check.ok()) std::abort();

    for (int f = 0; f < kBufferCount; ++f) {
        // Rejected: nothing may change. Accepted: both updates agree to the
        // bit, and nothing past what the sizes need is written.
        if (!check.ok()) {
            if (!b.SameBits(before, f, 0)) std::abort();
            if (allocations != 0) std::abort();
        } else {
            if (!b.SameBits(reference, f, 0)) std::abort();
            const std::int64_t used = f >= kNumMapRows && f <= kNumImageColumns ? 1 : needs[f];
            if (!b.SameBits(before, f, used)) std::abort();
        }
    }
    return 0;
}
