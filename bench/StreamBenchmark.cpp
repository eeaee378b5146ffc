// Milliseconds per frame of segmenting a video frame by frame, side by side:
//
//   bare    UpdateModel and the mask (ThresholdMask), the model left alone
//           between frames: the per-frame work before the streaming start,
//           the prior band and the flicker tracking
//   stream  PrepareFrame (start, prior band, flicker tracking), UpdateModel and
//           the mask: what the corvane command does per frame now
//
// The two alternate frame by frame on the same scene so that both see the
// same machine load; each reports the median CPU time of its thread per
// frame, and `ratio` is stream / bare. Frames 1..initialFrames (the start,
// which builds the model anew) are run before timing begins.
//
//   corvane_stream_bench [--small] [benchmark flags...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

#include "BenchTiming.h"
#include "FrameStream.h"
#include "ModelSetup.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

namespace corvane {
namespace {

using bench::ThreadSeconds;

using bench::UpperMedian;

void SideBySide(benchmark::State& state) {
    SyntheticScene scene;
    scene.H = static_cast<std::int32_t>(state.range(0));
    scene.W = static_cast<std::int32_t>(state.range(1));
    scene.squareSize = scene.H / 5;
    const ModelParameters parameters;
    const std::int64_t N = static_cast<std::int64_t>(scene.H) * scene.W;
    std::vector<std::vector<double>> frames(16);
    for (std::size_t t = 0; t < frames.size(); ++t)
        scene.Render(static_cast<std::int32_t>(t), frames[t], nullptr);
    const std::vector<double> matrix = NeighborhoodMatrixForFrame(parameters, 100);
    const NeighborhoodMatrix weights{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(N));

    StreamState stream;
    OwnedModel streamed;
    std::int64_t t = 0;
    auto next = [&](std::int64_t i) -> const std::vector<double>& {
        return frames[static_cast<std::size_t>(i % static_cast<std::int64_t>(frames.size()))];
    };
    for (; t < parameters.initialFrames; ++t) {
        PrepareFrame(parameters, stream, streamed, next(t).data(), scene.H, scene.W);
        UpdateModel(streamed.View(), FrameImage{next(t).data(), 3 * N}, weights, StandardAllocator());
    }
    OwnedModel bare = streamed;
    std::vector<double> bareTimes, streamTimes;
    for (auto _ : state) {
        const std::vector<double>& frame = next(t++);
        const FrameImage image{frame.data(), 3 * N};
        double start = ThreadSeconds();
        UpdateModel(bare.View(), image, weights, StandardAllocator());
        ThresholdMask(parameters, bare.imMask.data(), scene.H, scene.W, mask.data());
        bareTimes.push_back(ThreadSeconds() - start);
        start = ThreadSeconds();
        PrepareFrame(parameters, stream, streamed, frame.data(), scene.H, scene.W);
        UpdateModel(streamed.View(), image, weights, StandardAllocator());
        ThresholdMask(parameters, streamed.imMask.data(), scene.H, scene.W, mask.data());
        streamTimes.push_back(ThreadSeconds() - start);
        benchmark::DoNotOptimize(mask.data());
    }
    const double bareMs = 1000 * UpperMedian(bareTimes), streamMs = 1000 * UpperMedian(streamTimes);
    state.counters["bare_ms"] = bareMs;
    state.counters["stream_ms"] = streamMs;
    state.counters["ratio"] = bareMs > 0 ? streamMs / bareMs : 0;
}

}  // namespace
}  // namespace corvane

int main(int argc, char** argv) {
    bool small = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0)
            small = true;
        else
            args.push_back(argv[i]);
    }
    auto* b = benchmark::RegisterBenchmark("SideBySide", corvane::SideBySide)
                  ->ArgNames({"H", "W"})
                  ->Unit(benchmark::kMillisecond);
    if (small)
        b->Args({12, 16})->Iterations(3);
    else
        b->Args({240, 320})->Args({480, 640})->Iterations(60);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
