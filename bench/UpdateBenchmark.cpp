// Milliseconds per frame of the model update on synthetic scenes of H x W
// pixels with a side x side map (K = side^2 neurons per pixel):
//
//   SideBySide          on four copies of one model, frame by frame in turn
//                       (the order rotating), so all see the same machine
//                       load: the four-pass reference (UpdateModelReference,
//                       one thread), UpdateModel on one thread and on every
//                       hardware thread, and UpdateModelInto on every
//                       hardware thread (the out-of-place update a MATLAB
//                       struct call runs, into a second model in turn).
//                       Reports the median wall time per frame of each, and
//                       the time the log and exp calls alone take, on one
//                       thread (the floor under any single-threaded update)
//   Paths               each vector path (scalar, SSE2, AVX2, AVX-512) on one
//                       thread and the pixel-by-pixel kernels the update had
//                       before, in turn on copies of one model; thread CPU
//                       time; every copy must end with the same bits
//   SweepPhases         UpdateModel on one thread with each of its four column
//                       steps timed (thread CPU time), with the vector
//                       kernels (vector:1) or the pixel-by-pixel ones
//                       (vector:0), and the log and exp calls alone
//   Reference           the four-pass update alone
//   ReferencePhases     the same, with each phase timed on its own
//   Project             UpdateModel on one thread alone
//   StartAndJoinThreads what starting and joining the update's threads costs
//                       per call, with nothing to do
//   WakeCrewThreads     the same for threads kept by a ThreadCrew (what a
//                       frame's RunTasks calls after the first pay)
//
// SideBySide measures wall time, since the threads' work is what it compares;
// the machine may be shared, so read its ratios, taken within one run, rather
// than its absolute times. The single-threaded benchmarks report CPU time of
// the benchmark thread (the "CPU" column, and every counter), which does not
// count the time other processes hold the core. Every iteration is the next
// frame of a scene with a moving square, on a model that has already learned
// a few frames. A table of the side-by-side figures is printed at the end.
//
//   corvane_bench [--small] [--perturb-reference] [benchmark flags...]
// --small runs tiny images only (a smoke run for the test suite). The program
// exits with status 1 when the updates disagree on any scene.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
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

#include "BenchTiming.h"
#include "internal/ModelPhases.h"
#include "ModelSetup.h"
#include "internal/PixelKernel.h"
#include "RoundedMath.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"
#include "internal/SweepColumns.h"
#include "WorkerThreads.h"

namespace corvane {
namespace {

// CPU time of the calling thread, in seconds. The machine may be shared:
// unlike wall time this does not count the time other processes hold the
// core, so the side-by-side comparison stays fair under load.
using bench::ThreadSeconds;

// Wall-clock time, in seconds.
double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
        if (!UpdateModel(target.View(), Frame(), Matrix(), StandardAllocator(), 1)) std::abort();
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
    double referenceMs = 0, oneThreadMs = 0, allThreadsMs = 0, intoMs = 0, logExpMs = 0;
    double pixelByPixelMs = 0;
    double pathMs[4] = {0, 0, 0, 0};  // Paths: one thread, by VectorPath
    double pathsPixelByPixelMs = 0;
    double pathsBeforeMs = 0;  // Paths: the fastest path's kernels before the fixed neuron counts
    int threads = 0;
};
std::map<std::tuple<int, int, int>, Summary>& Summaries() {
    static std::map<std::tuple<int, int, int>, Summary> summaries;
    return summaries;
}

// The log and exp calls every update must make and nothing else: one log and
// one exp per neuron, on the arguments the scene's competition gives them, in
// the same blocks and through the same correctly rounded block functions as
// the update. No single-threaded update can be faster than this.
struct LogExpCalls {
    std::vector<double> variance, exponent;
    std::vector<double> block = std::vector<double>(kernel::kScoreBlock);

