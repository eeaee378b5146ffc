// A model of random but plausible values for H x W pixels and a
// mapRows x mapColumns map, with a frame and a neighbourhood matrix, for the
// tests of the hosts' code: seeded, so every run sees the same numbers.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "ModelSetup.h"

namespace corvane::test {

struct RandomModel {
    OwnedModel model;
    std::vector<double> frame;
    std::vector<double> matrix;

    RandomModel(std::int32_t H, std::int32_t W, std::int32_t mapRows, std::int32_t mapColumns,
                unsigned seed) {
        std::mt19937_64 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const std::int64_t N = static_cast<std::int64_t>(H) * W;
        const std::int64_t K = static_cast<std::int64_t>(mapRows) * mapColumns;
        auto fill = [&](std::vector<double>& v, std::int64_t count, double low, double high) {
            v.resize(static_cast<std::size_t>(count));
            for (double& x : v) x = low + (high - low) * unit(random);
        };
        fill(model.Mu, 3 * K * N, 0, 255);
        fill(model.Sigma2, K * N, 5, 200);
        fill(model.imMask, N, 0, 1);
        fill(model.Pi, N, 0.01, 0.6);
        fill(model.NeuroWin, N, 0, 0);
        fill(model.Var, N, 0.02, 0.2);
        fill(model.Cov, 4 * N, 0, 0.02);
        fill(model.MaximumVariance, N, 100, 900);
        model.NumMapRows = mapRows;
        model.NumMapColumns = mapColumns;
        model.NumImageRows = H;
        model.NumImageColumns = W;
        model.MinimumVariance = 25;
        model.StepSize = 0.02;
        model.CurrentFrame = 3;
        fill(frame, 3 * N, 0, 255);
        fill(matrix, K * K, 0, 0.1);
    }

    FrameImage Frame() const {
        return FrameImage{frame.data(), static_cast<std::int64_t>(frame.size())};
    }
    NeighborhoodMatrix Matrix() const {
        return NeighborhoodMatrix{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    }
};

}  // namespace corvane::test
