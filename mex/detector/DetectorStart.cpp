// CorvaneDetectorMex('new', start, options...): a detector with no start
// yet, one that learns from leading frames, or one that continues a model
// struct.
#include <cstddef>
#include <cstdint>
#include <string>

#include "DetectorMex.h"
#include "MxArrayFacts.h"

namespace corvane::detector_mex {

using corvane::gateway::ArrayFacts;
using corvane::gateway::kModelFieldCount;
using corvane::gateway::kModelFields;

namespace {

// Whether struct `s` has any field of a model (exact names): a parameter
// struct has none, since its names are spelt otherwise (stepSize, not
// StepSize), so a model with fields missing is still taken for a model.
bool HasModelField(const mxArray* s) {
    const int fields = mxGetNumberOfFields(s);
    for (int k = 0; k < fields; ++k)
        if (corvane::gateway::ModelFieldIndex(mxGetFieldNameByNumber(s, k)) >= 0) return true;
    return false;
}

// Sizes the buffers every frame of an H x W detector passes through.
void SizeBuffers(DetectorState& state) {
    const std::size_t pixels =
        static_cast<std::size_t>(state.detector.rows()) * state.detector.columns();
    state.frame.resize(3 * pixels);
    state.mask.resize(pixels);
}

// Starts `state` from a model struct: the same field checks as Corvane,
// then the detector's own (map shape, frame count).
GatewayError StartFromModel(const mxArray* model, corvane::gateway::DetectorSettings& settings,
                            std::unique_ptr<DetectorState>& state) {
    GatewayError error = corvane::gateway::CheckModelArgument(
        true, "struct", static_cast<std::int64_t>(mxGetNumberOfElements(model)));
    if (error.raised()) return error;
    corvane::BackgroundModel view;
    for (int i = 0; i < kModelFieldCount; ++i) {
        const ArrayFacts facts =
            corvane::gateway::MxArrayFacts(mxGetField(model, 0, kModelFields[i].name));
        error = corvane::gateway::CheckField(facts, i);
        if (error.raised()) return error;
        view.*kModelFields[i].view = corvane::gateway::ViewOf(facts);
    }
    // The frame and matrix come with every step; any size does for them here.
    static const double kAny = 0;
    const std::int64_t kAnyCount = INT64_MAX;
    corvane::ModelSizes sizes;
    error = corvane::gateway::CheckBoundModel(view, corvane::FrameImage{&kAny, kAnyCount},
                                              corvane::NeighborhoodMatrix{&kAny, kAnyCount}, &sizes);
    if (error.raised()) return error;
    // The map shape comes from the model unless the options say it.
    std::int32_t mapRows = 0, mapColumns = 0;
    corvane::TruncateSize(view.NumMapRows.data[0], &mapRows);
    corvane::TruncateSize(view.NumMapColumns.data[0], &mapColumns);
    std::vector<corvane::gateway::OptionPair> shape;
    if (!settings.mapRowsGiven) shape.push_back({"mapRows", {"double", true, false, 1, double(mapRows)}});
    if (!settings.mapColumnsGiven)
        shape.push_back({"mapColumns", {"double", true, false, 1, double(mapColumns)}});
    error = corvane::gateway::ApplyOptions(shape, &settings);
    if (error.raised()) return error;

    state.reset(new DetectorState(settings.parameters));
    std::string reason;
    if (!state->detector.StartFromModel(view, &reason))
        return MakeError("Corvane:badModel", "%s", reason.c_str());
    error = RestoreStreamFields(*state, model);
    if (error.raised()) return error;
    SizeBuffers(*state);
    return GatewayError{};
}


// Starts `state` on the frames' size and lets it learn from every frame of
// the stack, in order, as steps would (the masks are not kept).
GatewayError StartFromFrames(const mxArray* frames, std::unique_ptr<DetectorState>& state) {
    const FrameFacts facts = FrameFactsOf(frames);
    std::int32_t H = 0, W = 0;
    std::int64_t T = 0;
    int channels = 3;
    GatewayError error = corvane::gateway::CheckLeadingFrames(facts, &H, &W, &T, &channels);
    if (error.raised()) return error;
    error = StartOn(*state, H, W);
    if (error.raised()) return error;
    const std::int64_t values = static_cast<std::int64_t>(channels) * H * W;
    const std::int64_t bytes = values * corvane::gateway::PixelBytes(facts.pixels);
    const bool inPlace = facts.pixels == corvane::gateway::PixelClass::Double && channels == 3;
    for (std::int64_t t = 0; t < T; ++t) {
        const void* data = static_cast<const char*>(facts.data) + t * bytes;
        if (!inPlace)
            corvane::gateway::ReadModelFrame(facts.pixels, data, H, W, channels,
                                             state->frame.data());
        const corvane::FrameImage image{
            inPlace ? static_cast<const double*>(data) : state->frame.data(),
            3 * static_cast<std::int64_t>(H) * W};
        std::string reason;
        if (!state->detector.Process(image, state->mask.data(), nullptr, &reason))
            return ProcessError(state->detector, reason);
    }
    return GatewayError{};
}

}  // namespace

StartPlan PlanStart(int nrhs, const mxArray* const prhs[]) {
    StartPlan plan;
    if (nrhs < 2 || mxIsChar(prhs[1])) return plan;
    if (mxIsStruct(prhs[1])) {
        if (HasModelField(prhs[1])) plan = {StartKind::Model, 2};
        return plan;
    }
    plan.firstOption = 2;
    if (mxGetNumberOfElements(prhs[1]) > 0 || !mxIsNumeric(prhs[1])) plan.kind = StartKind::Frames;
    return plan;
}

// Starts `state` on H x W images.
GatewayError StartOn(DetectorState& state, std::int32_t H, std::int32_t W) {
    std::string reason;
    if (!state.detector.Start(H, W, &reason))
        return MakeError("Corvane:frameSize", "%s", reason.c_str());
    SizeBuffers(state);
    return GatewayError{};
}

// Everything about a 'new' call that can be said before a detector exists:
// the options, the leading frames' checks, and whether floating frames look
// scaled to 0..1 (the warning is given before the detector is made, so that
// a warning turned into an error leaves nothing behind).
GatewayError Prepare(int nrhs, const mxArray* const prhs[], const StartPlan& plan,
                     corvane::gateway::DetectorSettings* settings, bool* looksScaledToOne) {
    try {
        std::vector<corvane::gateway::OptionPair> pairs;
        GatewayError error = ReadOptions(nrhs - plan.firstOption, prhs + plan.firstOption, &pairs);
        if (error.raised()) return error;
        error = corvane::gateway::ApplyOptions(pairs, settings);
        if (error.raised() || plan.kind != StartKind::Frames) return error;
        const FrameFacts facts = FrameFactsOf(prhs[1]);
        std::int32_t H = 0, W = 0;
        std::int64_t T = 0;
        int channels = 3;
        error = corvane::gateway::CheckLeadingFrames(facts, &H, &W, &T, &channels);
        if (error.raised()) return error;
        const corvane::gateway::FrameSummary summary = corvane::gateway::SummariseFrame(
            facts.pixels, facts.data, static_cast<std::int64_t>(channels) * H * W * T);
        if (!summary.finite) return corvane::gateway::NotFiniteError();
        *looksScaledToOne = summary.looksScaledToOne;
        return GatewayError{};
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

GatewayError New(const mxArray* const prhs[], const StartPlan& plan,
                 corvane::gateway::DetectorSettings settings, bool warnedFrameRange,
                 std::uint64_t* id) {
    try {
        std::unique_ptr<DetectorState> state;
        GatewayError error;
        if (plan.kind == StartKind::Model) {
            error = StartFromModel(prhs[1], settings, state);
        } else {
            state.reset(new DetectorState(settings.parameters));
            if (plan.kind == StartKind::Frames) error = StartFromFrames(prhs[1], state);
        }
        if (error.raised()) return error;
        state->detector.SetThreads(settings.threads);
        state->warnedFrameRange = warnedFrameRange;
        *id = Registry().Add(std::move(state));
        if (*id == 0)
            return MakeError("Corvane:outOfMemory", "no detector id is left in this session");
        return GatewayError{};
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

}  // namespace corvane::detector_mex
