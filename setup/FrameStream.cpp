#include "FrameStream.h"

#include <algorithm>

namespace corvane {

void KeepPriorInBand(const ModelParameters& parameters, OwnedModel& model) {
    const double low = parameters.priorFloor;
    const double high = parameters.priorCeiling;
    for (double& pi : model.Pi) {
        if (pi < low) pi = low;
        if (pi > high) pi = high;
    }
}

void TrackFlicker(const ModelParameters& parameters, const double* frame,
                  const double* previousFrame, const std::vector<double>& startCap,
                  std::vector<double>& flicker, OwnedModel& model) {
    const std::int64_t N = static_cast<std::int64_t>(flicker.size());
    const double up = 1 + parameters.flickerStep;
    for (std::int64_t p = 0; p < N; ++p) {
        const double d0 = frame[p] - previousFrame[p];
        const double d1 = frame[N + p] - previousFrame[N + p];
        const double d2 = frame[2 * N + p] - previousFrame[2 * N + p];
        const double change = (d0 * d0 + d1 * d1 + d2 * d2) / 3;
        double q = flicker[p];
        q = change > q ? q * up : q / up;
        flicker[p] = q;
        double cap = parameters.flickerCapFactor * (q - parameters.minimumVariance);
        if (cap > parameters.maximumVarianceLimit) cap = parameters.maximumVarianceLimit;
        if (cap < startCap[p]) cap = startCap[p];
        model.MaximumVariance[p] = cap;
    }
}

std::int64_t PrepareFrame(const ModelParameters& parameters, StreamState& state,
                          OwnedModel& model, const double* frame, std::int32_t H,
                          std::int32_t W) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const std::int64_t t = ++state.frameNumber;
    if (t == 1) {
        state.H = H;
        state.W = W;
        state.flicker.assign(static_cast<std::size_t>(N), parameters.minimumVariance);
    }
    if (t == 1 && !state.startFromFrames) state.startCap = model.MaximumVariance;
    if (state.startFromFrames && t <= parameters.initialFrames) {
        state.leadingFrames.emplace_back(frame, frame + 3 * N);
        std::vector<const double*> frames;
        for (const auto& f : state.leadingFrames) frames.push_back(f.data());
        model = BuildInitialModelFromFrames(parameters, frames, H, W);
        model.CurrentFrame = static_cast<double>(t - 1);
        state.startCap = model.MaximumVariance;
        if (t == parameters.initialFrames) {
            state.leadingFrames.clear();
            state.leadingFrames.shrink_to_fit();
        }
    }
    KeepPriorInBand(parameters, model);
    if (parameters.flickerStep > 0 && t >= 2)
        TrackFlicker(parameters, frame, state.previousFrame.data(), state.startCap, state.flicker,
                     model);
    state.previousFrame.assign(frame, frame + 3 * N);
    return t;
}

}  // namespace corvane
