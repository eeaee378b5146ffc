#include <cstdint>

#include "internal/ModelPhases.h"
#include "internal/PixelKernel.h"

namespace corvane {

void CompeteNeurons(const BackgroundModel& model, const ModelSizes& sizes,
                    const FrameImage& frame) {
    const std::int64_t N = sizes.N;
    const std::int64_t K = sizes.K;
    const double minimumVariance = model.MinimumVariance.data[0];
    const double* x = frame.data;
    for (std::int64_t p = 0; p < N; ++p) {
        double* variances = model.Sigma2.data + p * K;
        const kernel::PixelScore score =
            kernel::ScorePixel(x[p], x[N + p], x[2 * N + p], model.Pi.data[p],
                               model.Mu.data + p * K * 3, variances, variances, K,
                               minimumVariance);
        model.NeuroWin.data[p] = static_cast<double>(score.winner);
        model.imMask.data[p] = score.raw;
    }
}

}  // namespace corvane
