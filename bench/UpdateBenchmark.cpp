// Milliseconds per frame of the model update on synthetic scenes of H x W
// pixels with a side x side map (K = side^2 neurons per pixel):
//
//   Reference           the four-pass update (UpdateModelReference)
//   ReferencePhases     the same, with each phase timed on its own
//   Project             UpdateModel, the one-pass update
//   DuplicateAndUpdate  what a MATLAB caller pays per frame: a deep copy of
//                       every field of the model, then UpdateModel on it
//   SideBySide          reference and project alternating frame by frame on two
//                       copies of the same model, so both see the same machine
//                       load; reports the median per frame of each and the
//                       ratio reference / project; each frame also times
//                       the log and exp calls alone (the floor under any
//                       update that keeps the C library's results)
//
// Times are CPU time of the benchmark thread (the "CPU" column, and every
// counter): the machine may be shared, and wall time would also count the
// time other processes hold the core. Every iteration is the next frame of a
// scene with a moving square, on a model that has already learned a few
// frames. A table of the side-by-side and duplicate figures is printed at the
// end.
//
//   corvane_bench [--small] [--perturb-reference] [benchmark flags...]
// --small runs tiny images only (a smoke run for the test suite). The program
// exits with status 1 when the two updates disagree on any scene.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ModelPhases.h"
#include "ModelSetup.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

namespace corvane {
namespace {

// CPU time of the calling thread, in seconds. The machine may be shared:
// unlike wall time this does not count the time other processes hold the
// core, so the side-by-side comparison stays fair under load.
double ThreadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

constexpr int kFrames = 8;        // distinct frames cycled through
constexpr int kLearnedFrames = 4; // frames the model has seen before timing starts

// A model of an H x W scene with a side x side map, the scene's frames and the
// neighbourhood matrix.
struct Scene {
    std::int32_t H, W, K;
    OwnedModel model;
    std::vector<std::vector<double>> frames;
    std::vector<double> matrix;
    int next = 0;

    Scene(std::int32_t h, std::int32_t w, std::int32_t side) : H(h), W(w), K(side * side) {
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
        model = BuildInitialModel(parameters, background.data(), H, W);
        matrix = BuildNeighborhoodMatrix(parameters);
        frames.resize(kFrames);
        for (int t = 0; t < kFrames; ++t) scene.Render(t, frames[t], nullptr);
        for (int t = 0; t < kLearnedFrames; ++t) Update(model);
    }

    FrameImage Frame() const {
        return FrameImage{frames[next].data(), static_cast<std::int64_t>(frames[next].size())};
    }
    NeighborhoodMatrix Matrix() const {
        return NeighborhoodMatrix{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    }
    void Advance() { next = (next + 1) % kFrames; }

    void Update(OwnedModel& target) {
        if (!UpdateModel(target.View(), Frame(), Matrix(), StandardAllocator())) std::abort();
        Advance();
    }
    void UpdateReference(OwnedModel& target) {
        if (!UpdateModelReference(target.View(), Frame(), Matrix(), StandardAllocator()))
            std::abort();
        Advance();
    }
};

std::int32_t Height(const benchmark::State& state) { return static_cast<std::int32_t>(state.range(0)); }
std::int32_t Width(const benchmark::State& state) { return static_cast<std::int32_t>(state.range(1)); }
std::int32_t Side(const benchmark::State& state) { return static_cast<std::int32_t>(state.range(2)); }

void SetPixels(benchmark::State& state, const Scene& scene) {
    state.counters["pixels"] = static_cast<double>(scene.H) * scene.W;
    state.counters["K"] = scene.K;
}

void Reference(benchmark::State& state) {
    Scene scene(Height(state), Width(state), Side(state));
    for (auto _ : state) scene.UpdateReference(scene.model);
    SetPixels(state, scene);
}

void Project(benchmark::State& state) {
    Scene scene(Height(state), Width(state), Side(state));
    for (auto _ : state) scene.Update(scene.model);
    SetPixels(state, scene);
}

// The four phases of the reference, each timed; the iteration time is their sum.
void ReferencePhases(benchmark::State& state) {
    Scene scene(Height(state), Width(state), Side(state));
    const BackgroundModel model = scene.model.View();
    const ModelSizes sizes{scene.H, scene.W, scene.H * scene.W, scene.K};
    NeighborOffsets offsets;
    std::vector<double> smoothed(static_cast<std::size_t>(sizes.N));
    std::vector<double> table(static_cast<std::size_t>(4) * sizes.N);
    double phase[4] = {0, 0, 0, 0};
    for (auto _ : state) {
        const FrameImage frame = scene.Frame();
        const NeighborhoodMatrix matrix = scene.Matrix();
        model.CurrentFrame.data[0] += 1.0;
        const double t0 = ThreadSeconds();
        CompeteNeurons(model, sizes, frame);
        const double t1 = ThreadSeconds();
        CorrelateNeighbors(model, sizes, offsets, table.data());
        const double t2 = ThreadSeconds();
        SmoothMask(model, sizes, offsets, table.data(), smoothed.data());
        const double t3 = ThreadSeconds();
        AdaptModel(model, sizes, offsets, frame, matrix);
        const double t4 = ThreadSeconds();
        phase[0] += t1 - t0;
        phase[1] += t2 - t1;
        phase[2] += t3 - t2;
        phase[3] += t4 - t3;
        state.SetIterationTime(t4 - t0);
        scene.Advance();
    }
    const double perFrame = 1000.0 / static_cast<double>(state.iterations());
    state.counters["compete_ms"] = phase[0] * perFrame;
    state.counters["correlate_ms"] = phase[1] * perFrame;
    state.counters["smooth_ms"] = phase[2] * perFrame;
    state.counters["adapt_ms"] = phase[3] * perFrame;
}

struct Summary {
    double referenceMs = 0, projectMs = 0, duplicateMs = 0, duplicateAndUpdateMs = 0;
    double libraryMs = 0;
};
std::map<std::tuple<int, int, int>, Summary>& Summaries() {
    static std::map<std::tuple<int, int, int>, Summary> summaries;
    return summaries;
}

// The C library calls every update must make and nothing else: one log and
// one exp per neuron, on the arguments the scene's competition gives them, in
// the same blocks of independent calls as UpdateModel. No update can be
// faster than this while it keeps the library's results.
struct LibraryCalls {
    std::vector<double> variance, exponent;
    double sink = 0;

