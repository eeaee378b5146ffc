#include "MaskDecision.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "UpdateModel.h"
#include "WorkerThreads.h"

namespace corvane {

namespace {

// The job's steps are inlined into each instruction set's copy of the
// range (DecideRange).
#if defined(__GNUC__)
#define CORVANE_INLINE inline __attribute__((always_inline))
#else
#define CORVANE_INLINE inline
#endif

// Squared distance of the colour (x0, x1, x2) to a neuron's mean.
CORVANE_INLINE double Distance2(const double* mu, double x0, double x1, double x2) {
    const double d0 = mu[0] - x0, d1 = mu[1] - x1, d2 = mu[2] - x2;
    return d0 * d0 + d1 * d1 + d2 * d2;
}

struct DecideJob {
    const ModelParameters* parameters;
    const BackgroundModel* model;
    const double* frame;
    std::int64_t H, W, K;
    std::uint8_t* decision;
    const double* still;
    const double* blink;
    int tasks;

    // Whether some neuron of pixel q holds the colour: its squared distance
    // below neighborMatch times the neuron's effective variance. Every
    // neuron is tested, without stopping at the first that holds it: the
    // loop then has no exit to mispredict and runs on several neurons at
    // once.
    CORVANE_INLINE bool Holds(std::int64_t q, double x0, double x1, double x2) const {
        const double* mu = model->Mu.data + q * K * 3;
        const double* sigma2 = model->Sigma2.data + q * K;
        const double floor = model->MinimumVariance.data[0];
        const double match = parameters->neighborMatch;
        const double most = parameters->maximumVariance;
        // (A double, set by a select: the form the compiler vectorises on
        // every x86-64, SSE2 included.)
        double holding = 0;
        for (std::int64_t j = 0; j < K; ++j) {
            const double v = sigma2[j] < most ? sigma2[j] : most;
            holding = Distance2(mu + 3 * j, x0, x1, x2) < match * (v + floor) ? 1.0 : holding;
        }
        return holding != 0;
    }

    // kDecidedExplained when a neighbour below the threshold holds the
    // colour, else kDecidedShifted when one above it does, else 0.
    CORVANE_INLINE std::uint8_t ExplainedByNeighbor(std::int64_t p, double x0, double x1,
                                                    double x2) const {
        const std::int64_t radius = parameters->neighborRadius;
        const std::int64_t r = p % H, c = p / H;
        const std::int64_t r0 = std::max<std::int64_t>(r - radius, 0);
        const std::int64_t r1 = std::min<std::int64_t>(r + radius, H - 1);
        const std::int64_t c0 = std::max<std::int64_t>(c - radius, 0);
        const std::int64_t c1 = std::min<std::int64_t>(c + radius, W - 1);
        const double threshold = parameters->maskThreshold;
        const int needed = parameters->neighborCount;
        // A still pixel needs one neighbour below the threshold.
        const bool still = parameters->absorbFrames > 0 && this->still != nullptr &&
                           this->still[p] >= parameters->absorbFrames;
        const int required = still ? 1 : needed;
        // Neighbours not looked at yet; once they cannot make either count,
        // the answer is known.
        int left = static_cast<int>((r1 - r0 + 1) * (c1 - c0 + 1)) - 1;
        int background = 0, any = 0;
        for (std::int64_t cc = c0; cc <= c1; ++cc)
            for (std::int64_t rr = r0; rr <= r1; ++rr) {
                const std::int64_t q = cc * H + rr;
                if (q == p) continue;
                if (any + left < needed && background + left < required) return 0;
                --left;
                if (!Holds(q, x0, x1, x2)) continue;
                ++any;
                if (!(model->imMask.data[q] > threshold)) ++background;
                if (background >= required) return kDecidedExplained;
            }
        return any >= needed ? kDecidedShifted : 0;
    }

