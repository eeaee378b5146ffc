#include <cmath>
#include <cstdint>

#include "ModelConstants.h"
#include "UpdateModel.h"

namespace corvane {

void CompeteNeurons(const BackgroundModel& model, const ModelSizes& sizes,
                    const FrameImage& frame) {
    const std::int64_t N = sizes.N;
    const std::int64_t K = sizes.K;
    const double minimumVariance = model.MinimumVariance.data[0];
    const double* x0s = frame.data;
    const double* x1s = frame.data + N;
    const double* x2s = frame.data + 2 * N;
    double* mu = model.Mu.data;
    double* sigma2 = model.Sigma2.data;

    for (std::int64_t p = 0; p < N; ++p) {
        const double x0 = x0s[p];
        const double x1 = x1s[p];
        const double x2 = x2s[p];
        const double prior = model.Pi.data[p];
        model.NeuroWin.data[p] = 0.0;
        double best = InitialBestDensity;
        double sum = 0.0;
        for (std::int64_t j = 0; j < K; ++j) {
            const double* neuron = mu + (p * K + j) * 3;
            const double s = sigma2[p * K + j] + minimumVariance;
            const double t0 = neuron[0] - x0;
            const double t1 = neuron[1] - x1;
            const double t2 = neuron[2] - x2;
            const double d2 = t0 * t0 + t1 * t1 + t2 * t2;
            // Raising the variance by the floor and lowering it again may change
            // its last bits; that round trip is part of the model's history.
            sigma2[p * K + j] = s - minimumVariance;
            const double g = std::exp((-GaussianLogNormalizer - 1.5 * std::log(s)) - (0.5 * d2) / s);
            sum = sum + g;
            if (g > best) {  // ties keep the lower index; NaN never wins
                best = g;
                model.NeuroWin.data[p] = static_cast<double>(j);
            }
        }
        const double mean = sum / static_cast<double>(K);
        const double f = prior * UniformForegroundDensity;
        model.imMask.data[p] = f / (mean * (1 - prior) + f);
    }
}

}  // namespace corvane