    explicit LogExpCalls(const Scene& scene) {
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
                exponent[i] = (-2.756815599614018 - 1.5 * LogCorrectlyRounded(s)) - (0.5 * d2) / s;
            }
        }
    }

    // Into one block of results, as the competition's; a sum of the results
    // would cost about as much as the calls.
    void Run() {
        const std::int64_t count = static_cast<std::int64_t>(variance.size());
        for (std::int64_t i0 = 0; i0 < count; i0 += kernel::kScoreBlock) {
            const std::int64_t n = std::min<std::int64_t>(kernel::kScoreBlock, count - i0);
            LogCorrectlyRoundedBlock(variance.data() + i0, block.data(), n);
            benchmark::ClobberMemory();
            ExpCorrectlyRoundedBlock(exponent.data() + i0, block.data(), n);
            benchmark::ClobberMemory();
        }
    }
};

// Starting and joining one thread per hardware thread, with nothing to do:
// what every update on several threads pays twice on top of its work.
void StartAndJoinThreads(benchmark::State& state) {
    const int threads = HardwareThreads();
    for (auto _ : state) {
        const double start = WallSeconds();
        RunTasks(threads, [](void*, int) {}, nullptr);
        state.SetIterationTime(WallSeconds() - start);
    }
    state.counters["threads"] = threads;
}

