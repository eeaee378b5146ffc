// Milliseconds per frame, side by side in one run on a synthetic 640x480
// scene (K = 9 or 16), alternating frame by frame:
//
//   LogExpSideBySide  the model's log and exp calls alone: one log and one
//                     exp per neuron, on the arguments the competition gives
//                     them, in blocks of kScoreBlock neuron values as
//                     UpdateModel takes them; the C library's one call at a
//                     time, and the correctly rounded ones on each path
//                     (scalar, SSE2, AVX2 and AVX-512 where the CPU has them)
//   UpdateSideBySide  UpdateModel on one thread with the correctly rounded
//                     functions and with the C library's
//                     (UseCLibraryInBlocksForComparison), on two copies of
//                     the same model
//
//   RealArguments     with --arguments PREFIX: log and exp, each on its own,
//                     on the arguments in PREFIX.log.bin and PREFIX.exp.bin
//                     (bench/competition_arguments.py writes them from real
//                     frames), in blocks of kScoreBlock; the C library's and
//                     each path's, with the share of arguments the exact path
//                     took (which the synthetic scene's need about as often
//                     as real frames', but not the same ones).
//
// Times are CPU time of the benchmark thread; the fastest frame of each.
//
//   corvane_math_bench [--small] [--arguments PREFIX] [benchmark flags...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "ModelSetup.h"
#include "internal/PixelKernel.h"
#include "RoundedExact.h"
#include "RoundedMath.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

namespace corvane {
namespace {

using bench::ThreadSeconds;

// The fastest frame: on a shared (or virtual) machine, time the thread loses
// to others can still be counted as its own, so slower frames carry noise
// that the fastest one does not.
double Fastest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
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

// One frame's calls, in the blocks the competition makes, into a block of
// results as the competition's; nothing else is timed (a sum of the results
// would cost as much as the calls: one dependent addition per value).
constexpr std::size_t kBlock = static_cast<std::size_t>(kernel::kScoreBlock);

void LibraryFrame(const Arguments& a, double* out) {
    const std::size_t count = a.variance.size();
    for (std::size_t i0 = 0; i0 < count; i0 += kBlock) {
        const std::size_t n = std::min(kBlock, count - i0);
        for (std::size_t i = 0; i < n; ++i) out[i] = std::log(a.variance[i0 + i]);
        benchmark::ClobberMemory();
        for (std::size_t i = 0; i < n; ++i) out[i] = std::exp(a.exponent[i0 + i]);
        benchmark::ClobberMemory();
    }
}

void RoundedFrame(const Arguments& a, RoundedMathPath path, double* out) {
    const std::size_t count = a.variance.size();
    for (std::size_t i0 = 0; i0 < count; i0 += kBlock) {
        const std::int64_t n = static_cast<std::int64_t>(std::min(kBlock, count - i0));
        LogCorrectlyRoundedBlockWith(path, a.variance.data() + i0, out, n);
        benchmark::ClobberMemory();
        ExpCorrectlyRoundedBlockWith(path, a.exponent.data() + i0, out, n);
        benchmark::ClobberMemory();
    }
}

struct UpdateRow {
    int H, W, K;
    double libraryMs, roundedMs;
};
std::vector<UpdateRow>& UpdateRows() {
    static std::vector<UpdateRow> rows;
    return rows;
}

void UpdateSideBySide(benchmark::State& state) {
    const std::int32_t H = static_cast<std::int32_t>(state.range(0));
    const std::int32_t W = static_cast<std::int32_t>(state.range(1));
    const std::int32_t side = static_cast<std::int32_t>(state.range(2));
    SyntheticScene scene;
    scene.H = H;
    scene.W = W;
    scene.squareSize = H / 5 > 1 ? H / 5 : 1;
    SyntheticScene empty = scene;
    empty.squareSize = 0;
    std::vector<double> background;
    empty.Render(0, background, nullptr);
    ModelParameters parameters;
    parameters.mapRows = side;
    parameters.mapColumns = side;
    OwnedModel rounded = BuildInitialModel(parameters, background.data(), H, W);
    OwnedModel library = rounded;
    const std::vector<double> matrix = BuildNeighborhoodMatrix(parameters);
    const NeighborhoodMatrix weights{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    std::vector<std::vector<double>> frames(8);
    for (int t = 0; t < 8; ++t) scene.Render(t, frames[t], nullptr);
    std::vector<double> roundedTimes, libraryTimes;
    int t = 0;
    bool libraryFirst = false;
    for (auto _ : state) {
        const FrameImage frame{frames[t % 8].data(), static_cast<std::int64_t>(frames[t % 8].size())};
        double total = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool useLibrary = (turn == 0) == libraryFirst;
            UseCLibraryInBlocksForComparison(useLibrary);
            const double start = ThreadSeconds();
            // One thread: the thread's CPU time is then the whole update's.
            const bool ok = UpdateModel((useLibrary ? library : rounded).View(), frame, weights,
                                        StandardAllocator(), 1);
            const double elapsed = ThreadSeconds() - start;
            UseCLibraryInBlocksForComparison(false);
            if (!ok) std::abort();
            (useLibrary ? libraryTimes : roundedTimes).push_back(elapsed);
            total += elapsed;
        }
        state.SetIterationTime(total);
        libraryFirst = !libraryFirst;
        ++t;
    }
    UpdateRow row{H, W, side * side, 1000 * Fastest(libraryTimes), 1000 * Fastest(roundedTimes)};
    state.counters["library_ms"] = row.libraryMs;
    state.counters["rounded_ms"] = row.roundedMs;
    state.counters["speedup"] = row.roundedMs > 0 ? row.libraryMs / row.roundedMs : 0.0;
    // Google Benchmark may run a benchmark more than once while it sizes
    // the run; the last one counts.
    if (!UpdateRows().empty() && UpdateRows().back().K == row.K) UpdateRows().pop_back();
    UpdateRows().push_back(row);
}

struct Row {
    int H, W, K;
    double libraryMs;
    double roundedMs[4];
};
std::vector<Row>& Rows() {
    static std::vector<Row> rows;
    return rows;
}

void LogExpSideBySide(benchmark::State& state) {
    const Arguments a(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)),
                      static_cast<std::int32_t>(state.range(2)));
    const RoundedMathPath paths[4] = {RoundedMathPath::Scalar, RoundedMathPath::Sse2,
                                      RoundedMathPath::Avx2, RoundedMathPath::Avx512};
    std::vector<double> library, rounded[4];
    std::vector<double> out(kBlock);
    benchmark::DoNotOptimize(out.data());
    for (auto _ : state) {
        double start = ThreadSeconds();
        LibraryFrame(a, out.data());
        library.push_back(ThreadSeconds() - start);
        double total = library.back();
        for (int k = 0; k < 4; ++k) {
            if (!RoundedMathPathAvailable(paths[k])) continue;
            start = ThreadSeconds();
            RoundedFrame(a, paths[k], out.data());
            rounded[k].push_back(ThreadSeconds() - start);
            total += rounded[k].back();
        }
        state.SetIterationTime(total);
    }
    Row row{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
            static_cast<int>(a.K), 1000 * Fastest(library), {0, 0, 0, 0}};
    state.counters["library_ms"] = row.libraryMs;
    const char* names[4] = {"scalar_ms", "sse2_ms", "avx2_ms", "avx512_ms"};
    for (int k = 0; k < 4; ++k) {
        row.roundedMs[k] = 1000 * Fastest(rounded[k]);
        state.counters[names[k]] = row.roundedMs[k];
    }
    if (!Rows().empty() && Rows().back().K == row.K) Rows().pop_back();
    Rows().push_back(row);
}

