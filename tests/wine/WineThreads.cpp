// The Windows build of the core on several threads (the Win32 API), under
// Wine: UpdateModel and UpdateModelInto on 2, 3, 8 and 40 threads against
// one thread, bit for bit, on random models of awkward shapes (a single
// pixel, a row, a column, two rows, fewer columns than threads, bands of
// every width) over several frames; and the time one call takes to start and
// join its threads.
//
//   corvane_wine_threads.exe [ignored arguments]
//
// Prints one line per shape and, only when every check passed, the line
// "CORVANE WINE TEST PASSED: update threads, NN-bit".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ModelFields.h"
#include "UpdateModel.h"
#include "WorkerThreads.h"
#include "WineRandom.h"

namespace {

using corvane::BackgroundModel;
using corvane::DoubleView;

using corvane::wine::Random;

// A model that owns its arrays: one vector per field of the table (a scalar
// as one element), in the table's order.
struct Model {
    std::vector<double> fields[corvane::kModelFieldCount];

    std::vector<double>& Field(const char* name) { return fields[corvane::ModelFieldIndex(name)]; }

    BackgroundModel View() {
        BackgroundModel m;
        for (int i = 0; i < corvane::kModelFieldCount; ++i)
            m.*corvane::kModelFields[i].view =
                DoubleView{fields[i].data(), static_cast<std::int64_t>(fields[i].size())};
        return m;
    }
};

// A random model: neurons near the frame's colours or anywhere, priors of 0
// and 1 here and there, covariances of any sign.
Model RandomModel(int H, int W, int K, const std::vector<double>& frame, Random& random) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    Model m;
    m.Field("NumMapRows") = {1};
    m.Field("NumMapColumns") = {static_cast<double>(K)};
    m.Field("NumImageRows") = {static_cast<double>(H)};
    m.Field("NumImageColumns") = {static_cast<double>(W)};
    m.Field("MinimumVariance") = {random.Uniform(0, 30)};
    m.Field("StepSize") = {random.Uniform(0, 0.3)};
    m.Field("CurrentFrame") = {0};
    std::vector<double>& mu = m.Field("Mu");
    std::vector<double>& sigma2 = m.Field("Sigma2");
    for (std::int64_t p = 0; p < N; ++p) {
        for (int j = 0; j < K; ++j) {
            for (int ch = 0; ch < 3; ++ch)
                mu.push_back(random.Next() % 2 ? frame[ch * N + p] + random.Uniform(-20, 20)
                                               : random.Uniform(0, 255));
            sigma2.push_back(random.Uniform(0, 400));
        }
        const std::uint64_t pick = random.Next() % 10;
        m.Field("Pi").push_back(pick == 0 ? 0.0 : pick == 1 ? 1.0 : random.Uniform(0, 1));
        m.Field("Var").push_back(random.Uniform(0, 0.3));
        m.Field("MaximumVariance").push_back(random.Uniform(20, 600));
        for (int s = 0; s < 4; ++s) m.Field("Cov").push_back(random.Uniform(-0.3, 0.3));
    }
    m.Field("imMask").assign(static_cast<std::size_t>(N), 0.0);
    m.Field("NeuroWin").assign(static_cast<std::size_t>(N), 0.0);
    return m;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Every field of the table, bit for bit.
bool SameModel(const Model& a, const Model& b) {
    for (int i = 0; i < corvane::kModelFieldCount; ++i)
        if (!SameBits(a.fields[i], b.fields[i])) return false;
    return true;
}

int gChecks = 0;
int gFailures = 0;

void Check(bool ok, const char* what, int H, int W, int K, int threads, int frame) {
    ++gChecks;
    if (!ok) {
        ++gFailures;
        std::printf("FAILED: %s (H %d, W %d, K %d, %d threads, frame %d)\n", what, H, W, K,
                    threads, frame);
    }
}

// Four frames on `threads` threads, in place and out of place, against one
// thread in place.
void CheckShape(int H, int W, int K, std::uint64_t seed) {
    Random random(seed);
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    std::vector<double> frame(static_cast<std::size_t>(3 * N));
    for (double& x : frame) x = random.Uniform(0, 255);
    std::vector<double> matrix(static_cast<std::size_t>(K) * K);
    for (double& w : matrix) w = random.Uniform(0, 0.3);
    const Model start = RandomModel(H, W, K, frame, random);
    const corvane::NeighborhoodMatrix weights{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    const corvane::HostAllocator host = corvane::StandardAllocator();
    for (int threads : {2, 3, 8, 40}) {
        Model one = start, many = start, from = start, into = start;
        for (int t = 0; t < 4; ++t) {
            for (double& x : frame) x = random.Uniform(0, 255);
            const corvane::FrameImage image{frame.data(), static_cast<std::int64_t>(frame.size())};
            Check(corvane::UpdateModel(one.View(), image, weights, host, 1), "one thread ran", H,
                  W, K, threads, t);
            Check(corvane::UpdateModel(many.View(), image, weights, host, threads),
                  "threads ran", H, W, K, threads, t);
            Check(SameModel(one, many), "in place: the bits of one thread", H, W, K, threads, t);
            // Out of place, with the two models taking turns.
            Check(corvane::UpdateModelInto(from.View(), corvane::UpdatedFieldsOf(into.View()),
                                           image, weights, host, threads),
                  "out of place ran", H, W, K, threads, t);
            Check(SameModel(one, into), "out of place: the bits of one thread", H, W, K, threads,
                  t);
            std::swap(from, into);
        }
    }
    std::printf("H %d, W %d, K %d: checked\n", H, W, K);
}

}  // namespace

int main() {
    const int shapes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 7}, {3, 2}, {4, 13}, {5, 26}, {7, 41}};
    std::uint64_t seed = 1;
    for (const auto& shape : shapes)
        for (int K : {1, 9, 17}) CheckShape(shape[0], shape[1], K, seed++);

    // What starting and joining threads costs per call: an empty task on
    // every hardware thread.
    const int threads = corvane::HardwareThreads();
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const int calls = 200;
    for (int i = 0; i < calls; ++i) corvane::RunTasks(threads, [](void*, int) {}, nullptr);
    QueryPerformanceCounter(&stop);
    std::printf("starting and joining %d threads: %.1f microseconds per call\n", threads,
                1e6 * static_cast<double>(stop.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart) / calls);

    if (gFailures != 0) {
        std::printf("%d of %d checks failed\n", gFailures, gChecks);
        return 1;
    }
    std::printf("CORVANE WINE TEST PASSED: update threads, %d checks, %d-bit\n", gChecks,
                static_cast<int>(8 * sizeof(void*)));
    return 0;
}
