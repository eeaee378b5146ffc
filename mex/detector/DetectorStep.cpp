// CorvaneDetectorMex('step', id, frame): the frame checked (a first frame
// fixing the size), read into the model's layout, and segmented.
#include <cstddef>
#include <cstdint>
#include <string>

#include "DetectorMex.h"

namespace corvane::detector_mex {

// Checks a step's frame. A detector whose size no frame has fixed yet
// starts on this frame's, once the frame is known to be one it can take (NaN
// included), so that a refused first frame leaves it as it was and one that
// failed (out of memory) holds no size.
GatewayError CheckStepFrame(DetectorState& state, const FrameFacts& facts, int* channels) {
    try {
        if (state.detector.started() && state.detector.sizeFixed())
            return corvane::gateway::CheckFrame(facts, state.detector.rows(),
                                                state.detector.columns(), channels);
        std::int32_t H = 0, W = 0;
        GatewayError error = corvane::gateway::CheckFirstFrame(facts, &H, &W, channels);
        if (error.raised()) return error;
        const std::int64_t values = static_cast<std::int64_t>(*channels) * H * W;
        if (!corvane::gateway::SummariseFrame(facts.pixels, facts.data, values).finite)
            return corvane::gateway::NotFiniteError();
        return StartOn(state, H, W);
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

// Reads a checked frame of the detector's size into the doubles the update
// reads (the frame itself when it is a double colour frame); says whether it
// looks scaled to 0..1 and gives the warning's turn to the caller.
GatewayError ReadStepFrame(DetectorState& state, const FrameFacts& facts, int channels,
                           const double** image, bool* warnScaledToOne) {
    const std::int32_t H = state.detector.rows(), W = state.detector.columns();
    const corvane::gateway::FrameSummary summary = corvane::gateway::SummariseFrame(
        facts.pixels, facts.data, static_cast<std::int64_t>(channels) * H * W);
    if (!summary.finite) return corvane::gateway::NotFiniteError();
    if (summary.looksScaledToOne && !state.warnedFrameRange) {
        state.warnedFrameRange = true;
        *warnScaledToOne = true;
    }
    const bool inPlace = facts.pixels == corvane::gateway::PixelClass::Double && channels == 3;
    if (!inPlace)
        corvane::gateway::ReadModelFrame(facts.pixels, facts.data, H, W, channels,
                                         state.frame.data());
    *image = inPlace ? static_cast<const double*>(facts.data) : state.frame.data();
    return GatewayError{};
}

// Segments the frame read by ReadStepFrame into `mask` (logical) and
// `probability` (null when not asked for).
GatewayError Step(DetectorState& state, const double* image, mxLogical* mask,
                  double* probability, const std::uint8_t* keep) {
    try {
        const std::int64_t count =
            3 * static_cast<std::int64_t>(state.detector.rows()) * state.detector.columns();
        std::string reason;
        corvane::Detector::Learning learning;
        learning.keep = keep;
        if (!state.detector.Process(corvane::FrameImage{image, count}, state.mask.data(),
                                    probability, &reason, learning))
            return ProcessError(state.detector, reason);
        for (std::size_t p = 0; p < state.mask.size(); ++p) mask[p] = state.mask[p] != 0;
        return GatewayError{};
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

}  // namespace corvane::detector_mex
