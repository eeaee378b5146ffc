// Runs the Linux build of the core over a few models and writes the inputs and
// the resulting models to a case file that the Windows test driver replays
// through Corvane.mexw64 / Corvane.mexw32 under Wine.
//
//   corvane_make_wine_cases OUTPUT
//
// Every value of every case must come back bit for bit: the core computes
// exp and log itself, correctly rounded, on every platform. Two kinds of case:
//  - exact: built so that no value the update stores depends on the last bits
//    of exp or log (these cases predate the core's own exp and log, and
//    still isolate the plain IEEE arithmetic). The prior is 0 or 1 everywhere, so the raw foreground
//    probability is 0 / (mean + 0) = 0 or f / (0 + f) = 1 whatever the
//    densities are; with StepSize 0 the prior stays 0 or 1 frame after frame.
//    The densities then only choose the winner, and the neurons are set far
//    enough apart that no winner is a near tie. Everything else (smoothing,
//    correlations through sqrt, adaptation) is IEEE arithmetic that must give
//    the same bits on every x86 target built with SSE2 and no contraction.
//  - video: a synthetic scene over many frames, where every stored value
//    passes through exp and log.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "CaseFile.h"
#include "ModelSetup.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"
#include "WineRandom.h"

namespace {

using corvane::wine::Case;
using corvane::wine::Field;

using corvane::wine::Random;

// Every field of the table, by its name.
std::vector<Field> FieldsOf(const corvane::OwnedModel& m) {
    std::vector<Field> fields;
    const corvane::BackgroundModel view = m.ReadView();
    for (const corvane::ModelField& field : corvane::kModelFields) {
        const corvane::DoubleView values = view.*field.view;
        fields.push_back({field.name, std::vector<double>(values.data, values.data + values.count)});
    }
    return fields;
}

// Runs the Linux core over the case's frames and records the result.
bool Finish(Case& c, corvane::OwnedModel& model, const std::vector<std::vector<double>>& frames,
            const std::vector<double>& matrix) {
    c.start = FieldsOf(model);
    c.frames = static_cast<std::uint32_t>(frames.size());
    c.matrix = matrix;
    for (const std::vector<double>& frame : frames) {
        c.video.insert(c.video.end(), frame.begin(), frame.end());
        const corvane::FrameImage image{frame.data(), static_cast<std::int64_t>(frame.size())};
        const corvane::NeighborhoodMatrix weights{matrix.data(),
                                                  static_cast<std::int64_t>(matrix.size())};
        if (!corvane::UpdateModel(model.View(), image, weights, corvane::StandardAllocator())) {
            std::fprintf(stderr, "case %s: the Linux core rejected the model\n", c.name.c_str());
            return false;
        }
    }
    c.expected = FieldsOf(model);
    return true;
}

// An exact case of H x W pixels and a mapRows x mapColumns map. Each pixel's
// neurons sit 40 colour units apart on a diagonal, every frame colour lies
// within 8 units of one of them, so the winner is clear by a wide margin while
// no density underflows to 0.
bool MakeExactCase(Case& c, std::uint64_t seed, std::int32_t H, std::int32_t W,
                   std::int32_t mapRows, std::int32_t mapColumns, double stepSize,
                   std::uint32_t frameCount, bool priorsBothWays) {
    Random random(seed);
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const std::int64_t K = static_cast<std::int64_t>(mapRows) * mapColumns;
    corvane::OwnedModel m;
    m.NumMapRows = mapRows;
    m.NumMapColumns = mapColumns;
    m.NumImageRows = H;
    m.NumImageColumns = W;
    m.MinimumVariance = 4.0;
    m.StepSize = stepSize;
    m.CurrentFrame = 7;
    m.Mu.resize(3 * K * N);
    m.Sigma2.resize(K * N);
    for (std::int64_t p = 0; p < N; ++p) {
        const double base = random.Uniform(20, 60);
        for (std::int64_t j = 0; j < K; ++j) {
            for (int ch = 0; ch < 3; ++ch)
                m.Mu[(p * K + j) * 3 + ch] = base + 40.0 * j + random.Uniform(-2, 2);
            m.Sigma2[p * K + j] = random.Uniform(20, 120);
        }
    }
    m.imMask.assign(N, 0.5);  // never read: overwritten by the update
    m.NeuroWin.assign(N, 3.0);
    m.Pi.resize(N);
    m.Var.resize(N);
    m.Cov.resize(4 * N);
    m.MaximumVariance.resize(N);
    for (std::int64_t p = 0; p < N; ++p) {
        m.Pi[p] = priorsBothWays && random.Next() % 3 == 0 ? 1.0 : 0.0;
        m.Var[p] = random.Uniform(0.05, 0.5);
        for (int s = 0; s < 4; ++s) m.Cov[4 * p + s] = random.Uniform(-0.04, 0.05);
        // A cap some neurons reach, so that clamping is compared too.
        m.MaximumVariance[p] = random.Uniform(60, 200);
    }
    corvane::ModelParameters parameters;
    parameters.mapRows = mapRows;
    parameters.mapColumns = mapColumns;
    parameters.learningRate = 0.3;
    const std::vector<double> matrix = corvane::BuildNeighborhoodMatrix(parameters);

    std::vector<std::vector<double>> frames(frameCount, std::vector<double>(3 * N));
    for (std::vector<double>& frame : frames) {
        for (std::int64_t p = 0; p < N; ++p) {
            const std::int64_t j = static_cast<std::int64_t>(random.Next() % K);
            for (int ch = 0; ch < 3; ++ch)
                frame[ch * N + p] = m.Mu[(p * K + j) * 3 + ch] + random.Uniform(-8, 8);
        }
    }
    c.exact = true;
    return Finish(c, m, frames, matrix);
}

// The synthetic scene through the default parameters, frame after frame.
bool MakeVideoCase(Case& c, std::int32_t H, std::int32_t W, std::uint32_t frameCount) {
    corvane::SyntheticScene scene;
    scene.H = H;
    scene.W = W;
    scene.squareSize = 6;
    corvane::SyntheticScene empty = scene;
    empty.squareSize = 0;
    std::vector<double> frame;
    empty.Render(0, frame, nullptr);
    const corvane::ModelParameters parameters;
    corvane::OwnedModel m = corvane::BuildInitialModel(parameters, frame.data(), H, W);
    std::vector<std::vector<double>> frames(frameCount);
    for (std::uint32_t t = 0; t < frameCount; ++t) scene.Render(static_cast<std::int32_t>(t), frames[t], nullptr);
    c.exact = true;
    return Finish(c, m, frames, corvane::BuildNeighborhoodMatrix(parameters));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::vector<Case> cases(6);
    cases[0].name = "exact 9x7, 2x2 map, 1 frame";
    cases[1].name = "exact 6x5, 2x3 map, 6 frames";
    cases[2].name = "exact 1x8, 1x2 map, 3 frames";
    cases[3].name = "exact 1x1, 1x1 map, 2 frames";
    cases[4].name = "video 24x32, 3x3 map, 40 frames";
    cases[5].name = "video 9x11, 3x3 map, 150 frames";
    // One frame with priors of 0 and 1 and a learning rate above 0: the new
    // priors are no longer 0 or 1, so only one frame keeps every value exact.
    const bool ok = MakeExactCase(cases[0], 1, 9, 7, 2, 2, 0.25, 1, true) &&
                    // StepSize 0 keeps the priors at 0 over many frames.
                    MakeExactCase(cases[1], 2, 6, 5, 2, 3, 0.0, 6, false) &&
                    MakeExactCase(cases[2], 3, 1, 8, 1, 2, 0.0, 3, false) &&
                    MakeExactCase(cases[3], 4, 1, 1, 1, 1, 0.0, 2, false) &&
                    MakeVideoCase(cases[4], 24, 32, 40) && MakeVideoCase(cases[5], 9, 11, 150);
    if (!ok || !corvane::wine::WriteCases(argv[1], cases)) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
