// A small model with every field sized for H x W pixels and K neurons, filled
// with plain values that tests then overwrite where they matter.
#pragma once

#include <cstdint>
#include <vector>

#include "internal/ModelPhases.h"
#include "ModelSetup.h"
#include "UpdateModel.h"

namespace corvane::test {

struct TestModel {
    OwnedModel owned;
    std::vector<double> frame;
    std::vector<double> matrix;
    std::int32_t H, W, K;

    TestModel(std::int32_t h, std::int32_t w, std::int32_t mapRows, std::int32_t mapColumns)
        : H(h), W(w), K(mapRows * mapColumns) {
        const std::int64_t N = static_cast<std::int64_t>(H) * W;
        owned.NumImageRows = H;
        owned.NumImageColumns = W;
        owned.NumMapRows = mapRows;
        owned.NumMapColumns = mapColumns;
        owned.MinimumVariance = 0;
        owned.StepSize = 0.1;
        owned.Mu.assign(3 * K * N, 100.0);
        owned.Sigma2.assign(K * N, 1.0);
        owned.imMask.assign(N, 0.0);
        owned.Pi.assign(N, 0.5);
        owned.NeuroWin.assign(N, 0.0);
        owned.Var.assign(N, 0.25);
        owned.Cov.assign(4 * N, 0.0);
        owned.MaximumVariance.assign(N, 1e6);
        frame.assign(3 * N, 100.0);
        matrix.assign(static_cast<std::size_t>(K) * K, 0.0);
    }

    std::int64_t N() const { return static_cast<std::int64_t>(H) * W; }
    BackgroundModel View() { return owned.View(); }
    ModelSizes Sizes() const { return ModelSizes{H, W, H * W, K}; }
    FrameImage Frame() const { return FrameImage{frame.data(), static_cast<std::int64_t>(frame.size())}; }
    NeighborhoodMatrix Matrix() const {
        return NeighborhoodMatrix{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    }
    bool Update() { return UpdateModel(View(), Frame(), Matrix(), StandardAllocator()); }
};

}  // namespace corvane::test