// Little-endian doubles from a file (empty when it cannot be read).
std::vector<double> ReadDoubles(const std::string& path) {
    std::vector<double> values;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return values;
    double chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, sizeof(double), 4096, file)) > 0)
        values.insert(values.end(), chunk, chunk + n);
    std::fclose(file);
    return values;
}

struct RealRow {
    std::string function;
    std::size_t count;
    double libraryNs, roundedNs[4];
    double exactShare;
};
std::vector<RealRow>& RealRows() {
    static std::vector<RealRow> rows;
    return rows;
}

// isExp: exp of values, else log; ns per argument of each path, and the
// share of arguments that took the exact path.
void RealArguments(benchmark::State& state, std::vector<double> values, bool isExp) {
    const RoundedMathPath paths[4] = {RoundedMathPath::Scalar, RoundedMathPath::Sse2,
                                      RoundedMathPath::Avx2, RoundedMathPath::Avx512};
    std::vector<double> out(kBlock);
    benchmark::DoNotOptimize(out.data());
    std::vector<double> library, rounded[4];
    std::uint64_t exact = 0, evaluated = 0;
    const std::size_t count = values.size();
    for (auto _ : state) {
        double start = ThreadSeconds();
        for (std::size_t i0 = 0; i0 < count; i0 += kBlock) {
            const std::size_t n = std::min(kBlock, count - i0);
            for (std::size_t i = 0; i < n; ++i)
                out[i] = isExp ? std::exp(values[i0 + i]) : std::log(values[i0 + i]);
            benchmark::ClobberMemory();
        }
        library.push_back(ThreadSeconds() - start);
        double total = library.back();
        for (int k = 0; k < 4; ++k) {
            if (!RoundedMathPathAvailable(paths[k])) continue;
            const std::uint64_t before = rounded::ExactEvaluationCount();
            start = ThreadSeconds();
            for (std::size_t i0 = 0; i0 < count; i0 += kBlock) {
                const std::int64_t n = static_cast<std::int64_t>(std::min(kBlock, count - i0));
                (isExp ? ExpCorrectlyRoundedBlockWith : LogCorrectlyRoundedBlockWith)(
                    paths[k], values.data() + i0, out.data(), n);
                benchmark::ClobberMemory();
            }
            rounded[k].push_back(ThreadSeconds() - start);
            total += rounded[k].back();
            exact += rounded::ExactEvaluationCount() - before;
            evaluated += count;
        }
        state.SetIterationTime(total);
    }
    const double perArgument = count > 0 ? 1e9 / static_cast<double>(count) : 0;
    RealRow row{isExp ? "exp" : "log", count, perArgument * Fastest(library), {0, 0, 0, 0},
                evaluated > 0 ? static_cast<double>(exact) / static_cast<double>(evaluated) : 0};
    for (int k = 0; k < 4; ++k) row.roundedNs[k] = perArgument * Fastest(rounded[k]);
    state.counters["library_ns"] = row.libraryNs;
    state.counters["fastest_ns"] = row.roundedNs[3] > 0 ? row.roundedNs[3] : row.roundedNs[2];
    state.counters["exact_share"] = row.exactShare;
    if (!RealRows().empty() && RealRows().back().function == row.function) RealRows().pop_back();
    RealRows().push_back(row);
}

}  // namespace
}  // namespace corvane

