#include <cmath>
#include <cstdint>
#include <cstring>

#include "ModelConstants.h"
#include "UpdateModel.h"

namespace corvane {

void CorrelateNeighbors(const BackgroundModel& model, const ModelSizes& sizes,
                        NeighborOffsets& offsets, double* correlationTable) {
    const double* var = model.Var.data;
    const double* cov = model.Cov.data;
    for (std::int32_t p = 0; p < sizes.N; ++p) {
        const std::int64_t base = static_cast<std::int64_t>(p) * 4;
        const double sigmaP = std::sqrt(var[p]);
        ComputeBackwardOffsets(offsets, p, sizes.H);
        for (int k = 0; k < kBackwardSlots; ++k) {
            const std::int32_t o = offsets.slot[k];
            if (o != 0) {
                const std::int64_t q = static_cast<std::int64_t>(p) + o;
                // An indicator variance of 0 (every pixel's after a frame at
                // StepSize 1, or decayed there over a long static scene) would
                // give x/0 = infinity or 0/0 = NaN, and either ends up zeroing
                // or flooding the mask; such a pair counts as uncorrelated.
                // NaN variances pass through.
                if (var[p] <= 0 || var[q] <= 0)
                    correlationTable[base + k] = 0;
                else
                    correlationTable[base + k] = cov[base + k] / (std::sqrt(var[q]) * sigmaP);
            } else {
                correlationTable[base + k] = 0;
            }
        }
    }
}

void SmoothMask(const BackgroundModel& model, const ModelSizes& sizes, NeighborOffsets& offsets,
                const double* correlationTable, double* smoothedMask) {
    const double* mask = model.imMask.data;
    for (std::int32_t p = 0; p < sizes.N; ++p) {
        ComputeBackwardOffsets(offsets, p, sizes.H);
        ComputeForwardOffsets(offsets, p, sizes.H, sizes.W);
        const std::int64_t base = static_cast<std::int64_t>(p) * 4;
        double v = mask[p];
        for (int k = 0; k < kBackwardSlots; ++k) {
            const std::int32_t o = offsets.slot[k];
            if (o != 0) v = v + mask[p + static_cast<std::int64_t>(o)] * correlationTable[base + k];
        }
        // Forward slot 4+k reaches n, whose backward slot k points back at p:
        // the pair's coefficient is stored at n.
        for (int k = 0; k < kBackwardSlots; ++k) {
            const std::int32_t o = offsets.slot[4 + k];
            if (o != 0) {
                const std::int64_t n = static_cast<std::int64_t>(p) + o;
                v = v + correlationTable[n * 4 + k] * mask[n];
            }
        }
        v = v / SmoothingDivisor;
        smoothedMask[p] = v >= 0 ? v : 0;  // negative sums and NaN become 0
    }
    std::memcpy(model.imMask.data, smoothedMask, static_cast<std::size_t>(sizes.N) * sizeof(double));
}

}  // namespace corvane