    explicit LibraryCalls(const Scene& scene) {
        const std::int64_t N = static_cast<std::int64_t>(scene.H) * scene.W;
        const std::int64_t count = N * scene.K;
        variance.resize(static_cast<std::size_t>(count));
        exponent.resize(variance.size());
        const double floor = scene.model.MinimumVariance;
        const double* frame = scene.frames[0].data();
        for (std::int64_t p = 0; p < N; ++p) {
            for (std::int64_t j = 0; j < scene.K; ++j) {
                const std::size_t i = static_cast<std::size_t>(p * scene.K + j);
                const double* mu = &scene.model.Mu[i * 3];
                double d2 = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    const double t = mu[ch] - frame[ch * N + p];
                    d2 = d2 + t * t;
                }
                const double s = scene.model.Sigma2[i] + floor;
                variance[i] = s;
                exponent[i] = (-2.756815599614018 - 1.5 * std::log(s)) - (0.5 * d2) / s;
            }
        }
    }

    void Run() {
        const std::size_t count = variance.size();
        double sum = 0;
        for (std::size_t i0 = 0; i0 < count; i0 += 16) {
            const std::size_t n = std::min<std::size_t>(16, count - i0);
            double block[16];
            for (std::size_t i = 0; i < n; ++i) block[i] = std::log(variance[i0 + i]);
            for (std::size_t i = 0; i < n; ++i) sum = sum + block[i];
            for (std::size_t i = 0; i < n; ++i) block[i] = std::exp(exponent[i0 + i]);
            for (std::size_t i = 0; i < n; ++i) sum = sum + block[i];
        }
        sink = sink + sum;
        benchmark::DoNotOptimize(sink);
    }
};

// A MATLAB caller's frame: the gateway duplicates the model, the update runs
// on the copy, and the copy replaces the caller's model.
void DuplicateAndUpdate(benchmark::State& state) {
    Scene scene(Height(state), Width(state), Side(state));
    double copying = 0, total = 0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        auto copy = std::make_unique<OwnedModel>(scene.model);
        const double t1 = ThreadSeconds();
        scene.Update(*copy);
        const double t2 = ThreadSeconds();
        scene.model = std::move(*copy);
        copy.reset();
        const double t3 = ThreadSeconds();
        copying += (t1 - t0) + (t3 - t2);
        total += t3 - t0;
        state.SetIterationTime(t3 - t0);
    }
    const double perFrame = 1000.0 / static_cast<double>(state.iterations());
    state.counters["duplicate_ms"] = copying * perFrame;
    Summary& summary = Summaries()[{scene.H, scene.W, scene.K}];
    summary.duplicateMs = copying * perFrame;
    summary.duplicateAndUpdateMs = total * perFrame;
}

// Disagreements between the two updates found by SideBySide; any fails the
// run. `perturb` (--perturb-reference) alters the reference's copy before the
// comparison, so the test suite can check that a disagreement does fail it.
struct DisagreementCheck {
    static inline int found = 0;
    static inline bool perturb = false;
};

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Reference and project on two copies of one model, alternating which runs
// first; both copies stay bit-identical, so both do the same work. Reports the
// median per frame of each (robust against another process taking the
// machine for a moment) and their ratio.
void SideBySide(benchmark::State& state) {
    Scene scene(Height(state), Width(state), Side(state));
    OwnedModel other = scene.model;
    LibraryCalls library(scene);
    std::vector<double> reference, project, libraryOnly;
    bool referenceFirst = true;
    for (auto _ : state) {
        const FrameImage frame = scene.Frame();
        const NeighborhoodMatrix matrix = scene.Matrix();
        const HostAllocator host = StandardAllocator();
        double times[2];
        for (int turn = 0; turn < 2; ++turn) {
            const bool runReference = (turn == 0) == referenceFirst;
            const double start = ThreadSeconds();
            const bool ok = runReference
                                ? UpdateModelReference(other.View(), frame, matrix, host)
                                : UpdateModel(scene.model.View(), frame, matrix, host);
            times[runReference ? 0 : 1] = ThreadSeconds() - start;
            if (!ok) std::abort();
        }
        reference.push_back(times[0]);
        project.push_back(times[1]);
        const double start = ThreadSeconds();
        library.Run();
        libraryOnly.push_back(ThreadSeconds() - start);
        state.SetIterationTime(times[0] + times[1]);
        referenceFirst = !referenceFirst;
        scene.Advance();
    }
    if (DisagreementCheck::perturb && !other.Mu.empty()) other.Mu[0] += 1.0;
    if (other.Mu != scene.model.Mu || other.imMask != scene.model.imMask) {
        state.SkipWithError("the two updates disagree");
        ++DisagreementCheck::found;  // and the program exits with status 1
    }
    const double referenceMs = 1000.0 * Median(reference);
    const double projectMs = 1000.0 * Median(project);
    const double libraryMs = 1000.0 * Median(libraryOnly);
    state.counters["log_exp_ms"] = libraryMs;
    state.counters["reference_ms"] = referenceMs;
    state.counters["project_ms"] = projectMs;
    state.counters["ratio"] = projectMs > 0 ? referenceMs / projectMs : 0.0;
    Summary& summary = Summaries()[{scene.H, scene.W, scene.K}];
    summary.referenceMs = referenceMs;
    summary.projectMs = projectMs;
    summary.libraryMs = libraryMs;
}

void Register(bool small) {
    const std::vector<std::pair<int, int>> sizes =
        small ? std::vector<std::pair<int, int>>{{12, 16}}
              : std::vector<std::pair<int, int>>{{240, 320}, {480, 640}, {720, 1280}};
    const struct {
        const char* name;
        void (*function)(benchmark::State&);
        bool manualTime;
    } benchmarks[] = {{"SideBySide", SideBySide, true},
                      {"Reference", Reference, false},
                      {"ReferencePhases", ReferencePhases, true},
                      {"Project", Project, false},
                      {"DuplicateAndUpdate", DuplicateAndUpdate, true}};
    for (const auto& b : benchmarks) {
        for (const auto& [H, W] : sizes) {
            for (int side : {3, 4}) {
                auto* registered = benchmark::RegisterBenchmark(b.name, b.function)
                                       ->Args({H, W, side})
                                       ->ArgNames({"H", "W", "side"})
                                       ->Unit(benchmark::kMillisecond);
                if (small)
                    registered->Iterations(3);
                else if (b.function == SideBySide)
                    registered->MinTime(2.0);  // enough frames for a steady median
                if (b.manualTime) registered->UseManualTime();
            }
        }
    }
}

void PrintSummary() {
    if (Summaries().empty()) return;
    std::printf("\n| image | K | reference ms | project ms | ratio | duplicate + update ms "
                "| log + exp alone ms | reference / log + exp |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const auto& [key, s] : Summaries()) {
        const auto& [H, W, K] = key;
        std::printf("| %dx%d | %d | %.1f | %.1f | %.2f | %.1f | %.1f | %.2f |\n", W, H, K,
                    s.referenceMs, s.projectMs,
                    s.projectMs > 0 ? s.referenceMs / s.projectMs : 0.0, s.duplicateAndUpdateMs,
                    s.libraryMs, s.libraryMs > 0 ? s.referenceMs / s.libraryMs : 0.0);
    }
}

}  // namespace
}  // namespace corvane

int main(int argc, char** argv) {
    bool small = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0)
            small = true;
        else if (std::strcmp(argv[i], "--perturb-reference") == 0)
            corvane::DisagreementCheck::perturb = true;
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    corvane::Register(small);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    corvane::PrintSummary();
    if (corvane::DisagreementCheck::found > 0) {
        std::fprintf(stderr, "corvane_bench: the reference and UpdateModel disagreed in %d run(s)\n",
                     corvane::DisagreementCheck::found);
        return 1;
    }
    return 0;
}
