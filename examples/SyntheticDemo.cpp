// Runs the background model over a synthetic scene (a square moving over a
// noisy, textured background) and reports how well the square was found.
//
//   corvane_synthetic_demo [frames] [rows] [columns]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ModelSetup.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

int main(int argc, char** argv) {
    using namespace corvane;
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    SyntheticScene scene;
    if (argc > 2) scene.H = std::atoi(argv[2]);
    if (argc > 3) scene.W = std::atoi(argv[3]);
    if (frames < 1 || scene.H < 1 || scene.W < 1) {
        std::fprintf(stderr, "usage: %s [frames >= 1] [rows >= 1] [columns >= 1]\n", argv[0]);
        return 2;
    }
    const int warmUp = frames / 5;

    const ModelParameters parameters;
    std::vector<double> frame;
    std::vector<std::uint8_t> truth;
    // The square is off the first frame's pixels it will later cross, so start
    // from a frame rendered without it: the empty background.
    SyntheticScene empty = scene;
    empty.squareSize = 0;
    empty.Render(0, frame, nullptr);
    OwnedModel owned = BuildInitialModel(parameters, frame.data(), scene.H, scene.W);
    const std::vector<double> matrix = BuildNeighborhoodMatrix(parameters);
    const BackgroundModel model = owned.View();
    const std::int64_t N = static_cast<std::int64_t>(scene.H) * scene.W;

    std::uint64_t tp = 0, fp = 0, fn = 0, tn = 0;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(N));
    double seconds = 0;
    for (int t = 0; t < frames; ++t) {
        scene.Render(t, frame, &truth);
        const auto start = std::chrono::steady_clock::now();
        if (!UpdateModel(model, FrameImage{frame.data(), 3 * N},
                         NeighborhoodMatrix{matrix.data(), static_cast<std::int64_t>(matrix.size())},
                         StandardAllocator())) {
            std::fprintf(stderr, "the model could not be updated\n");
            return 1;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (t < warmUp) continue;
        ThresholdMask(parameters, owned.imMask.data(), scene.H, scene.W, mask.data());
        for (std::int64_t p = 0; p < N; ++p) {
            const bool found = mask[p] != 0;
            const bool moving = truth[p] != 0;
            tp += found && moving;
            fp += found && !moving;
            fn += !found && moving;
            tn += !found && !moving;
        }
    }

    const double precision = tp + fp > 0 ? double(tp) / double(tp + fp) : 0;
    const double recall = tp + fn > 0 ? double(tp) / double(tp + fn) : 0;
    const double f = precision + recall > 0 ? 2 * precision * recall / (precision + recall) : 0;
    std::printf("Corvane on a synthetic %dx%d scene, %d frames (first %d for learning)\n",
                scene.H, scene.W, frames, warmUp);
    std::printf("  square found: precision %.3f  recall %.3f  F-measure %.3f\n", precision,
                recall, f);
    std::printf("  pixels scored: %llu (tp %llu, fp %llu, fn %llu, tn %llu)\n",
                static_cast<unsigned long long>(tp + fp + fn + tn),
                static_cast<unsigned long long>(tp), static_cast<unsigned long long>(fp),
                static_cast<unsigned long long>(fn), static_cast<unsigned long long>(tn));
    std::printf("  update time: %.3f ms per frame\n", 1000.0 * seconds / frames);
    return 0;
}
