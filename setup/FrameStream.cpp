#include "FrameStream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "UpdateModel.h"
#include "WorkerThreads.h"

namespace corvane {

namespace {

// The prior band over pixels [begin, end). The bounds are in locals: the loop
// then has no loads that its stores could change.
void KeepPriorInBandRange(const ModelParameters& parameters, double* pi, std::int64_t begin,
                          std::int64_t end) {
    const double low = parameters.priorFloor;
    const double high = parameters.priorCeiling;
    for (std::int64_t p = begin; p < end; ++p) {
        double v = pi[p];
        v = v < low ? low : v;
        v = v > high ? high : v;
        pi[p] = v;
    }
}

// What the flicker step reads and writes, and its constants.
struct FlickerInputs {
    const double* frame;
    const double* previousFrame;
    double* keptFrame;
    const double* startCap;
    double* flicker;
    double* maximumVariance;
    double* still;
    std::int64_t N;
    double up;         // 1 + flickerStep
    double capFactor;  // flickerCapFactor
    double floor;      // minimumVariance: the cap's offset and the still limit
    double limit;      // maximumVarianceLimit
};

FlickerInputs FlickerInputsOf(const ModelParameters& parameters, const double* frame,
                              const double* previousFrame, double* keptFrame,
                              const double* startCap, double* flicker, double* maximumVariance,
                              double* still, std::int64_t N) {
    return FlickerInputs{frame,
                         previousFrame,
                         keptFrame,
                         startCap,
                         flicker,
                         maximumVariance,
                         still,
                         N,
                         1 + parameters.flickerStep,
                         parameters.flickerCapFactor,
                         parameters.minimumVariance,
                         parameters.maximumVarianceLimit};
}

// One pixel's value, or kLanes pixels' in one vector (GCC's and Clang's
// vector extension: every operation is the IEEE operation on each lane).
template <class Value>
inline Value Splat(double x);
template <>
inline double Splat<double>(double x) { return x; }
template <class Value>
inline Value Load(const double* at);
template <>
inline double Load<double>(const double* at) { return *at; }
inline void Store(double* at, double v) { *at = v; }
inline double Select(bool condition, double yes, double no) { return condition ? yes : no; }

#if defined(__GNUC__)
#define CORVANE_HAS_LANES 1
constexpr int kLanes = 2;  // one SSE2 register, the baseline of x86-64
typedef double Lanes __attribute__((vector_size(8 * kLanes)));
template <>
inline Lanes Splat<Lanes>(double x) {
    Lanes v;
    for (int l = 0; l < kLanes; ++l) v[l] = x;
    return v;
}
template <>
inline Lanes Load<Lanes>(const double* at) {
    Lanes v;
    std::memcpy(&v, at, sizeof v);
    return v;
}
inline void Store(double* at, Lanes v) { std::memcpy(at, &v, sizeof v); }
template <class Mask>
inline Lanes Select(Mask condition, Lanes yes, Lanes no) { return condition ? yes : no; }
#endif

// The flicker step of one pixel p of an N-pixel image (see
// TrackFlickerRange), on doubles (one pixel) or on Lanes (pixels p, p + 1,
// ..., one per lane): the same operations on the same operands either way.
// Both steps of the running value are computed and the one that applies is
// selected: whether the change is above the running value is a coin toss on
// a steady pixel, and a branch on it would be mispredicted every other pixel.
template <bool kKeepFrame, bool kCount, class Value>
inline void FlickerStep(const FlickerInputs& in, std::int64_t p) {
    const Value up = Splat<Value>(in.up);
    const Value now0 = Load<Value>(in.frame + p);
    const Value now1 = Load<Value>(in.frame + in.N + p);
    const Value now2 = Load<Value>(in.frame + 2 * in.N + p);
    const Value d0 = now0 - Load<Value>(in.previousFrame + p);
    const Value d1 = now1 - Load<Value>(in.previousFrame + in.N + p);
    const Value d2 = now2 - Load<Value>(in.previousFrame + 2 * in.N + p);
    if (kKeepFrame) {
        Store(in.keptFrame + p, now0);
        Store(in.keptFrame + in.N + p, now1);
        Store(in.keptFrame + 2 * in.N + p, now2);
    }
    const Value change = (d0 * d0 + d1 * d1 + d2 * d2) / Splat<Value>(3.0);
    if (kCount) {
        const Value still = Load<Value>(in.still + p);
        Store(in.still + p, Select(change < Splat<Value>(in.floor), still + Splat<Value>(1.0),
                                   Splat<Value>(0.0)));
    }
    const Value q = Load<Value>(in.flicker + p);
    const Value raised = q * up;
    const Value lowered = q / up;
    const Value next = Select(change > q, raised, lowered);
    Store(in.flicker + p, next);
    Value cap = Splat<Value>(in.capFactor) * (next - Splat<Value>(in.floor));
    const Value limit = Splat<Value>(in.limit);
    cap = Select(cap > limit, limit, cap);
    const Value startCap = Load<Value>(in.startCap + p);
    cap = Select(cap < startCap, startCap, cap);
    Store(in.maximumVariance + p, cap);
}

// The flicker step over pixels [begin, end) of an N-pixel image. With
// kKeepFrame the previous frame's pixels are overwritten by this frame's as
// they are read (`keptFrame` is then `previousFrame`), which saves the
// stream a separate pass over both frames. With kCount the still counts
// (`still`) advance in the same pass, from the same change, as StillCounts
// advances them. Every value is computed by the same operations on the same
// operands as in TrackFlicker's description, pixel by pixel, so the bits do
// not depend on how the pixels are split nor on how many run at once.
template <bool kKeepFrame, bool kCount>
void TrackFlickerRange(const FlickerInputs& in, std::int64_t begin, std::int64_t end) {
    std::int64_t p = begin;
#if defined(CORVANE_HAS_LANES)
    for (; p + kLanes <= end; p += kLanes) FlickerStep<kKeepFrame, kCount, Lanes>(in, p);
#endif
    for (; p < end; ++p) FlickerStep<kKeepFrame, kCount, double>(in, p);
}

// The still counts of pixels [begin, end) after `frame`: one more where the
// change since `previous` is below minimumVariance, 0 elsewhere.
void StillCounts(const ModelParameters& parameters, const double* frame, const double* previous,
                 const double* still, double* next, std::int64_t N, std::int64_t begin,
                 std::int64_t end) {
    const double limit = parameters.minimumVariance;
    for (std::int64_t p = begin; p < end; ++p) {
        const double d0 = frame[p] - previous[p];
        const double d1 = frame[N + p] - previous[N + p];
        const double d2 = frame[2 * N + p] - previous[2 * N + p];
        const double change = (d0 * d0 + d1 * d1 + d2 * d2) / 3;
        next[p] = change < limit ? still[p] + 1 : 0;
    }
}

// Pixels per task below which PrepareFrame's per-pixel work stays on the
// calling thread: a thread's start costs about as much as this many pixels.
constexpr std::int64_t kPixelsPerTask = 1 << 15;

// The per-pixel part of PrepareFrame for pixels [begin, end): the prior
// band, the flicker step (when `flicker`) and the previous frame replaced by
// this one.
struct PixelStep {
    const ModelParameters* parameters;
    StreamState* state;
    OwnedModel* model;
    const double* frame;
    std::int64_t N;
    bool flicker;
    // Still counts are kept from the second frame on.
    bool counting;
    int tasks;