    // A darker copy of one of the pixel's neurons: the brightness ratio
    // alpha = (x . mu) / (mu . mu) in [shadowLow, shadowHigh] and the colour
    // off the line through mu by less than shadowDistortion times the
    // neuron's effective variance, scaled by alpha^2.
    CORVANE_INLINE bool Shadow(std::int64_t p, double x0, double x1, double x2) const {
        const double* mu = model->Mu.data + p * K * 3;
        const double* sigma2 = model->Sigma2.data + p * K;
        const double floor = model->MinimumVariance.data[0];
        const double low = parameters->shadowLow, high = parameters->shadowHigh;
        for (std::int64_t j = 0; j < K; ++j) {
            const double* m = mu + 3 * j;
            const double mm = m[0] * m[0] + m[1] * m[1] + m[2] * m[2];
            if (!(mm > 0)) continue;
            const double alpha = (x0 * m[0] + x1 * m[1] + x2 * m[2]) / mm;
            if (!(alpha >= low && alpha <= high)) continue;
            const double e0 = x0 - alpha * m[0], e1 = x1 - alpha * m[1], e2 = x2 - alpha * m[2];
            const double off = e0 * e0 + e1 * e1 + e2 * e2;
            if (off < parameters->shadowDistortion * (sigma2[j] + floor) * (alpha * alpha))
                return true;
        }
        return false;
    }

    CORVANE_INLINE void Run(std::int64_t begin, std::int64_t end) const {
        const std::int64_t N = H * W;
        const double base = parameters->maskThreshold;
        const double gain = parameters->blinkThreshold;
        const double* imMask = model->imMask.data;
        const bool neighbors = parameters->neighborRadius > 0;
        const bool shadows = parameters->shadows != 0;
        for (std::int64_t p = begin; p < end; ++p) {
            double threshold = base;
            if (blink != nullptr) {
                threshold = base + gain * blink[p];
                if (threshold > 1) threshold = 1;
            }
            if (!(imMask[p] > threshold)) {
                decision[p] = kDecidedBackground;
                continue;
            }
            const double x0 = frame[p], x1 = frame[N + p], x2 = frame[2 * N + p];
            const std::uint8_t explained = neighbors ? ExplainedByNeighbor(p, x0, x1, x2) : 0;
            if (explained != 0)
                decision[p] = explained;
            else if (shadows && Shadow(p, x0, x1, x2))
                decision[p] = kDecidedShadow;
            else
                decision[p] = kDecidedForeground;
        }
    }

    static void Task(void* context, int index);
};

// DecideJob::Run compiled for each of the widest instruction sets as well
// (on x86-64 Linux with GCC, chosen when first called by what the CPU
// has): the neurons' tests then take 4 or 8 at once instead of 2. A lane
// performs the same IEEE operations as a scalar register, so every choice
// gives the same decisions.
// Not under ThreadSanitizer: the clones' resolver runs while the program is
// loaded, before that runtime is ready, and crashes it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void DecideRange(const DecideJob& job, std::int64_t begin, std::int64_t end) {
    job.Run(begin, end);
}

void DecideJob::Task(void* context, int index) {
    const DecideJob& job = *static_cast<const DecideJob*>(context);
    const std::int64_t N = job.H * job.W;
    DecideRange(job, N * index / job.tasks, N * (index + 1) / job.tasks);
}

constexpr std::int64_t kPixelsPerTask = 1 << 15;

}  // namespace

void DecidePixels(const ModelParameters& parameters, const BackgroundModel& model,
                  const double* frame, std::int32_t H, std::int32_t W, std::uint8_t* decision,
                  const double* still, const double* blink, int threads) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const std::int64_t K = static_cast<std::int64_t>(parameters.mapRows) * parameters.mapColumns;
    DecideJob job{&parameters, &model, frame, H, W, K, decision, still, blink, 1};
    if (threads < 1) threads = HardwareThreads();
    const std::int64_t most = std::max<std::int64_t>(1, N / kPixelsPerTask);
    job.tasks = static_cast<int>(std::min<std::int64_t>({threads, most, kMaxTasks}));
    if (job.tasks == 1)
        DecideRange(job, 0, N);
    else
        RunTasks(job.tasks, &DecideJob::Task, &job);
}

void AbsorbExplained(const ModelParameters& parameters, OwnedModel& model, const double* frame,
                     const std::uint8_t* decision, const double* still,
                     std::int64_t frameNumber) {
    const std::int64_t N = static_cast<std::int64_t>(model.imMask.size());
    const std::int64_t K = static_cast<std::int64_t>(parameters.mapRows) * parameters.mapColumns;
    for (std::int64_t p = 0; p < N; ++p) {
        const double least = parameters.absorbFrames;
        const double share = parameters.staticShare * static_cast<double>(frameNumber);
        const bool explained = decision[p] == kDecidedExplained && still[p] >= least;
        const bool ghost = parameters.staticShare > 0 && decision[p] == kDecidedForeground &&
                           still[p] >= least && still[p] >= share;
        if (!explained && !ghost) continue;
        const double x0 = frame[p], x1 = frame[N + p], x2 = frame[2 * N + p];
        double* mu = model.Mu.data() + p * K * 3;
        std::int64_t farthest = 0;
        double most = -1;
        for (std::int64_t j = 0; j < K; ++j) {
            const double d2 = Distance2(mu + 3 * j, x0, x1, x2);
            if (d2 > most) {
                most = d2;
                farthest = j;
            }
        }
        mu[3 * farthest] = x0;
        mu[3 * farthest + 1] = x1;
        mu[3 * farthest + 2] = x2;
        const double cap = model.MaximumVariance[p];
        model.Sigma2[p * K + farthest] =
            parameters.initialVariance < cap ? parameters.initialVariance : cap;
    }
}