// The same RunTasks inside a ThreadCrew, whose threads stay from one call to
// the next: waking and waiting for them.
void WakeCrewThreads(benchmark::State& state) {
    const int threads = HardwareThreads();
    const ThreadCrew crew;
    for (auto _ : state) {
        const double start = WallSeconds();
        RunTasks(threads, [](void*, int) {}, nullptr);
        state.SetIterationTime(WallSeconds() - start);
    }
    state.counters["threads"] = threads;
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

// The four updates on four copies of one model, frame by frame in turn, the
// order rotating every frame; all copies stay bit-identical, so all do the
// same work. Reports the median per frame of each (robust against another
// process taking the machine for a moment).
void SideBySide(benchmark::State& state) {
    Scene scene(Height(state), Width(state), Side(state));
    const int threads = HardwareThreads();
    OwnedModel reference = scene.model, oneThread = scene.model, allThreads = scene.model;
    OwnedModel into[2] = {scene.model, scene.model};
    OwnedModel pixelByPixel = scene.model;
    int intoSource = 0;
    LogExpCalls logExp(scene);
    std::vector<double> times[5], logExpTimes;
    int first = 0;
    for (auto _ : state) {
        const FrameImage frame = scene.Frame();
        const NeighborhoodMatrix matrix = scene.Matrix();
        const HostAllocator host = StandardAllocator();
        double total = 0;
        for (int turn = 0; turn < 5; ++turn) {
            const int which = (first + turn) % 5;
            const double start = WallSeconds();
            bool ok = false;
            switch (which) {
                case 0: ok = UpdateModelReference(reference.View(), frame, matrix, host); break;
                case 1: ok = UpdateModel(oneThread.View(), frame, matrix, host, 1); break;
                case 2: ok = UpdateModel(allThreads.View(), frame, matrix, host, threads); break;
                case 4:
                    ok = UpdateModelIntoWith(PixelByPixelKernels(), pixelByPixel.View(),
                                             UpdatedFieldsOf(pixelByPixel.View()), frame, matrix,
                                             host, 1);
                    break;
                default:
                    ok = UpdateModelInto(into[intoSource].View(),
                                         UpdatedFieldsOf(into[1 - intoSource].View()), frame,
                                         matrix, host, threads);
                    intoSource = 1 - intoSource;
                    break;
            }
            const double elapsed = WallSeconds() - start;
            if (!ok) std::abort();
            times[which].push_back(elapsed);
            total += elapsed;
        }
        const double start = ThreadSeconds();
        logExp.Run();
        logExpTimes.push_back(ThreadSeconds() - start);
        state.SetIterationTime(total);
        first = (first + 1) % 5;
        scene.Advance();
    }
    if (DisagreementCheck::perturb && !reference.Mu.empty()) reference.Mu[0] += 1.0;
    const OwnedModel& intoResult = into[intoSource];
    const OwnedModel* results[] = {&oneThread, &allThreads, &intoResult, &pixelByPixel};
    for (const OwnedModel* other : results) {
        if (other->Mu != reference.Mu || other->imMask != reference.imMask ||
            other->Cov != reference.Cov) {
            state.SkipWithError("the updates disagree");
            ++DisagreementCheck::found;  // and the program exits with status 1
            break;
        }
    }
    Summary& summary = Summaries()[{scene.H, scene.W, scene.K}];
    summary.referenceMs = 1000.0 * Median(times[0]);
    summary.oneThreadMs = 1000.0 * Median(times[1]);
    summary.allThreadsMs = 1000.0 * Median(times[2]);
    summary.intoMs = 1000.0 * Median(times[3]);
    summary.pixelByPixelMs = 1000.0 * Median(times[4]);
    summary.logExpMs = 1000.0 * Median(logExpTimes);
    summary.threads = threads;
    state.counters["reference_ms"] = summary.referenceMs;
    state.counters["one_thread_ms"] = summary.oneThreadMs;
    state.counters["all_threads_ms"] = summary.allThreadsMs;
    state.counters["into_ms"] = summary.intoMs;
    state.counters["pixel_by_pixel_ms"] = summary.pixelByPixelMs;
    state.counters["log_exp_ms"] = summary.logExpMs;
    state.counters["threads"] = threads;
}

// Every vector path this machine has, on one thread, on copies of one model
// frame by frame in turn (the order rotating), beside the pixel-by-pixel
// kernels the update had before: the median thread CPU time per frame, which
// other processes on a shared machine disturb less than wall time. Every
// copy must end with the scalar path's bits.
void Paths(benchmark::State& state) {
    Scene scene(Height(state), Width(state), Side(state));
    const VectorPath all[] = {VectorPath::Scalar, VectorPath::Sse2, VectorPath::Avx2,
                              VectorPath::Avx512};
    // -1: the pixel-by-pixel kernels; -2: the fastest path's kernels as they
    // were before the common neuron counts were fixed at compile time.
    std::vector<const ColumnKernels*> kernels{&PixelByPixelKernels(),
                                              BaselineColumnKernelsFor(FastestVectorPath())};
    std::vector<int> pathOf{-1, -2};
    for (VectorPath path : all)
        if (ColumnKernelsFor(path) != nullptr) {
            kernels.push_back(ColumnKernelsFor(path));
            pathOf.push_back(static_cast<int>(path));
        }
    const int count = static_cast<int>(kernels.size());
    std::vector<OwnedModel> models(static_cast<std::size_t>(count), scene.model);
    std::vector<std::vector<double>> times(static_cast<std::size_t>(count));
    int first = 0;
    for (auto _ : state) {
        const FrameImage frame = scene.Frame();
        const NeighborhoodMatrix matrix = scene.Matrix();
        double total = 0;
        for (int turn = 0; turn < count; ++turn) {
            const int which = (first + turn) % count;
            OwnedModel& m = models[static_cast<std::size_t>(which)];
            const double start = ThreadSeconds();
            if (!UpdateModelIntoWith(*kernels[static_cast<std::size_t>(which)], m.View(),
                                     UpdatedFieldsOf(m.View()), frame, matrix,
                                     StandardAllocator(), 1))
                std::abort();
            const double elapsed = ThreadSeconds() - start;
            times[static_cast<std::size_t>(which)].push_back(elapsed);
            total += elapsed;
        }
        state.SetIterationTime(total);
        first = (first + 1) % count;
        scene.Advance();
    }
    for (const OwnedModel& m : models) {
        if (m.Mu != models[1].Mu || m.Sigma2 != models[1].Sigma2 || m.imMask != models[1].imMask ||
            m.Cov != models[1].Cov || m.Pi != models[1].Pi || m.Var != models[1].Var ||
            m.NeuroWin != models[1].NeuroWin) {
            state.SkipWithError("the paths disagree");
            ++DisagreementCheck::found;
            break;
        }
    }
    Summary& summary = Summaries()[{scene.H, scene.W, scene.K}];
    for (int i = 0; i < count; ++i) {
        const double ms = 1000.0 * Median(times[static_cast<std::size_t>(i)]);
        if (pathOf[static_cast<std::size_t>(i)] == -1) {
            state.counters["pixel_by_pixel_ms"] = ms;
            summary.pathsPixelByPixelMs = ms;
        } else if (pathOf[static_cast<std::size_t>(i)] == -2) {
            state.counters["before_ms"] = ms;
            summary.pathsBeforeMs = ms;
        } else {
            const VectorPath path = static_cast<VectorPath>(pathOf[static_cast<std::size_t>(i)]);
            state.counters[std::string(VectorPathName(path)) + "_ms"] = ms;
            summary.pathMs[pathOf[static_cast<std::size_t>(i)]] = ms;
        }
    }
}

// The sweep's four column steps timed one by one (thread CPU time, one
// thread), with the fastest vector kernels (range 3 = 1) or the
// pixel-by-pixel ones (0): where an update's time goes. The competition's
// figure includes its log and exp calls, which log_exp_ms gives alone.
struct PhaseTimer {
    static inline const ColumnKernels* inner = nullptr;
    static inline double seconds[4] = {0, 0, 0, 0};

    static void Compete(const SweepArrays& s, std::int64_t column, double* raw) {
        const double start = ThreadSeconds();
        inner->compete(s, column, raw);
        seconds[0] += ThreadSeconds() - start;
    }
    static void Correlate(const SweepArrays& s, std::int64_t column, double* table) {
        const double start = ThreadSeconds();
        inner->correlate(s, column, table);
        seconds[1] += ThreadSeconds() - start;
    }
    static void Smooth(const SweepArrays& s, std::int64_t column, const SmoothInputs& in) {
        const double start = ThreadSeconds();
        inner->smooth(s, column, in);
        seconds[2] += ThreadSeconds() - start;
    }
    static void Adapt(const SweepArrays& s, std::int64_t column, kernel::Links slots) {
        const double start = ThreadSeconds();
        inner->adapt(s, column, slots);
        seconds[3] += ThreadSeconds() - start;
    }
};

void SweepPhases(benchmark::State& state) {
    Scene scene(Height(state), Width(state), Side(state));
    PhaseTimer::inner = state.range(3) != 0 ? ColumnKernelsFor(FastestVectorPath())
                                            : &PixelByPixelKernels();
    for (double& t : PhaseTimer::seconds) t = 0;
    const ColumnKernels timed{&PhaseTimer::Compete, &PhaseTimer::Correlate, &PhaseTimer::Smooth,
                              &PhaseTimer::Adapt, PhaseTimer::inner->path};
    LogExpCalls logExp(scene);
    double logExpSeconds = 0;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        if (!UpdateModelIntoWith(timed, scene.model.View(), UpdatedFieldsOf(scene.model.View()),
                                 scene.Frame(), scene.Matrix(), StandardAllocator(), 1))
            std::abort();
        const double elapsed = ThreadSeconds() - start;
        state.SetIterationTime(elapsed);
        const double logExpStart = ThreadSeconds();
        logExp.Run();
        logExpSeconds += ThreadSeconds() - logExpStart;
        scene.Advance();
    }
    const double perFrame = 1000.0 / static_cast<double>(state.iterations());
    state.counters["compete_ms"] = PhaseTimer::seconds[0] * perFrame;
    state.counters["correlate_ms"] = PhaseTimer::seconds[1] * perFrame;
    state.counters["smooth_ms"] = PhaseTimer::seconds[2] * perFrame;
    state.counters["adapt_ms"] = PhaseTimer::seconds[3] * perFrame;
    state.counters["log_exp_ms"] = logExpSeconds * perFrame;
    state.SetLabel(state.range(3) != 0 ? VectorPathName(PhaseTimer::inner->path)
                                       : "pixel by pixel");
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
                      {"Paths", Paths, true},
                      {"Reference", Reference, false},
                      {"ReferencePhases", ReferencePhases, true},
                      {"Project", Project, false}};
    for (const auto& b : benchmarks) {
        for (const auto& [H, W] : sizes) {
            for (int side : {3, 4}) {
                auto* registered = benchmark::RegisterBenchmark(b.name, b.function)
                                       ->Args({H, W, side})
                                       ->ArgNames({"H", "W", "side"})
                                       ->Unit(benchmark::kMillisecond);
                if (small)
                    registered->Iterations(3);
                else if (b.function == SideBySide || b.function == Paths)
                    registered->MinTime(4.0);  // enough frames for a steady median
                if (b.manualTime) registered->UseManualTime();
            }
        }
    }
    for (const auto& [H, W] : sizes) {
        for (int vector : {0, 1}) {
            auto* registered = benchmark::RegisterBenchmark("SweepPhases", SweepPhases)
                                   ->Args({H, W, 3, vector})
                                   ->ArgNames({"H", "W", "side", "vector"})
                                   ->Unit(benchmark::kMillisecond)
                                   ->UseManualTime();
            if (small) registered->Iterations(3);
        }
    }
    auto* threads = benchmark::RegisterBenchmark("StartAndJoinThreads", StartAndJoinThreads)
                        ->Unit(benchmark::kMicrosecond)
                        ->UseManualTime();
    if (small) threads->Iterations(3);
    auto* crew = benchmark::RegisterBenchmark("WakeCrewThreads", WakeCrewThreads)
                     ->Unit(benchmark::kMicrosecond)
                     ->UseManualTime();
    if (small) crew->Iterations(3);
}