    void Run(std::int64_t begin, std::int64_t end) const {
        const std::int64_t priors = static_cast<std::int64_t>(model->Pi.size());
        KeepPriorInBandRange(*parameters, model->Pi.data(), std::min(begin, priors),
                             std::min(end, priors));
        double* previous = state->previousFrame.data();
        if (flicker) {
            const FlickerInputs in = FlickerInputsOf(*parameters, frame, previous, previous,
                                                     state->startCap.data(), state->flicker.data(),
                                                     model->MaximumVariance.data(),
                                                     state->still.data(), N);
            if (counting)
                TrackFlickerRange<true, true>(in, begin, end);
            else
                TrackFlickerRange<true, false>(in, begin, end);
            return;
        }
        if (counting) StillRange(begin, end);
        for (int c = 0; c < 3; ++c)
            std::copy(frame + c * N + begin, frame + c * N + end, previous + c * N + begin);
    }

    void StillRange(std::int64_t begin, std::int64_t end) const {
        StillCounts(*parameters, frame, state->previousFrame.data(), state->still.data(),
                    state->still.data(), N, begin, end);
    }

    static void Task(void* context, int index) {
        const PixelStep& step = *static_cast<const PixelStep*>(context);
        const std::int64_t begin = step.N * index / step.tasks;
        const std::int64_t end = step.N * (index + 1) / step.tasks;
        step.Run(begin, end);
    }
};

}  // namespace

StreamFieldList StreamFields() {
    static const StreamField kFields[] = {
        {"FlickerVariance", 1, &StreamState::flicker},
        {"FlickerStartCap", 1, &StreamState::startCap},
        {"PreviousFrame", 3, &StreamState::previousFrame},
        {"StillFrames", 1, &StreamState::still},
        {"LastDecisions", 1, &StreamState::lastForeground},
        {"BlinkRate", 1, &StreamState::blink},
    };
    return StreamFieldList{kFields, sizeof kFields / sizeof kFields[0]};
}

void KeepPriorInBand(const ModelParameters& parameters, OwnedModel& model) {
    KeepPriorInBandRange(parameters, model.Pi.data(), 0,
                         static_cast<std::int64_t>(model.Pi.size()));
}

void TrackFlicker(const ModelParameters& parameters, const double* frame,
                  const double* previousFrame, const std::vector<double>& startCap,
                  std::vector<double>& flicker, OwnedModel& model) {
    const std::int64_t N = static_cast<std::int64_t>(flicker.size());
    // Not kept: the previous frame is only read.
    const FlickerInputs in =
        FlickerInputsOf(parameters, frame, previousFrame, nullptr, startCap.data(), flicker.data(),
                        model.MaximumVariance.data(), nullptr, N);
    TrackFlickerRange<false, false>(in, 0, N);
}

void NextStillCounts(const ModelParameters& parameters, const StreamState& state,
                     const double* frame, std::vector<double>& still) {
    const std::int64_t N = static_cast<std::int64_t>(state.still.size());
    still.resize(state.still.size());
    StillCounts(parameters, frame, state.previousFrame.data(), state.still.data(), still.data(), N,
                0, N);
}

std::int64_t PrepareFrame(const ModelParameters& parameters, StreamState& state,
                          OwnedModel& model, const double* frame, std::int32_t H,
                          std::int32_t W, int threads) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const std::size_t n = static_cast<std::size_t>(N);
    const std::int64_t t = state.frameNumber + 1;
    // Everything that needs memory is made first, into locals, so that a
    // frame that runs out of it leaves `state` and `model` as they were; the
    // changes that follow cannot fail.
    const bool first = t == 1;
    std::vector<double> flicker, still, blink, lastForeground, startCap, previousFrame;
    if (first) flicker.assign(n, parameters.minimumVariance);
    // (A stream restored past its first frame has no count yet either.)
    const bool newStill = state.still.size() != n;
    if (newStill) still.assign(n, 0.0);
    const bool newBlink = state.blink.size() != n;
    if (newBlink) {
        blink.assign(n, 0.0);
        lastForeground.assign(n, 0.0);
    }
    const bool capFromModel = first && !state.startFromFrames;
    if (capFromModel) startCap = model.MaximumVariance;
    const bool starting = state.startFromFrames && t <= parameters.initialFrames;
    std::vector<double> kept;
    OwnedModel built;
    if (starting) {
        kept.assign(frame, frame + 3 * N);
        // Room for this frame among the kept ones: only the capacity changes.
        state.leadingFrames.reserve(state.leadingFrames.size() + 1);
        std::vector<const double*> frames;
        frames.reserve(state.leadingFrames.size() + 1);
        for (const auto& f : state.leadingFrames) frames.push_back(f.data());
        frames.push_back(kept.data());
        built = BuildInitialModelFromFrames(parameters, frames, H, W);
        built.CurrentFrame = static_cast<double>(t - 1);
        startCap = built.MaximumVariance;
    }
    if (first) previousFrame.assign(3 * n, 0.0);

    state.frameNumber = t;
    if (first) {
        state.H = H;
        state.W = W;
        state.flicker.swap(flicker);
        state.previousFrame.swap(previousFrame);
    }
    if (newStill) state.still.swap(still);
    if (newBlink) {
        state.blink.swap(blink);
        state.lastForeground.swap(lastForeground);
    }
    if (capFromModel || starting) state.startCap.swap(startCap);
    if (starting) {
        state.leadingFrames.push_back(std::move(kept));
        model = std::move(built);
        if (t == parameters.initialFrames) std::vector<std::vector<double>>().swap(state.leadingFrames);
    }
    PixelStep step{&parameters, &state, &model, frame, N, parameters.flickerStep > 0 && t >= 2,
                   t >= 2, 1};
    if (threads < 1) threads = HardwareThreads();
    const std::int64_t most = std::max<std::int64_t>(1, N / kPixelsPerTask);
    step.tasks = static_cast<int>(std::min<std::int64_t>({threads, most, kMaxTasks}));
    if (step.tasks == 1)
        step.Run(0, N);
    else
        RunTasks(step.tasks, &PixelStep::Task, &step);
    return t;
}

}  // namespace corvane
