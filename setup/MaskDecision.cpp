#include "MaskDecision.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "UpdateModel.h"
#include "WorkerThreads.h"

namespace corvane {

namespace {

// Runs range(begin, end) over chunks of [0, N) claimed one at a time from
// `claimed`, until none is left. The decision and the absorbing spend their
// time on the pixels above the threshold, which gather where things move:
// tasks that take the next chunk as they finish share that work evenly,
// where fixed shares of the image would leave one thread with most of it.
// Each pixel's result depends on that pixel alone, so no split changes a bit.
constexpr std::int64_t kClaimedPixels = 4096;

template <class Range>
void ClaimChunks(std::atomic<std::int64_t>& claimed, std::int64_t N, Range range) {
    for (;;) {
        const std::int64_t begin = claimed.fetch_add(kClaimedPixels, std::memory_order_relaxed);
        if (begin >= N) return;
        range(begin, std::min(begin + kClaimedPixels, N));
    }
}

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

// TrackBlinking of one pixel whose decision is `d`: lastForeground holds
// its last two decisions, 2 * last + the one before.
CORVANE_INLINE void BlinkStep(double rate, std::uint8_t d, double* lastForeground, double* blink) {
    const double now = d == kDecidedForeground ? 1.0 : 0.0;
    const double history = *lastForeground;
    const double last = history >= 2 ? 1.0 : 0.0;
    const double before = history - 2 * last;
    const double blip = (now != last && last != before) ? 1.0 : 0.0;
    *blink = *blink + rate * (blip - *blink);
    *lastForeground = 2 * now + last;
}

struct DecideJob {
    const ModelParameters* parameters;
    const BackgroundModel* model;
    const double* frame;
    std::int64_t H, W, K;
    std::uint8_t* decision;
    const double* still;
    const double* blink;
    // When not null, the blink rates and the last decisions advance in the
    // same pass (TrackBlinking), each pixel's after its decision.
    double* trackedBlink;
    double* lastForeground;
    int tasks;
    // The next pixel no task has claimed (ClaimChunks).
    mutable std::atomic<std::int64_t> claimed{0};

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

    // Whether pixel p lies inside what is flagged (at most interiorGaps
    // pixels of its neighbours' window at or below maskThreshold, those
    // outside the image counted as such), blinks less than interiorBlink and
    // is not still: the neighbour test is then not made.
    CORVANE_INLINE bool Interior(std::int64_t p) const {
        const double calm = parameters->interiorBlink;
        if (!(calm > 0)) return false;
        if (blink != nullptr && !(blink[p] < calm)) return false;
        if (parameters->absorbFrames > 0 && still != nullptr && still[p] >= parameters->absorbFrames)
            return false;
        const std::int64_t radius = parameters->neighborRadius;
        const std::int64_t r = p % H, c = p / H;
        const std::int64_t r0 = std::max<std::int64_t>(r - radius, 0);
        const std::int64_t r1 = std::min<std::int64_t>(r + radius, H - 1);
        const std::int64_t c0 = std::max<std::int64_t>(c - radius, 0);
        const std::int64_t c1 = std::min<std::int64_t>(c + radius, W - 1);
        const double threshold = parameters->maskThreshold;
        const double* imMask = model->imMask.data;
        // Gaps allowed before the answer is no.
        std::int64_t gaps = (2 * radius + 1) * (2 * radius + 1) -
                            (r1 - r0 + 1) * (c1 - c0 + 1) - parameters->interiorGaps;
        if (gaps > 0) return false;
        for (std::int64_t cc = c0; cc <= c1; ++cc)
            for (std::int64_t rr = r0; rr <= r1; ++rr)
                if (!(imMask[cc * H + rr] > threshold) && ++gaps > 0) return false;
        return true;
    }

