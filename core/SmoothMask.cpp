#include <cstdint>
#include <cstring>

#include "internal/ModelPhases.h"
#include "internal/PixelKernel.h"

namespace corvane {

void CorrelateNeighbors(const BackgroundModel& model, const ModelSizes& sizes,
                        NeighborOffsets& offsets, double* correlationTable) {
    const double* var = model.Var.data;
    for (std::int32_t p = 0; p < sizes.N; ++p) {
        ComputeBackwardOffsets(offsets, p, sizes.H);
        kernel::Spread backward[kBackwardSlots];
        for (int k = 0; k < kBackwardSlots; ++k)
            if (offsets.slot[k] != 0)
                backward[k] = kernel::SpreadOf(var[static_cast<std::int64_t>(p) + offsets.slot[k]]);
        const std::int64_t base = static_cast<std::int64_t>(p) * 4;
        kernel::CorrelatePixel(model.Cov.data + base, kernel::SpreadOf(var[p]), backward,
                               kernel::LinksOf(offsets, kBackwardSlots), correlationTable + base);
    }
}

namespace {

// A pixel's neighbours found through its offsets, in the full-size arrays of
// raw probabilities and correlations.
struct OffsetNeighbours {
    const double* mask;
    const double* correlationTable;
    const NeighborOffsets& offsets;
    std::int64_t p;

    std::int64_t At(int k) const { return p + offsets.slot[k]; }
    double Raw(int k) const { return mask[At(k)]; }
    // Backward slot k: the pair's coefficient is stored here. Forward slot
    // 4+k reaches n, whose backward slot k points back at p: it is stored at n.
    double Correlation(int k) const {
        return k < kBackwardSlots ? correlationTable[p * 4 + k]
                                  : correlationTable[At(k) * 4 + (k - kBackwardSlots)];
    }
};

}  // namespace

void SmoothMask(const BackgroundModel& model, const ModelSizes& sizes, NeighborOffsets& offsets,
                const double* correlationTable, double* smoothedMask) {
    const double* mask = model.imMask.data;
    for (std::int32_t p = 0; p < sizes.N; ++p) {
        ComputeBackwardOffsets(offsets, p, sizes.H);
        ComputeForwardOffsets(offsets, p, sizes.H, sizes.W);
        const OffsetNeighbours neighbours{mask, correlationTable, offsets, p};
        smoothedMask[p] = kernel::SmoothPixel(mask[p], kernel::LinksOf(offsets, 8), neighbours);
    }
    std::memcpy(model.imMask.data, smoothedMask, static_cast<std::size_t>(sizes.N) * sizeof(double));
}

}  // namespace corvane
