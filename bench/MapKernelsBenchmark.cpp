// The update's column kernels against the same kernels as they were before
// the common neuron counts were fixed at compile time, on a map of any shape
// (corvane_bench's Paths takes square maps only):
//
//   corvane_map_bench [ROWS COLUMNS [THREADS [FRAMES [H W]]]]
//
// defaults 2 3 1 40 480 640. Both run on copies of one model, frame by frame
// in turn (the order alternating), on the synthetic scene with a moving
// square; prints the median thread CPU time per frame of each (the calling
// thread's), their ratio, and exits with status 1 if the two copies do not
// end with the same bits.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "BenchTiming.h"
#include "ModelSetup.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"
#include "internal/Sweep.h"

namespace {

using corvane::bench::ThreadSeconds;

using corvane::bench::UpperMedian;

}  // namespace

int main(int argc, char** argv) {
    using namespace corvane;
    const auto arg = [&](int i, int fallback) { return argc > i ? std::atoi(argv[i]) : fallback; };
    ModelParameters parameters;
    parameters.mapRows = arg(1, 2);
    parameters.mapColumns = arg(2, 3);
    const int threads = arg(3, 1);
    const int frames = arg(4, 40);
    SyntheticScene scene;
    scene.H = arg(5, 480);
    scene.W = arg(6, 640);
    scene.squareSize = scene.H / 6 > 1 ? scene.H / 6 : 1;
    scene.noise = 3;
    if (parameters.mapRows < 1 || parameters.mapColumns < 1 || threads < 1 || frames < 2 ||
        scene.H < 1 || scene.W < 1) {
        std::fprintf(stderr, "usage: corvane_map_bench [ROWS COLUMNS [THREADS [FRAMES [H W]]]]\n");
        return 2;
    }
    std::vector<double> frame;
    scene.Render(0, frame, nullptr);
    const std::vector<double> matrix = BuildNeighborhoodMatrix(parameters);
    const NeighborhoodMatrix weights{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    OwnedModel models[2] = {BuildInitialModel(parameters, frame.data(), scene.H, scene.W),
                            OwnedModel()};
    models[1] = models[0];
    const ColumnKernels* kernels[2] = {ColumnKernelsFor(FastestVectorPath()),
                                       BaselineColumnKernelsFor(FastestVectorPath())};
    std::vector<double> times[2];
    for (int t = 0; t < frames; ++t) {
        scene.Render(t, frame, nullptr);
        const FrameImage image{frame.data(), static_cast<std::int64_t>(frame.size())};
        for (int turn = 0; turn < 2; ++turn) {
            const int which = (t + turn) % 2;
            OwnedModel& m = models[which];
            const double start = ThreadSeconds();
            if (!UpdateModelIntoWith(*kernels[which], m.View(), UpdatedFieldsOf(m.View()), image,
                                     weights, StandardAllocator(), threads))
                return 2;
            times[which].push_back(ThreadSeconds() - start);
        }
    }
    const double now = 1e3 * UpperMedian(times[0]), before = 1e3 * UpperMedian(times[1]);
    const bool same = models[0].Mu == models[1].Mu && models[0].Sigma2 == models[1].Sigma2 &&
                      models[0].imMask == models[1].imMask && models[0].Pi == models[1].Pi &&
                      models[0].Var == models[1].Var && models[0].Cov == models[1].Cov &&
                      models[0].NeuroWin == models[1].NeuroWin;
    std::printf("%d x %d, %d x %d map, %d thread(s), %s: kernels %.2f ms, before %.2f ms, "
                "kernels / before %.3f, same bits: %s\n",
                scene.H, scene.W, parameters.mapRows, parameters.mapColumns, threads,
                VectorPathName(FastestVectorPath()), now, before, now / before,
                same ? "yes" : "NO");
    return same ? 0 : 1;
}
