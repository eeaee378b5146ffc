#include "UpdateModel.h"

#include "internal/ModelPhases.h"
#include "internal/Sweep.h"
#include "WorkerThreads.h"

#include <cstdint>
#include <cstdlib>

namespace corvane {

HostAllocator StandardAllocator() {
    HostAllocator host;
    host.allocate = [](std::size_t bytes) { return std::malloc(bytes); };
    host.release = [](void* block) { std::free(block); };
    return host;
}

namespace {

// The three per-call scratch blocks, obtained in the order offsets record,
// smoothed mask, correlation table and released offsets record, correlation
// table, smoothed mask.
struct Scratch {
    NeighborOffsets* offsets = nullptr;
    double* smoothedMask = nullptr;
    double* correlationTable = nullptr;
};

void ReleaseScratch(const HostAllocator& host, Scratch& scratch) {
    if (scratch.offsets != nullptr) host.release(scratch.offsets);
    if (scratch.correlationTable != nullptr) host.release(scratch.correlationTable);
    if (scratch.smoothedMask != nullptr) host.release(scratch.smoothedMask);
    scratch = Scratch{};
}

bool ObtainScratch(const HostAllocator& host, const ModelSizes& sizes, Scratch& scratch) {
    const std::size_t n = static_cast<std::size_t>(sizes.N);
    scratch.offsets = static_cast<NeighborOffsets*>(host.allocate(sizeof(NeighborOffsets)));
    if (scratch.offsets != nullptr)
        scratch.smoothedMask = static_cast<double*>(host.allocate(n * sizeof(double)));
    if (scratch.smoothedMask != nullptr)
        scratch.correlationTable = static_cast<double*>(host.allocate(4 * n * sizeof(double)));
    if (scratch.correlationTable == nullptr) {
        ReleaseScratch(host, scratch);
        return false;
    }
    return true;
}

// Given the verdict on the inputs, obtains the scratch, counts the frame,
// runs `sweep` over the sizes and scratch, and releases the scratch. The
// scratch is obtained before the frame is counted, so that a host out of
// memory leaves the destination exactly as it was.
template <typename Sweep>
bool RunUpdate(const ModelCheck& check, const BackgroundModel& source,
               const UpdatedFields& destination, const HostAllocator& host, Sweep sweep) {
    if (!check.ok() || host.allocate == nullptr || host.release == nullptr) return false;
    Scratch scratch;
    if (!ObtainScratch(host, check.sizes, scratch)) return false;
    destination.CurrentFrame.data[0] = source.CurrentFrame.data[0] + 1.0;
    sweep(check.sizes, scratch);
    ReleaseScratch(host, scratch);
    return true;
}

}  // namespace

bool UpdateModelReference(const BackgroundModel& model, const FrameImage& frame,
                          const NeighborhoodMatrix& matrix, const HostAllocator& host) {
    return RunUpdate(CheckModel(model, frame, matrix), model, UpdatedFieldsOf(model), host,
                     [&](const ModelSizes& sizes, Scratch& scratch) {
                         CompeteNeurons(model, sizes, frame);
                         CorrelateNeighbors(model, sizes, *scratch.offsets,
                                            scratch.correlationTable);
                         SmoothMask(model, sizes, *scratch.offsets, scratch.correlationTable,
                                    scratch.smoothedMask);
                         AdaptModel(model, sizes, *scratch.offsets, frame, matrix);
                     });
}

bool UpdateModelIntoWith(const ColumnKernels& kernels, const BackgroundModel& source,
                         const UpdatedFields& destination, const FrameImage& frame,
                         const NeighborhoodMatrix& matrix, const HostAllocator& host,
                         int threads) {
    if (threads < 1) threads = HardwareThreads();
    // The sweep's two stages on the same threads (or on those of the crew of
    // a caller's frame).
    const ThreadCrew crew;
    // The same scratch as the four-pass update, obtained and released in the
    // same order; the sweep uses the two arrays as rings of columns and does
    // not need the offsets record.
    return RunUpdate(CheckModelInto(source, destination, frame, matrix), source, destination,
                     host, [&](const ModelSizes& sizes, Scratch& scratch) {
                         Sweep(source, destination, sizes, frame, matrix, scratch.smoothedMask,
                               scratch.correlationTable, threads, kernels);
                     });
}

bool UpdateModelInto(const BackgroundModel& source, const UpdatedFields& destination,
                     const FrameImage& frame, const NeighborhoodMatrix& matrix,
                     const HostAllocator& host, int threads) {
    static const ColumnKernels& fastest = *ColumnKernelsFor(FastestVectorPath());
    return UpdateModelIntoWith(fastest, source, destination, frame, matrix, host, threads);
}

bool UpdateModel(const BackgroundModel& model, const FrameImage& frame,
                 const NeighborhoodMatrix& matrix, const HostAllocator& host, int threads) {
    return UpdateModelInto(model, UpdatedFieldsOf(model), frame, matrix, host, threads);
}

}  // namespace corvane