    CORVANE_INLINE void Run(std::int64_t begin, std::int64_t end) const {
        const std::int64_t N = H * W;
        const double base = parameters->maskThreshold;
        const double gain = parameters->blinkThreshold;
        const double* imMask = model->imMask.data;
        const bool neighbors = parameters->neighborRadius > 0;
        const bool shadows = parameters->shadows != 0;
        const double rate = parameters->blinkRate;
        for (std::int64_t p = begin; p < end; ++p) {
            double threshold = base;
            if (blink != nullptr) {
                threshold = base + gain * blink[p];
                if (threshold > 1) threshold = 1;
            }
            std::uint8_t d = kDecidedBackground;
            if (imMask[p] > threshold) {
                const double x0 = frame[p], x1 = frame[N + p], x2 = frame[2 * N + p];
                const std::uint8_t explained =
                    neighbors && !Interior(p) ? ExplainedByNeighbor(p, x0, x1, x2) : 0;
                if (explained != 0)
                    d = explained;
                else if (shadows && Shadow(p, x0, x1, x2))
                    d = kDecidedShadow;
                else
                    d = kDecidedForeground;
            }
            decision[p] = d;
            if (lastForeground != nullptr)
                BlinkStep(rate, d, lastForeground + p, trackedBlink + p);
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

void DecideJob::Task(void* context, int) {
    const DecideJob& job = *static_cast<const DecideJob*>(context);
    ClaimChunks(job.claimed, job.H * job.W,
                [&](std::int64_t begin, std::int64_t end) { DecideRange(job, begin, end); });
}

constexpr std::int64_t kPixelsPerTask = 1 << 15;

}  // namespace

void DecidePixels(const ModelParameters& parameters, const BackgroundModel& model,
                  const double* frame, std::int32_t H, std::int32_t W, std::uint8_t* decision,
                  const double* still, const double* blink, int threads,
                  const BlinkTracking* tracking) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const std::int64_t K = static_cast<std::int64_t>(parameters.mapRows) * parameters.mapColumns;
    DecideJob job{&parameters, &model, frame, H, W, K, decision, still, blink, nullptr, nullptr, 1};
    if (tracking != nullptr) {
        // The threshold reads the blink rate before the pixel's step
        // changes it.
        job.blink = tracking->blink;
        job.trackedBlink = tracking->blink;
        job.lastForeground = tracking->lastForeground;
    }
    if (threads < 1) threads = HardwareThreads();
    const std::int64_t most = std::max<std::int64_t>(1, N / kPixelsPerTask);
    job.tasks = static_cast<int>(std::min<std::int64_t>({threads, most, kMaxTasks}));
    if (job.tasks == 1)
        DecideRange(job, 0, N);
    else
        RunTasks(job.tasks, &DecideJob::Task, &job);
}

namespace {

// What pixels [begin, end) learn from their decisions: the blink rates
// (when `blink`) and the absorbing (when `still`). Each pixel reads and
// writes only its own values, so how the pixels are split cannot change a
// bit.
struct LearnJob {
    const ModelParameters* parameters;
    OwnedModel* model;
    const double* frame;
    const std::uint8_t* decision;
    const double* still;
    double* lastForeground;
    double* blink;
    std::int64_t frameNumber;
    std::int64_t N;
    int tasks;
    std::atomic<std::int64_t> claimed{0};  // ClaimChunks

    void Blink(std::int64_t begin, std::int64_t end) const {
        const double rate = parameters->blinkRate;
        for (std::int64_t p = begin; p < end; ++p)
            BlinkStep(rate, decision[p], lastForeground + p, blink + p);
    }

