// libFuzzer target over long runs of valid models.
//
// The input builds a small model that meets every precondition of the update
// (sizes of at least 1, arrays of the right length, neuron variances and Var
// positive, Pi in [0, 1], StepSize in [0, 1], covariances no larger than the
// two variances allow, a neighbourhood matrix in [0, 1], MinimumVariance of 0
// or more, frames in 0..255) and a sequence of frames, each repeated up to a
// few hundred times so that slow decays get to play out. After every frame
// every value of the model must be finite and every prior positive; the first
// value that is not stops the run with its name, pixel and frame.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "ModelSetup.h"
#include "NeighborOffsets.h"
#include "UpdateModel.h"

namespace {

// Values that sit on the edges of each field's range, or anything in it.
double PickUnit(FuzzedDataProvider& in) {  // [0, 1]
    static const double kEdges[] = {0.0, 1.0, 0.5, 0.9999999999999999, 1e-300, 1e-12, 0.01,
                                    0.999999, 4.9406564584124654e-324, 0.001};
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    if (kind < 100) return kEdges[kind % 10];
    return in.ConsumeProbability<double>();
}

double PickPositive(FuzzedDataProvider& in, double scale) {  // (0, scale]
    static const double kEdges[] = {4.9406564584124654e-324, 1e-300, 1e-12, 1e-6, 1.0};
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    if (kind < 60) return kEdges[kind % 5] * (kind % 2 == 0 ? 1.0 : scale);
    const double u = in.ConsumeProbability<double>();
    return u > 0 ? u * scale : scale;
}

double PickColour(FuzzedDataProvider& in) {
    const std::uint8_t kind = in.ConsumeIntegral<std::uint8_t>();
    if (kind < 16) return kind % 2 == 0 ? 0.0 : 255.0;
    return in.ConsumeIntegralInRange<int>(0, 255) + (kind < 128 ? 0.0 : in.ConsumeProbability<double>());
}

void Report(const char* field, std::size_t element, double value, int frame) {
    std::fprintf(stderr, "%s[%zu] = %g after frame %d\n", field, element, value, frame);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::int32_t H = in.ConsumeIntegralInRange<std::int32_t>(1, 4);
    const std::int32_t W = in.ConsumeIntegralInRange<std::int32_t>(1, 4);
    const std::int32_t mapRows = in.ConsumeIntegralInRange<std::int32_t>(1, 3);
    const std::int32_t mapColumns = in.ConsumeIntegralInRange<std::int32_t>(1, 3);
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const std::int64_t K = static_cast<std::int64_t>(mapRows) * mapColumns;

    corvane::OwnedModel model;
    model.NumImageRows = H;
    model.NumImageColumns = W;
    model.NumMapRows = mapRows;
    model.NumMapColumns = mapColumns;
    model.StepSize = PickUnit(in);
    model.MinimumVariance = in.ConsumeBool() ? 0.0 : PickPositive(in, 100);
    model.CurrentFrame = 0;
    model.Mu.resize(3 * K * N);
    for (double& v : model.Mu) v = PickColour(in);
    model.Sigma2.resize(K * N);
    for (double& v : model.Sigma2) v = PickPositive(in, 1000);
    model.MaximumVariance.resize(N);
    for (double& v : model.MaximumVariance) v = PickPositive(in, 1000);
    model.Pi.resize(N);
    for (double& v : model.Pi) v = PickUnit(in);
    model.Var.resize(N);
    for (double& v : model.Var) v = PickPositive(in, 1);
    model.imMask.assign(N, 0.0);
    model.NeuroWin.assign(N, 0.0);
    // A covariance of correlation rho in [-1, 1] with each existing backward
    // neighbour, 0 where there is none.
    model.Cov.assign(4 * N, 0.0);
    corvane::NeighborOffsets offsets;
    for (std::int32_t p = 0; p < N; ++p) {
        corvane::ComputeBackwardOffsets(offsets, p, H);
        for (int k = 0; k < 4; ++k) {
            if (offsets.slot[k] == 0) continue;
            const double rho = 2 * PickUnit(in) - 1;
            model.Cov[p * 4 + k] = rho * std::sqrt(model.Var[p]) * std::sqrt(model.Var[p + offsets.slot[k]]);
        }
    }
    std::vector<double> matrix(K * K);
    for (double& v : matrix) v = PickUnit(in);

    const corvane::BackgroundModel view = model.View();
    const corvane::NeighborhoodMatrix weights{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    std::vector<double> frame(3 * N);
    int frameNumber = 0;
    const int kMaxFrames = 4000;
    while (in.remaining_bytes() > 0 && frameNumber < kMaxFrames) {
        for (double& v : frame) v = PickColour(in);
        const std::uint8_t repeat = in.ConsumeIntegral<std::uint8_t>();
        const int times = repeat < 200 ? 1 + repeat % 8 : 50 * (repeat - 199);
        for (int r = 0; r < times && frameNumber < kMaxFrames; ++r) {
            ++frameNumber;
            const corvane::FrameImage image{frame.data(), static_cast<std::int64_t>(frame.size())};
            if (!corvane::UpdateModel(view, image, weights, corvane::StandardAllocator())) std::abort();
            // Every array the update writes.
            for (const corvane::ModelField& field : corvane::kModelFields) {
                if (!field.written || corvane::IsScalarField(field)) continue;
                const corvane::DoubleView values = view.*field.view;
                for (std::int64_t i = 0; i < values.count; ++i)
                    if (!std::isfinite(values.data[i]))
                        Report(field.name, static_cast<std::size_t>(i), values.data[i], frameNumber);
            }
            for (std::size_t i = 0; i < model.Pi.size(); ++i)
                if (!(model.Pi[i] > 0)) Report("Pi", i, model.Pi[i], frameNumber);
        }
    }
    return 0;
}