void PrintSummary() {
    if (Summaries().empty()) return;
    const int threads = Summaries().begin()->second.threads;
    if (threads > 0) {
        std::printf("\n| image | K | reference ms | pixel by pixel, 1 thread ms | UpdateModel, 1 thread ms "
                    "| pixel by pixel / UpdateModel | UpdateModel, %d threads ms "
                    "| %d threads / 1 thread | out of place, %d threads ms | reference / 1 thread "
                    "| log + exp alone ms |\n",
                    threads, threads, threads);
        std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
        for (const auto& [key, s] : Summaries()) {
            const auto& [H, W, K] = key;
            if (s.threads == 0) continue;
            const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
            std::printf("| %dx%d | %d | %.1f | %.1f | %.1f | %.2f | %.1f | %.2f | %.1f | %.2f | %.1f |\n",
                        W, H, K, s.referenceMs, s.pixelByPixelMs, s.oneThreadMs,
                        ratio(s.pixelByPixelMs, s.oneThreadMs), s.allThreadsMs,
                        ratio(s.allThreadsMs, s.oneThreadMs), s.intoMs,
                        ratio(s.referenceMs, s.oneThreadMs), s.logExpMs);
        }
    }
    bool anyPaths = false;
    for (const auto& entry : Summaries()) anyPaths = anyPaths || entry.second.pathsPixelByPixelMs > 0;
    if (!anyPaths) return;
    const VectorPath fastest = FastestVectorPath();
    std::printf("\nOne thread, each path (same bits checked; in brackets: pixel by pixel / path; "
                "before: the %s kernels before the fixed neuron counts, and before / %s):"
                "\n\n"
                "| image | K | pixel by pixel ms | before ms | scalar ms | SSE2 ms | AVX2 ms "
                "| AVX-512 ms |\n"
                "|---|---|---|---|---|---|---|---|\n",
                VectorPathName(fastest), VectorPathName(fastest));
    for (const auto& [key, s] : Summaries()) {
        const auto& [H, W, K] = key;
        if (s.pathsPixelByPixelMs <= 0) continue;
        const double now = s.pathMs[static_cast<int>(fastest)];
        std::printf("| %dx%d | %d | %.1f | %.1f (%.2f) |", W, H, K, s.pathsPixelByPixelMs,
                    s.pathsBeforeMs, now > 0 ? s.pathsBeforeMs / now : 0.0);
        for (double ms : s.pathMs) {
            if (ms > 0)
                std::printf(" %.1f (%.2f) |", ms, s.pathsPixelByPixelMs / ms);
            else
                std::printf(" - |");
        }
        std::printf("\n");
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
        std::fprintf(stderr, "corvane_bench: the updates disagreed in %d run(s)\n",
                     corvane::DisagreementCheck::found);
        return 1;
    }
    return 0;
}
