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
    double* variances = model.Sigma2.data;
    kernel::ScorePixels(x, x + N, x + 2 * N, model.Pi.data, model.Mu.data, variances, variances, K,
                        N, minimumVariance, model.imMask.data, model.NeuroWin.data,
                        RoundedMathFastestPath());
}

}  // namespace corvane