    void Absorb(std::int64_t begin, std::int64_t end) const {
        const std::int64_t K =
            static_cast<std::int64_t>(parameters->mapRows) * parameters->mapColumns;
        const double least = parameters->absorbFrames;
        const double share = parameters->staticShare * static_cast<double>(frameNumber);
        const bool ghosts = parameters->staticShare > 0;
        const double variance = parameters->initialVariance;
        double* const mus = model->Mu.data();
        double* const sigma2 = model->Sigma2.data();
        const double* const caps = model->MaximumVariance.data();
        for (std::int64_t p = begin; p < end; ++p) {
            // Most pixels are background: their decision byte sends them on
            // without a read of their still count.
            const std::uint8_t d = decision[p];
            if (d != kDecidedExplained && d != kDecidedForeground) continue;
            if (!(still[p] >= least)) continue;
            const bool explained = d == kDecidedExplained;
            const bool ghost = ghosts && d == kDecidedForeground && still[p] >= share;
            if (!explained && !ghost) continue;
            const double x0 = frame[p], x1 = frame[N + p], x2 = frame[2 * N + p];
            double* mu = mus + p * K * 3;
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
            const double cap = caps[p];
            sigma2[p * K + farthest] = variance < cap ? variance : cap;
        }
    }

    void Run(std::int64_t begin, std::int64_t end) const {
        if (blink != nullptr) Blink(begin, end);
        if (still != nullptr) Absorb(begin, end);
    }

    static void Task(void* context, int) {
        LearnJob& job = *static_cast<LearnJob*>(context);
        ClaimChunks(job.claimed, job.N,
                    [&](std::int64_t begin, std::int64_t end) { job.Run(begin, end); });
    }
};

// Pixels per task below which a pass over bytes or a few doubles per pixel
// stays on the calling thread (a thread's start costs some tens of
// microseconds).
constexpr std::int64_t kLightPixelsPerTask = 1 << 16;

int TasksFor(std::int64_t N, std::int64_t pixelsPerTask, int threads) {
    if (threads < 1) threads = HardwareThreads();
    const std::int64_t most = std::max<std::int64_t>(1, N / pixelsPerTask);
    return static_cast<int>(std::min<std::int64_t>({threads, most, kMaxTasks}));
}

void RunLearnJob(LearnJob& job, int threads) {
    job.tasks = TasksFor(job.N, kLightPixelsPerTask, threads);
    if (job.tasks == 1)
        job.Run(0, job.N);
    else
        RunTasks(job.tasks, &LearnJob::Task, &job);
}

}  // namespace

void AbsorbExplained(const ModelParameters& parameters, OwnedModel& model, const double* frame,
                     const std::uint8_t* decision, const double* still, std::int64_t frameNumber,
                     int threads) {
    LearnJob job{&parameters, &model, frame, decision, still, nullptr, nullptr, frameNumber,
                 static_cast<std::int64_t>(model.imMask.size()), 1};
    RunLearnJob(job, threads);
}

namespace {

// Where the foreground of each column and of each row begins and ends: a
// background pixel (r, c) can be in a hole only where foreground lies
// straight above and below it (first[c] < r < last[c]) and straight left
// and right of it (rowFirst[r] < c < rowLast[r]), since a straight run of
// background from it to the border would join it to the border. A task
// takes a band of columns: their bounds, and the rows' bounds over its band
// alone (`rowFirst` and `rowLast` of task i at i * H), which the caller
// then takes together; it also clears its columns' walk states. Whole
// numbers: the split cannot change them.
struct HoleBounds {
    const std::uint8_t* mask;
    std::int64_t H, W;
    std::int32_t* columnFirst;
    std::int32_t* columnLast;
    std::int32_t* rowFirst;
    std::int32_t* rowLast;
    std::uint8_t* state;
    int tasks;

    void Run(int index) const {
        const std::int64_t c0 = W * index / tasks, c1 = W * (index + 1) / tasks;
        std::int32_t* first = rowFirst + index * H;
        std::int32_t* last = rowLast + index * H;
        std::fill(first, first + H, static_cast<std::int32_t>(W));
        std::fill(last, last + H, -1);
        for (std::int64_t c = c0; c < c1; ++c) {
            const std::uint8_t* column = mask + c * H;
            std::int64_t top = 0;
            while (top < H && column[top] == 0) ++top;
            std::int64_t bottom = H - 1;
            while (bottom > top && column[bottom] == 0) --bottom;
            columnFirst[c] = static_cast<std::int32_t>(top);
            columnLast[c] = static_cast<std::int32_t>(top < H ? bottom : -1);
            // Columns go left to right: a row's first foreground column is
            // the first seen, its last the last seen.
            const std::int32_t here = static_cast<std::int32_t>(c);
            for (std::int64_t r = top; r <= bottom && r < H; ++r)
                if (column[r] != 0) {
                    first[r] = first[r] < here ? first[r] : here;
                    last[r] = here;
                }
            std::fill(state + c * H, state + (c + 1) * H, std::uint8_t{0});
        }
    }

