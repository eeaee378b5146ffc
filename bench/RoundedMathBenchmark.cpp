// Milliseconds per frame for the model's log and exp calls alone: one log
// and one exp per neuron, on the arguments the competition of a synthetic
// 640x480 scene gives them (K = 9 or 16), in blocks of up to 16 neurons as
// UpdateModel takes them. Side by side in one run, alternating frame by
// frame: the C library's exp and log one call at a time, and the correctly
// rounded ones on each path (scalar, SSE2, AVX2 where the CPU has it).
//
//   corvane_math_bench [--small] [benchmark flags...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ModelSetup.h"
#include "RoundedMath.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

namespace corvane {
namespace {

double ThreadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// The effective variances and exponents of every neuron of a scene's frame
// after the model has learned a few frames.
struct Arguments {
    std::int64_t K = 0;
    std::vector<double> variance, exponent;

    Arguments(std::int32_t H, std::int32_t W, std::int32_t side) : K(side * side) {
        SyntheticScene scene;
        scene.H = H;
        scene.W = W;
        scene.squareSize = H / 5 > 1 ? H / 5 : 1;
        SyntheticScene empty = scene;
        empty.squareSize = 0;
        std::vector<double> background, frame;
        empty.Render(0, background, nullptr);
        ModelParameters parameters;
        parameters.mapRows = side;
        parameters.mapColumns = side;
        OwnedModel model = BuildInitialModel(parameters, background.data(), H, W);
        const std::vector<double> matrix = BuildNeighborhoodMatrix(parameters);
        for (int t = 0; t < 4; ++t) {
            scene.Render(t, frame, nullptr);
            UpdateModel(model.View(), FrameImage{frame.data(), static_cast<std::int64_t>(frame.size())},
                        NeighborhoodMatrix{matrix.data(), static_cast<std::int64_t>(matrix.size())},
                        StandardAllocator());
        }
        scene.Render(4, frame, nullptr);
        const std::int64_t N = static_cast<std::int64_t>(H) * W;
        variance.resize(static_cast<std::size_t>(N * K));
        exponent.resize(variance.size());
        for (std::int64_t p = 0; p < N; ++p) {
            for (std::int64_t j = 0; j < K; ++j) {
                const std::size_t i = static_cast<std::size_t>(p * K + j);
                double d2 = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    const double t = model.Mu[i * 3 + ch] - frame[ch * N + p];
                    d2 = d2 + t * t;
                }
                const double s = model.Sigma2[i] + model.MinimumVariance;
                variance[i] = s;
                exponent[i] = (-2.756815599614018 - 1.5 * std::log(s)) - (0.5 * d2) / s;
            }
        }
    }
};

// One frame's calls, pixel by pixel in blocks of min(K, 16); returns a sum so
// that nothing is optimised away.
double LibraryFrame(const Arguments& a) {
    double sum = 0;
    const std::size_t count = a.variance.size();
    const std::size_t block = static_cast<std::size_t>(std::min<std::int64_t>(a.K, 16));
    double out[16];
    for (std::size_t i0 = 0; i0 < count; i0 += block) {
        const std::size_t n = std::min(block, count - i0);
        for (std::size_t i = 0; i < n; ++i) out[i] = std::log(a.variance[i0 + i]);
        for (std::size_t i = 0; i < n; ++i) sum = sum + out[i];
        for (std::size_t i = 0; i < n; ++i) out[i] = std::exp(a.exponent[i0 + i]);
        for (std::size_t i = 0; i < n; ++i) sum = sum + out[i];
    }
    return sum;
}

double RoundedFrame(const Arguments& a, RoundedMathPath path) {
    double sum = 0;
    const std::size_t count = a.variance.size();
    const std::size_t block = static_cast<std::size_t>(std::min<std::int64_t>(a.K, 16));
    double out[16];
    for (std::size_t i0 = 0; i0 < count; i0 += block) {
        const std::int64_t n = static_cast<std::int64_t>(std::min(block, count - i0));
        LogCorrectlyRoundedBlockWith(path, a.variance.data() + i0, out, n);
        for (std::int64_t i = 0; i < n; ++i) sum = sum + out[i];
        ExpCorrectlyRoundedBlockWith(path, a.exponent.data() + i0, out, n);
        for (std::int64_t i = 0; i < n; ++i) sum = sum + out[i];
    }
    return sum;
}

struct Row {
    int H, W, K;
    double libraryMs;
    double roundedMs[3];
};
std::vector<Row>& Rows() {
    static std::vector<Row> rows;
    return rows;
}

void LogExpSideBySide(benchmark::State& state) {
    const Arguments a(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)),
                      static_cast<std::int32_t>(state.range(2)));
    const RoundedMathPath paths[3] = {RoundedMathPath::Scalar, RoundedMathPath::Sse2,
                                      RoundedMathPath::Avx2};
    std::vector<double> library, rounded[3];
    double sink = 0;
    for (auto _ : state) {
        double start = ThreadSeconds();
        sink += LibraryFrame(a);
        library.push_back(ThreadSeconds() - start);
        double total = library.back();
        for (int k = 0; k < 3; ++k) {
            if (!RoundedMathPathAvailable(paths[k])) continue;
            start = ThreadSeconds();
            sink += RoundedFrame(a, paths[k]);
            rounded[k].push_back(ThreadSeconds() - start);
            total += rounded[k].back();
        }
        state.SetIterationTime(total);
    }
    benchmark::DoNotOptimize(sink);
    Row row{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
            static_cast<int>(a.K), 1000 * Median(library), {0, 0, 0}};
    state.counters["library_ms"] = row.libraryMs;
    const char* names[3] = {"scalar_ms", "sse2_ms", "avx2_ms"};
    for (int k = 0; k < 3; ++k) {
        row.roundedMs[k] = 1000 * Median(rounded[k]);
        state.counters[names[k]] = row.roundedMs[k];
    }
    Rows().push_back(row);
}

}  // namespace
}  // namespace corvane

int main(int argc, char** argv) {
    bool small = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0) {
            small = true;
        } else {
            args.push_back(argv[i]);
        }
    }
    for (int side : {3, 4}) {
        auto* b = benchmark::RegisterBenchmark("LogExpSideBySide", corvane::LogExpSideBySide)
                      ->Args({small ? 12 : 480, small ? 16 : 640, side})
                      ->ArgNames({"H", "W", "side"})
                      ->Unit(benchmark::kMillisecond)
                      ->UseManualTime();
        if (small) {
            b->Iterations(3);
        } else {
            b->MinTime(2.0);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n| image | K | C library ms | scalar ms | SSE2 ms | AVX2 ms | AVX2 / C library |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const auto& r : corvane::Rows()) {
        std::printf("| %dx%d | %d | %.2f | %.2f | %.2f | %.2f | %.2f |\n", r.W, r.H, r.K, r.libraryMs,
                    r.roundedMs[0], r.roundedMs[1], r.roundedMs[2],
                    r.libraryMs > 0 ? r.roundedMs[2] / r.libraryMs : 0.0);
    }
    return 0;
}
