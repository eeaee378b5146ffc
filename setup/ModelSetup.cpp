#include "ModelSetup.h"

#include <cmath>

namespace corvane {

namespace {
DoubleView ViewOf(std::vector<double>& values) {
    return DoubleView{values.data(), static_cast<std::int64_t>(values.size())};
}
DoubleView ViewOf(double& value) { return DoubleView{&value, 1}; }
}  // namespace

BackgroundModel OwnedModel::View() {
    BackgroundModel model;
    model.Mu = ViewOf(Mu);
    model.Sigma2 = ViewOf(Sigma2);
    model.imMask = ViewOf(imMask);
    model.Pi = ViewOf(Pi);
    model.NeuroWin = ViewOf(NeuroWin);
    model.Var = ViewOf(Var);
    model.Cov = ViewOf(Cov);
    model.MaximumVariance = ViewOf(MaximumVariance);
    model.NumMapRows = ViewOf(NumMapRows);
    model.NumMapColumns = ViewOf(NumMapColumns);
    model.NumImageRows = ViewOf(NumImageRows);
    model.NumImageColumns = ViewOf(NumImageColumns);
    model.MinimumVariance = ViewOf(MinimumVariance);
    model.StepSize = ViewOf(StepSize);
    model.CurrentFrame = ViewOf(CurrentFrame);
    return model;
}

OwnedModel BuildInitialModel(const ModelParameters& parameters, const double* frame,
                             std::int32_t H, std::int32_t W) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const std::int64_t K = static_cast<std::int64_t>(parameters.mapRows) * parameters.mapColumns;
    OwnedModel model;
    model.NumMapRows = parameters.mapRows;
    model.NumMapColumns = parameters.mapColumns;
    model.NumImageRows = H;
    model.NumImageColumns = W;
    model.MinimumVariance = parameters.minimumVariance;
    model.StepSize = parameters.stepSize;
    model.CurrentFrame = 0;

    model.Mu.resize(static_cast<std::size_t>(3 * K * N));
    for (std::int64_t p = 0; p < N; ++p)
        for (std::int64_t j = 0; j < K; ++j)
            for (int ch = 0; ch < 3; ++ch) model.Mu[(p * K + j) * 3 + ch] = frame[ch * N + p];
    model.Sigma2.assign(static_cast<std::size_t>(K * N), parameters.initialVariance);
    model.imMask.assign(static_cast<std::size_t>(N), 0.0);
    model.Pi.assign(static_cast<std::size_t>(N), parameters.initialPrior);
    model.NeuroWin.assign(static_cast<std::size_t>(N), 0.0);
    model.Var.assign(static_cast<std::size_t>(N), parameters.initialIndicatorVariance);
    model.MaximumVariance.assign(static_cast<std::size_t>(N), parameters.maximumVariance);

    // Covariance equal to the variance where the backward neighbour exists
    // (above, above-left, left, below-left), 0 where it does not.
    model.Cov.assign(static_cast<std::size_t>(4 * N), 0.0);
    for (std::int64_t p = 0; p < N; ++p) {
        const std::int64_t r = p % H;
        const std::int64_t c = p / H;
        const bool exists[4] = {r > 0, r > 0 && c > 0, c > 0, r + 1 < H && c > 0};
        for (int s = 0; s < 4; ++s)
            if (exists[s]) model.Cov[p * 4 + s] = parameters.initialIndicatorVariance;
    }
    return model;
}

std::vector<double> BuildNeighborhoodMatrix(const ModelParameters& parameters) {
    const std::int64_t rows = parameters.mapRows;
    const std::int64_t K = rows * parameters.mapColumns;
    const double width = parameters.neighborhoodWidth;
    std::vector<double> matrix(static_cast<std::size_t>(K * K));
    for (std::int64_t w = 0; w < K; ++w) {
        for (std::int64_t j = 0; j < K; ++j) {
            const double dr = static_cast<double>(w % rows - j % rows);
            const double dc = static_cast<double>(w / rows - j / rows);
            const double distance2 = dr * dr + dc * dc;
            // A width of 0 (or less) means winner-take-all.
            matrix[w * K + j] =
                width > 0 ? parameters.learningRate * std::exp(-distance2 / (2 * width * width))
                          : (w == j ? parameters.learningRate : 0.0);
        }
    }
    return matrix;
}

}  // namespace corvane