    static void Task(void* context, int index) {
        static_cast<const HoleBounds*>(context)->Run(index);
    }
};

// Values of MaskScratch::bounds that FillHoles takes on `tasks` tasks.
std::size_t HoleBoundsValues(std::int64_t H, std::int64_t W, int tasks) {
    return static_cast<std::size_t>(2 * W + 2 * H * tasks);
}

// HoleBounds for an H x W mask on `tasks` tasks, its arrays in `scratch`
// (had here when short).
HoleBounds BoundsFor(const std::uint8_t* mask, std::int64_t H, std::int64_t W, int tasks,
                     MaskScratch& scratch) {
    const std::size_t values = HoleBoundsValues(H, W, tasks);
    if (scratch.bounds.size() < values) scratch.bounds.resize(values);
    if (scratch.holeState.size() < static_cast<std::size_t>(H * W))
        scratch.holeState.resize(static_cast<std::size_t>(H * W));
    HoleBounds bounds{mask, H, W, nullptr, nullptr, nullptr, nullptr, nullptr, tasks};
    bounds.columnFirst = scratch.bounds.data();
    bounds.columnLast = bounds.columnFirst + W;
    bounds.rowFirst = bounds.columnLast + W;
    bounds.rowLast = bounds.rowFirst + H * tasks;
    bounds.state = scratch.holeState.data();
    return bounds;
}

// The rest of FillHoles once every task of `bounds` has run: the regions
// walked from the candidates, on the calling thread.
void WalkHoles(std::uint8_t* mask, const HoleBounds& bounds, std::int64_t largest,
               std::vector<std::int64_t>& region) {
    const std::int64_t rows = bounds.H, W = bounds.W;
    // Only candidates (HoleBounds) are walked from: a region met through a
    // background pixel that is no candidate, or larger than `largest`, is
    // not a hole, and its pixels are marked so that no later walk goes into
    // it again.
    enum : std::uint8_t { kUnseen = 0, kWalked = 1, kNotHole = 2 };
    // The rows' bounds over the whole width: the first band's, widened by
    // the others'.
    std::int32_t* const rowFirst = bounds.rowFirst;
    std::int32_t* const rowLast = bounds.rowLast;
    for (int i = 1; i < bounds.tasks; ++i)
        for (std::int64_t r = 0; r < rows; ++r) {
            const std::int32_t first = rowFirst[i * rows + r], last = rowLast[i * rows + r];
            rowFirst[r] = first < rowFirst[r] ? first : rowFirst[r];
            rowLast[r] = last > rowLast[r] ? last : rowLast[r];
        }
    const std::int32_t* const columnFirst = bounds.columnFirst;
    const std::int32_t* const columnLast = bounds.columnLast;
    std::uint8_t* const state = bounds.state;
    const auto candidate = [&](std::int64_t r, std::int64_t c) {
        return columnFirst[c] < r && r < columnLast[c] && rowFirst[r] < c && c < rowLast[r];
    };
    for (std::int64_t c = 1; c + 1 < W; ++c) {
        for (std::int64_t r = columnFirst[c] + 1; r < columnLast[c]; ++r) {
            const std::int64_t start = c * rows + r;
            if (mask[start] != 0 || state[start] != kUnseen || !candidate(r, c)) continue;
            region.clear();
            region.push_back(start);
            state[start] = kWalked;
            bool hole = true;
            for (std::size_t i = 0; i < region.size() && hole; ++i) {
                const std::int64_t p = region[i];
                const std::int64_t pc = p / rows, pr = p - pc * rows;
                // A candidate is never on the border: all four neighbours exist.
                const std::int64_t next[4] = {p - 1, p + 1, p - rows, p + rows};
                const std::int64_t nextRow[4] = {pr - 1, pr + 1, pr, pr};
                const std::int64_t nextColumn[4] = {pc, pc, pc - 1, pc + 1};
                for (int n = 0; n < 4; ++n) {
                    const std::int64_t q = next[n];
                    if (mask[q] != 0 || state[q] == kWalked) continue;
                    if (state[q] == kNotHole || !candidate(nextRow[n], nextColumn[n])) {
                        hole = false;
                        break;
                    }
                    state[q] = kWalked;
                    region.push_back(q);
                }
                if (static_cast<std::int64_t>(region.size()) > largest) hole = false;
            }
            if (hole) {
                for (std::int64_t q : region) mask[q] = 255;
            } else {
                // The rest of this region stays unseen, but each walk into
                // it now stops at its first step.
                for (std::int64_t q : region) state[q] = kNotHole;
            }
        }
    }
}

}  // namespace

void FillHoles(std::uint8_t* mask, std::int32_t H, std::int32_t W, std::int64_t largest,
               MaskScratch& scratch, int threads) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    HoleBounds bounds = BoundsFor(mask, H, W, TasksFor(N, kLightPixelsPerTask, threads), scratch);
    if (bounds.tasks == 1)
        bounds.Run(0);
    else
        RunTasks(bounds.tasks, &HoleBounds::Task, &bounds);
    WalkHoles(mask, bounds, largest, scratch.pending);
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

// One half of a closing (the dilation, or the erosion when `every`) for
// the output columns of a task: each column is first combined with the
// columns beside it (across, into `across`, one column of H bytes), then
// down its rows into `out`. The window is a rectangle clipped to the image,
// so the two axes may be taken in either order and the columns split
// anyhow: OR and AND of bytes give the same bytes.
struct ClosingPass {
    const std::uint8_t* in;
    std::uint8_t* out;
    std::int64_t H, W, k;
    bool every;
    // Per task, one column of H bytes.
    std::uint8_t* across;
    int tasks;
    // When not null, the bounds of the holes (on as many tasks) are found
    // in the same task, from the columns it has just written.
    const HoleBounds* holes;