int main(int argc, char** argv) {
    bool small = false;
    std::string arguments;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0) {
            small = true;
        } else if (std::strcmp(argv[i], "--arguments") == 0 && i + 1 < argc) {
            arguments = argv[++i];
        } else {
            args.push_back(argv[i]);
        }
    }
    for (int side : {3, 4}) {
        auto* u = benchmark::RegisterBenchmark("UpdateSideBySide", corvane::UpdateSideBySide)
                      ->Args({small ? 12 : 480, small ? 16 : 640, side})
                      ->ArgNames({"H", "W", "side"})
                      ->Unit(benchmark::kMillisecond)
                      ->UseManualTime();
        if (small) {
            u->Iterations(3);
        } else {
            u->MinTime(2.0);
        }
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
    if (!arguments.empty()) {
        for (bool isExp : {false, true}) {
            const std::string path = arguments + (isExp ? ".exp.bin" : ".log.bin");
            std::vector<double> values = corvane::ReadDoubles(path);
            if (values.empty()) {
                std::fprintf(stderr, "corvane_math_bench: no arguments in %s\n", path.c_str());
                return 2;
            }
            benchmark::RegisterBenchmark(isExp ? "RealArguments/exp" : "RealArguments/log",
                                         [values, isExp](benchmark::State& state) {
                                             corvane::RealArguments(state, values, isExp);
                                         })
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->MinTime(2.0);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n| image | K | UpdateModel, C library ms | UpdateModel, correctly rounded ms | speed-up |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const auto& r : corvane::UpdateRows()) {
        std::printf("| %dx%d | %d | %.1f | %.1f | %.2f |\n", r.W, r.H, r.K, r.libraryMs, r.roundedMs,
                    r.roundedMs > 0 ? r.libraryMs / r.roundedMs : 0.0);
    }
    std::printf("\n| image | K | log + exp, C library ms | scalar ms | SSE2 ms | AVX2 ms | AVX-512 ms "
                "| fastest / C library |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const auto& r : corvane::Rows()) {
        const double fastest = r.roundedMs[3] > 0 ? r.roundedMs[3] : r.roundedMs[2] > 0 ? r.roundedMs[2] : r.roundedMs[1];
        std::printf("| %dx%d | %d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", r.W, r.H, r.K,
                    r.libraryMs, r.roundedMs[0], r.roundedMs[1], r.roundedMs[2], r.roundedMs[3],
                    r.libraryMs > 0 ? fastest / r.libraryMs : 0.0);
    }
    if (!corvane::RealRows().empty()) {
        std::printf("\n| function | arguments | C library ns | scalar ns | SSE2 ns | AVX2 ns "
                    "| AVX-512 ns | fastest / C library | exact path |\n");
        std::printf("|---|---|---|---|---|---|---|---|---|\n");
        for (const auto& r : corvane::RealRows()) {
            const double fastest = r.roundedNs[3] > 0   ? r.roundedNs[3]
                                   : r.roundedNs[2] > 0 ? r.roundedNs[2]
                                                        : r.roundedNs[1];
            std::printf("| %s | %zu | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | 1 in %.0f |\n",
                        r.function.c_str(), r.count, r.libraryNs, r.roundedNs[0], r.roundedNs[1],
                        r.roundedNs[2], r.roundedNs[3],
                        r.libraryNs > 0 ? fastest / r.libraryNs : 0.0,
                        r.exactShare > 0 ? 1 / r.exactShare : 0.0);
        }
    }
    return 0;
}