void FillHoles(std::uint8_t* mask, std::int32_t H, std::int32_t W, std::int64_t largest,
               MaskScratch& scratch) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    // Every pixel of a hole has foreground straight above, below, left and
    // right of it in the mask (a straight run of background from it to the
    // border would join it to the border). Only such candidates are walked
    // from: a region met through a pixel that is no candidate, or larger than
    // `largest`, is not a hole, and its pixels are marked so that no later
    // walk goes into it again.
    enum : std::int32_t { kOther = 0, kCandidate = 1, kWalked = 2, kNotHole = 3 };
    std::vector<std::int32_t>& state = scratch.component;
    std::vector<std::int64_t>& region = scratch.pending;
    state.resize(static_cast<std::size_t>(N));
    // Foreground above and below, column by column.
    for (std::int64_t c = 0; c < W; ++c) {
        const std::uint8_t* column = mask + c * H;
        std::int32_t* out = state.data() + c * H;
        bool seen = false;
        for (std::int64_t r = 0; r < H; ++r) {
            out[r] = column[r] == 0 && seen ? kCandidate : kOther;
            seen = seen || column[r] != 0;
        }
        seen = false;
        for (std::int64_t r = H - 1; r >= 0; --r) {
            if (!seen) out[r] = kOther;
            seen = seen || column[r] != 0;
        }
    }
    // ... and left and right, row by row (one flag per row, columns in turn).
    std::vector<std::int64_t>& seenLeft = region;
    seenLeft.assign(static_cast<std::size_t>(H), 0);
    for (std::int64_t c = 0; c < W; ++c)
        for (std::int64_t r = 0; r < H; ++r) {
            const std::int64_t p = c * H + r;
            if (!seenLeft[r]) state[p] = kOther;
            if (mask[p] != 0) seenLeft[r] = 1;
        }
    seenLeft.assign(static_cast<std::size_t>(H), 0);
    for (std::int64_t c = W - 1; c >= 0; --c)
        for (std::int64_t r = 0; r < H; ++r) {
            const std::int64_t p = c * H + r;
            if (!seenLeft[r]) state[p] = kOther;
            if (mask[p] != 0) seenLeft[r] = 1;
        }
    for (std::int64_t start = 0; start < N; ++start) {
        if (state[start] != kCandidate) continue;
        region.clear();
        region.push_back(start);
        state[start] = kWalked;
        bool hole = true;
        for (std::size_t i = 0; i < region.size() && hole; ++i) {
            const std::int64_t p = region[i];
            // A candidate is never on the border: all four neighbours exist.
            const std::int64_t next[4] = {p - 1, p + 1, p - H, p + H};
            for (std::int64_t q : next) {
                if (mask[q] != 0 || state[q] == kWalked) continue;
                if (state[q] != kCandidate) {
                    hole = false;
                    break;
                }
                state[q] = kWalked;
                region.push_back(q);
            }
            if (static_cast<std::int64_t>(region.size()) > largest) hole = false;
        }
        if (hole) {
            for (std::int64_t p : region) mask[p] = 255;
        } else {
            // The rest of this region stays candidates, but each walk into it
            // now stops at its first step.
            for (std::int64_t p : region) state[p] = kNotHole;
        }
    }
}