    void Run(std::int64_t c0, std::int64_t c1, std::uint8_t* t) const {
        for (std::int64_t c = c0; c < c1; ++c) {
            std::copy(in + c * H, in + (c + 1) * H, t);
            for (std::int64_t step = 1; step <= k; ++step) {
                if (c + step < W) Combine(t, in + (c + step) * H, H, every);
                if (c - step >= 0) Combine(t, in + (c - step) * H, H, every);
            }
            std::uint8_t* d = out + c * H;
            std::copy(t, t + H, d);
            for (std::int64_t step = 1; step <= k && step < H; ++step) {
                Combine(d, t + step, H - step, every);
                Combine(d + step, t, H - step, every);
            }
        }
    }

    static void Task(void* context, int index) {
        const ClosingPass& pass = *static_cast<const ClosingPass*>(context);
        pass.Run(pass.W * index / pass.tasks, pass.W * (index + 1) / pass.tasks,
                 pass.across + index * pass.H);
        if (pass.holes != nullptr) pass.holes->Run(index);
    }
};

// Values of MaskScratch::closing that CloseMask takes on `tasks` tasks: the
// image between the two halves, and a column per task.
std::size_t ClosingValues(std::int64_t H, std::int64_t W, int tasks) {
    return static_cast<std::size_t>(H * W + H * tasks);
}

// CloseMask on `tasks` tasks; with `holes`, their bounds found as well.
void Close(std::uint8_t* mask, std::int64_t H, std::int64_t W, std::int64_t k, int tasks,
           MaskScratch& scratch, const HoleBounds* holes) {
    // Without ReserveMaskScratch first, the scratch is had here (the only
    // allocation; a detector reserves it before the frame).
    const std::size_t values = ClosingValues(H, W, tasks);
    if (scratch.closing.size() < values) scratch.closing.resize(values);
    std::uint8_t* between = scratch.closing.data();
    ClosingPass dilation{mask, between, H, W, k, false, between + H * W, tasks, nullptr};
    ClosingPass erosion{between, mask, H, W, k, true, between + H * W, tasks, holes};
    for (ClosingPass* pass : {&dilation, &erosion}) {
        if (tasks == 1)
            ClosingPass::Task(pass, 0);
        else
            RunTasks(tasks, &ClosingPass::Task, pass);
    }
}

}  // namespace

void CloseMask(std::uint8_t* mask, std::int32_t H, std::int32_t W, std::int32_t size,
               MaskScratch& scratch, int threads) {
    const std::int64_t k = size / 2;
    if (k < 1 || H < 1 || W < 1) return;
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    Close(mask, H, W, k, TasksFor(N, kLightPixelsPerTask, threads), scratch, nullptr);
}

void ReserveMaskScratch(const ModelParameters& parameters, std::int32_t H, std::int32_t W,
                        int threads, MaskScratch& scratch) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const int tasks = TasksFor(N, kLightPixelsPerTask, threads);
    // FillHoles keeps a state per pixel, the bounds of the rows and columns
    // and a region of at most every pixel.
    const std::size_t bounds = HoleBoundsValues(H, W, tasks);
    if (scratch.bounds.size() < bounds) scratch.bounds.resize(bounds);
    if (scratch.holeState.size() < static_cast<std::size_t>(N))
        scratch.holeState.resize(static_cast<std::size_t>(N));
    scratch.pending.reserve(static_cast<std::size_t>(N));
    if (parameters.closingSize > 1) {
        const std::size_t closing = ClosingValues(H, W, tasks);
        if (scratch.closing.size() < closing) scratch.closing.resize(closing);
    }
    const std::size_t median = MedianFilterScratch(MedianSizeFor(parameters, H, W), H, W, threads);
    if (scratch.median.size() < median) scratch.median.resize(median);
}

void FinishMask(const ModelParameters& parameters, const std::uint8_t* decision, std::int32_t H,
                std::int32_t W, std::uint8_t* mask, MaskScratch& scratch, int threads) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    MedianFilterMask(MedianSizeFor(parameters, H, W), decision, H, W, mask, threads,
                     &scratch.median);
    const std::int64_t k = parameters.closingSize / 2;
    const int tasks = TasksFor(N, kLightPixelsPerTask, threads);
    if (parameters.holeShare > 0) {
        const auto largest =
            static_cast<std::int64_t>(parameters.holeShare * static_cast<double>(N));
        HoleBounds holes = BoundsFor(mask, H, W, tasks, scratch);
        // The erosion's tasks find the holes' bounds too, column band by
        // column band.
        if (k > 0)
            Close(mask, H, W, k, tasks, scratch, &holes);
        else if (tasks == 1)
            holes.Run(0);
        else
            RunTasks(tasks, &HoleBounds::Task, &holes);
        WalkHoles(mask, holes, largest, scratch.pending);
    } else if (k > 0) {
        Close(mask, H, W, k, tasks, scratch, nullptr);
    }
    if (parameters.shadows == 0 || parameters.shadowValue == 0) return;
    const auto value = static_cast<std::uint8_t>(parameters.shadowValue);
    for (std::int64_t p = 0; p < N; ++p)
        if (mask[p] == 0 && decision[p] == kDecidedShadow) mask[p] = value;
}

}  // namespace corvane

namespace corvane {

void TrackBlinking(const ModelParameters& parameters, const std::uint8_t* decision,
                   std::vector<double>& lastForeground, std::vector<double>& blink) {
    LearnJob job{&parameters, nullptr, nullptr, decision, nullptr, lastForeground.data(),
                 blink.data(), 0, static_cast<std::int64_t>(blink.size()), 1};
    job.Run(0, job.N);
}

}  // namespace corvane