namespace {

// One pass of a closing along one axis: each pixel becomes the OR
// (dilation) or the AND (erosion) of the pixels of its window of half-width
// k inside the image. The mask's values are 0 and 255, so the bytes combine
// as they are, a whole run of them at a time.
inline void Combine(std::uint8_t* out, const std::uint8_t* in, std::int64_t count, bool every) {
    if (every)
        for (std::int64_t i = 0; i < count; ++i) out[i] &= in[i];
    else
        for (std::int64_t i = 0; i < count; ++i) out[i] |= in[i];
}

// Along each column (the rows of one column are contiguous).
void ClosingPassDown(const std::uint8_t* in, std::uint8_t* out, std::int64_t H, std::int64_t W,
                     std::int64_t k, bool every) {
    for (std::int64_t c = 0; c < W; ++c) {
        const std::uint8_t* s = in + c * H;
        std::uint8_t* d = out + c * H;
        std::copy(s, s + H, d);
        for (std::int64_t step = 1; step <= k && step < H; ++step) {
            Combine(d, s + step, H - step, every);
            Combine(d + step, s, H - step, every);
        }
    }
}

// Along each row: a column is combined with the whole columns beside it.
void ClosingPassAcross(const std::uint8_t* in, std::uint8_t* out, std::int64_t H, std::int64_t W,
                       std::int64_t k, bool every) {
    for (std::int64_t c = 0; c < W; ++c) {
        std::uint8_t* d = out + c * H;
        std::copy(in + c * H, in + (c + 1) * H, d);
        for (std::int64_t step = 1; step <= k; ++step) {
            if (c + step < W) Combine(d, in + (c + step) * H, H, every);
            if (c - step >= 0) Combine(d, in + (c - step) * H, H, every);
        }
    }
}

}  // namespace

void CloseMask(std::uint8_t* mask, std::int32_t H, std::int32_t W, std::int32_t size,
               MaskScratch& scratch) {
    const std::int64_t k = size / 2;
    if (k < 1 || H < 1 || W < 1) return;
    // Without ReserveMaskScratch first, the scratch is had here (the only
    // allocation; a detector reserves it when it starts).
    const std::size_t N = static_cast<std::size_t>(H) * static_cast<std::size_t>(W);
    if (scratch.closing.size() < N) scratch.closing.resize(N);
    std::uint8_t* between = scratch.closing.data();
    ClosingPassDown(mask, between, H, W, k, false);
    ClosingPassAcross(between, mask, H, W, k, false);
    ClosingPassDown(mask, between, H, W, k, true);
    ClosingPassAcross(between, mask, H, W, k, true);
}

void ReserveMaskScratch(const ModelParameters& parameters, std::int32_t H, std::int32_t W,
                        int threads, MaskScratch& scratch) {
    const std::size_t N = static_cast<std::size_t>(H) * static_cast<std::size_t>(W);
    // FillHoles keeps a state per pixel and a region of at most every pixel.
    scratch.component.resize(N);
    scratch.pending.reserve(N);
    if (parameters.closingSize > 1) scratch.closing.resize(N);
    const std::size_t median = MedianFilterScratch(parameters.medianSize, H, W, threads);
    if (scratch.median.size() < median) scratch.median.resize(median);
}

void FinishMask(const ModelParameters& parameters, const std::uint8_t* decision, std::int32_t H,
                std::int32_t W, std::uint8_t* mask, MaskScratch& scratch, int threads) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    MedianFilterMask(parameters.medianSize, decision, H, W, mask, threads, &scratch.median);
    if (parameters.closingSize > 1) CloseMask(mask, H, W, parameters.closingSize, scratch);
    if (parameters.holeShare > 0)
        FillHoles(mask, H, W,
                  static_cast<std::int64_t>(parameters.holeShare * static_cast<double>(N)),
                  scratch);
    if (parameters.shadows == 0 || parameters.shadowValue == 0) return;
    const auto value = static_cast<std::uint8_t>(parameters.shadowValue);
    for (std::int64_t p = 0; p < N; ++p)
        if (mask[p] == 0 && decision[p] == kDecidedShadow) mask[p] = value;
}

}  // namespace corvane

namespace corvane {

void TrackBlinking(const ModelParameters& parameters, const std::uint8_t* decision,
                   std::vector<double>& lastForeground, std::vector<double>& blink) {
    const std::size_t N = blink.size();
    const double rate = parameters.blinkRate;
    for (std::size_t p = 0; p < N; ++p) {
        // lastForeground holds the last two decisions, 2 * last + the one before.
        const double now = decision[p] == kDecidedForeground ? 1.0 : 0.0;
        const double history = lastForeground[p];
        const double last = history >= 2 ? 1.0 : 0.0;
        const double before = history - 2 * last;
        const double blip = (now != last && last != before) ? 1.0 : 0.0;
        blink[p] = blink[p] + rate * (blip - blink[p]);
        lastForeground[p] = 2 * now + last;
    }
}

}  // namespace corvane
