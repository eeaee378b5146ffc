#include "ModelSetup.h"

#include "NeighborOffsets.h"
#include "ParameterTable.h"
#include "RoundedMath.h"
#include "UpdateModel.h"
#include "WorkerThreads.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace corvane {

namespace {
DoubleView ViewOf(std::vector<double>& values) {
    return DoubleView{values.data(), static_cast<std::int64_t>(values.size())};
}
DoubleView ViewOf(double& value) { return DoubleView{&value, 1}; }
}  // namespace

BackgroundModel OwnedModel::View() {
    BackgroundModel model;
#define CORVANE_OWNED_VIEW(name, written, d0, d1, d2) model.name = ViewOf(name);
    CORVANE_MODEL_FIELDS(CORVANE_OWNED_VIEW)
#undef CORVANE_OWNED_VIEW
    return model;
}

BackgroundModel OwnedModel::ReadView() const {
    // The views are of the model's own storage; a caller of ReadView only
    // reads through them.
    return const_cast<OwnedModel*>(this)->View();
}

namespace {
void Take(std::vector<double>& to, const DoubleView& from, std::uint64_t count) {
    to.assign(from.data, from.data + count);
}
void Take(double& to, const DoubleView& from, std::uint64_t) { to = from.data[0]; }
}  // namespace

OwnedModel CopyModel(const BackgroundModel& model, const ModelSizes& sizes) {
    OwnedModel copy;
    int index = 0;
#define CORVANE_OWNED_COPY(name, written, d0, d1, d2) \
    Take(copy.name, model.name, FieldElements(kModelFields[index++], sizes));
    CORVANE_MODEL_FIELDS(CORVANE_OWNED_COPY)
#undef CORVANE_OWNED_COPY
    return copy;
}

namespace {
void SizeLike(std::vector<double>& to, const std::vector<double>& from) { to.resize(from.size()); }
void SizeLike(double&, const double&) {}
}  // namespace

void SizeWrittenFieldsLike(const OwnedModel& from, OwnedModel* to) {
#define CORVANE_SIZE_WRITTEN(name, written, d0, d1, d2) \
    if (written) SizeLike(to->name, from.name);
    CORVANE_MODEL_FIELDS(CORVANE_SIZE_WRITTEN)
#undef CORVANE_SIZE_WRITTEN
}

ModelSizes SizesOf(const OwnedModel& model) {
    ModelSizes sizes;
    std::int32_t mapRows = 0, mapColumns = 0;
    if (!TruncateSize(model.NumImageRows, &sizes.H) ||
        !TruncateSize(model.NumImageColumns, &sizes.W) || !TruncateSize(model.NumMapRows, &mapRows) ||
        !TruncateSize(model.NumMapColumns, &mapColumns))
        return ModelSizes{};
    const std::int64_t pixels = static_cast<std::int64_t>(sizes.H) * sizes.W;
    const std::int64_t neurons = static_cast<std::int64_t>(mapRows) * mapColumns;
    if (pixels > std::numeric_limits<std::int32_t>::max() ||
        neurons > std::numeric_limits<std::int32_t>::max())
        return ModelSizes{};
    sizes.N = static_cast<std::int32_t>(pixels);
    sizes.K = static_cast<std::int32_t>(neurons);
    return sizes;
}

int FirstDifferentField(const OwnedModel& a, const OwnedModel& b) {
    return FirstDifferentField(a.ReadView(), b.ReadView());
}

namespace {
// A model of H x W pixels must have at least one and, as UpdateModel
// requires, at most 2^31 - 1 of them.
void RequireImageSize(std::int32_t H, std::int32_t W) {
    if (H < 1 || W < 1 ||
        static_cast<std::int64_t>(H) * W > std::numeric_limits<std::int32_t>::max())
        throw std::invalid_argument("an image of " + std::to_string(H) + " x " + std::to_string(W) +
                                    " pixels cannot be modelled (1 to 2^31 - 1 pixels)");
}

// Everything of a starting model but the variances: neurons at `colours`
// (3*N, channel ch of pixel p at ch*N + p) spread by initialSpread, the prior,
// the indicator variance and covariances. Sigma2 and MaximumVariance are
// sized here and filled by the caller.
OwnedModel ModelAroundColours(const ModelParameters& parameters, const double* colours,
                              std::int32_t H, std::int32_t W) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const std::int64_t K = static_cast<std::int64_t>(parameters.mapRows) * parameters.mapColumns;
    OwnedModel model;
    model.NumMapRows = parameters.mapRows;
    model.NumMapColumns = parameters.mapColumns;
    model.NumImageRows = H;
    model.NumImageColumns = W;
    model.MinimumVariance = parameters.minimumVariance;
    model.StepSize = parameters.stepSize;
    model.CurrentFrame = 0;

    model.Mu.resize(static_cast<std::size_t>(3 * K * N));
    std::vector<double> offsets(static_cast<std::size_t>(K), 0.0);
    if (K > 1)
        for (std::int64_t j = 0; j < K; ++j)
            offsets[j] = parameters.initialSpread *
                         (2.0 * static_cast<double>(j) / static_cast<double>(K - 1) - 1.0);
    for (std::int64_t p = 0; p < N; ++p)
        for (std::int64_t j = 0; j < K; ++j)
            for (int ch = 0; ch < 3; ++ch) {
                const double mean = colours[ch * N + p] + offsets[j];
                model.Mu[(p * K + j) * 3 + ch] = mean < 0.0 ? 0.0 : (mean > 255.0 ? 255.0 : mean);
            }
    model.Sigma2.assign(static_cast<std::size_t>(K * N), 0.0);
    model.imMask.assign(static_cast<std::size_t>(N), 0.0);
    model.Pi.assign(static_cast<std::size_t>(N), parameters.initialPrior);
    model.NeuroWin.assign(static_cast<std::size_t>(N), 0.0);
    model.Var.assign(static_cast<std::size_t>(N), parameters.initialIndicatorVariance);
    model.MaximumVariance.assign(static_cast<std::size_t>(N), 0.0);

    // Covariance equal to the variance where the backward neighbour exists
    // (above, above-left, left, below-left), 0 where it does not.
    model.Cov.assign(static_cast<std::size_t>(4 * N), 0.0);
    NeighborOffsets neighbors;
    for (std::int32_t p = 0; p < static_cast<std::int32_t>(N); ++p) {
        ComputeBackwardOffsets(neighbors, p, H);
        for (int s = 0; s < kBackwardSlots; ++s)
            if (neighbors.slot[s] != 0)
                model.Cov[static_cast<std::size_t>(p) * 4 + s] = parameters.initialIndicatorVariance;
    }
    return model;
}
}  // namespace

namespace {

// NaN sorts last: plain < is no ordering once a NaN is present, and std::sort
// may then read outside the range.
void SortSamples(std::vector<double>& values) {
    std::sort(values.begin(), values.end(), [](double a, double b) {
        return a < b || (!std::isnan(a) && std::isnan(b));
    });
}

double MiddleOfSorted(const std::vector<double>& values) {
    const std::size_t F = values.size();
    return F % 2 == 1 ? values[F / 2] : (values[F / 2 - 1] + values[F / 2]) / 2;
}

}  // namespace

std::vector<double> MedianFrame(const std::vector<const double*>& frames, std::int64_t count) {
    std::vector<double> median(static_cast<std::size_t>(count), 0.0);
    const std::size_t F = frames.size();
    if (F == 0) return median;
    std::vector<double> values(F);
    for (std::int64_t i = 0; i < count; ++i) {
        for (std::size_t f = 0; f < F; ++f) values[f] = frames[f][i];
        SortSamples(values);
        median[i] = MiddleOfSorted(values);
    }
    return median;
}

FrameStatistics LeadingFrameStatistics(const std::vector<const double*>& frames, std::int64_t N) {
    FrameStatistics statistics;
    statistics.median = MedianFrame(frames, 3 * N);
    statistics.variance.assign(static_cast<std::size_t>(N), 0.0);
    const std::size_t F = frames.size();
    if (F < 2) return statistics;
    // The median absolute deviation of each sample, one sample at a time:
    // the deviations of all frames are never held at once (t frames of them
    // would double the start's memory).
    std::vector<double> deviations(F);
    const auto mad = [&](std::int64_t i) {
        for (std::size_t f = 0; f < F; ++f)
            deviations[f] = std::fabs(frames[f][i] - statistics.median[static_cast<std::size_t>(i)]);
        SortSamples(deviations);
        return MiddleOfSorted(deviations);
    };
    for (std::int64_t p = 0; p < N; ++p) {
        const double s0 = 1.4826 * mad(p);
        const double s1 = 1.4826 * mad(N + p);
        const double s2 = 1.4826 * mad(2 * N + p);
        statistics.variance[static_cast<std::size_t>(p)] = (s0 * s0 + s1 * s1 + s2 * s2) / 3;
    }
    return statistics;
}

OwnedModel BuildInitialModelFromStatistics(const ModelParameters& parameters,
                                           const FrameStatistics& statistics, std::int32_t H,
                                           std::int32_t W) {
    RequireValidParameters(parameters);
    RequireImageSize(H, W);
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    if (statistics.median.size() != static_cast<std::size_t>(3 * N) ||
        statistics.variance.size() != static_cast<std::size_t>(N))
        throw std::invalid_argument("the leading-frame statistics are not of an image of " +
                                    std::to_string(H) + " x " + std::to_string(W) + " pixels");
    OwnedModel model = ModelAroundColours(parameters, statistics.median.data(), H, W);
    const std::int64_t K = static_cast<std::int64_t>(parameters.mapRows) * parameters.mapColumns;
    for (std::int64_t p = 0; p < N; ++p) {
        const double variance = statistics.variance[p];
        double cap = parameters.varianceCapFactor * variance;
        if (cap < parameters.maximumVariance) cap = parameters.maximumVariance;
        if (cap > parameters.maximumVarianceLimit) cap = parameters.maximumVarianceLimit;
        double start = variance > parameters.initialVariance ? variance : parameters.initialVariance;
        if (start > cap) start = cap;
        model.MaximumVariance[p] = cap;
        for (std::int64_t j = 0; j < K; ++j) model.Sigma2[p * K + j] = start;
    }
    return model;
}

OwnedModel BuildInitialModelFromFrames(const ModelParameters& parameters,
                                       const std::vector<const double*>& frames, std::int32_t H,
                                       std::int32_t W) {
    // Checked before the statistics are taken, which may take a while.
    RequireValidParameters(parameters);
    RequireImageSize(H, W);
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    return BuildInitialModelFromStatistics(parameters, LeadingFrameStatistics(frames, N), H, W);
}

OwnedModel BuildInitialModel(const ModelParameters& parameters, const double* frame,
                             std::int32_t H, std::int32_t W) {
    return BuildInitialModelFromFrames(parameters, {frame}, H, W);
}

double LearningRateForFrame(const ModelParameters& parameters, std::int64_t frameNumber) {
    double rate = parameters.learningRate;
    if (frameNumber >= 1 && frameNumber <= parameters.calibrationFrames) {
        const double calibration = parameters.calibrationRate / static_cast<double>(frameNumber);
        if (calibration > rate) rate = calibration;
    }
    return rate;
}

namespace {
// The matrix of `parameters`' map with the winner's rate `rate`; the rate of
// a calibration frame may lie above the range of learningRate.
std::vector<double> MatrixWithRate(const ModelParameters& parameters, double rate) {
    const std::int64_t rows = parameters.mapRows;
    const std::int64_t K = rows * parameters.mapColumns;
    const double width = parameters.neighborhoodWidth;
    std::vector<double> matrix(static_cast<std::size_t>(K * K));
    for (std::int64_t w = 0; w < K; ++w) {
        for (std::int64_t j = 0; j < K; ++j) {
            const double dr = static_cast<double>(w % rows - j % rows);
            const double dc = static_cast<double>(w / rows - j / rows);
            const double distance2 = dr * dr + dc * dc;
            // A width of 0 means winner-take-all. The exp is the core's own,
            // correctly rounded: the C library's may differ in the last bit
            // from one platform to the next, and every frame after with it.
            matrix[w * K + j] =
                width > 0 ? rate * ExpCorrectlyRounded(-distance2 / (2 * width * width))
                          : (w == j ? rate : 0.0);
        }
    }
    return matrix;
}
}  // namespace

std::vector<double> BuildNeighborhoodMatrix(const ModelParameters& parameters) {
    RequireValidParameters(parameters);
    return MatrixWithRate(parameters, parameters.learningRate);
}

std::vector<double> NeighborhoodMatrixForFrame(const ModelParameters& parameters,
                                               std::int64_t frameNumber) {
    RequireValidParameters(parameters);
    return MatrixWithRate(parameters, LearningRateForFrame(parameters, frameNumber));
}

namespace {

// The median filter of MedianFilterMask for output columns [c0, c1). Counts
// are whole numbers, so how the columns are split cannot change a mask bit.
struct MedianColumns {
    std::int64_t size;
    const std::uint8_t* in;
    std::int64_t H, W;
    std::uint8_t* mask;
    int tasks;
    // Each task's counts, TaskScratch() values from scratch + index *
    // TaskScratch(): obtained before the tasks start, so that none of them
    // allocates.
    std::int32_t* scratch;

    // The most columns a task's range [c0, c1) covers, and the values its
    // counts need: the vertical counts of the columns its windows reach, a
    // running count and the sums across.
    std::int64_t TaskScratch() const {
        const std::int64_t columns = (W + tasks - 1) / tasks;
        const std::int64_t reach = std::min<std::int64_t>(columns + 2 * (size / 2), W);
        return reach * H + (H + 1) + H;
    }

    void Run(std::int64_t c0, std::int64_t c1, std::int32_t* counts) const {
        if (c0 >= c1) return;
        const std::int64_t half = size / 2;
        const std::int64_t needed = (size * size + 1) / 2;
        // Per column of [a, b), the columns whose pixels some window of
        // [c0, c1) holds: each pixel's count of foreground pixels in its
        // clipped vertical window, from the column's running count.
        const std::int64_t a = std::max<std::int64_t>(c0 - half, 0);
        const std::int64_t b = std::min<std::int64_t>(c1 + half, W);
        std::int32_t* vertical = counts;
        std::int32_t* running = vertical + (b - a) * H;
        for (std::int64_t c = a; c < b; ++c) {
            const std::uint8_t* column = in + c * H;
            running[0] = 0;
            for (std::int64_t r = 0; r < H; ++r)
                running[r + 1] = running[r] + (column[r] == 255 ? 1 : 0);
            std::int32_t* out = vertical + (c - a) * H;
            for (std::int64_t r = 0; r < H; ++r)
                out[r] = running[std::min(r + half + 1, H)] - running[std::max<std::int64_t>(r - half, 0)];
        }
        // Across: the sum of the vertical counts of the clipped window of
        // columns, slid from column to column.
        std::int32_t* across = running + (H + 1);
        std::fill(across, across + H, 0);
        for (std::int64_t c = std::max<std::int64_t>(c0 - half, 0); c < std::min(c0 + half + 1, W);
             ++c)
            for (std::int64_t r = 0; r < H; ++r) across[r] += vertical[(c - a) * H + r];
        for (std::int64_t c = c0; c < c1; ++c) {
            if (c > c0) {
                const std::int64_t enters = c + half, leaves = c - half - 1;
                if (enters < W)
                    for (std::int64_t r = 0; r < H; ++r) across[r] += vertical[(enters - a) * H + r];
                if (leaves >= 0)
                    for (std::int64_t r = 0; r < H; ++r) across[r] -= vertical[(leaves - a) * H + r];
            }
            std::uint8_t* out = mask + c * H;
            for (std::int64_t r = 0; r < H; ++r) out[r] = across[r] >= needed ? 255 : 0;
        }
    }

    static void Task(void* context, int index) {
        const MedianColumns& job = *static_cast<const MedianColumns*>(context);
        job.Run(job.W * index / job.tasks, job.W * (index + 1) / job.tasks,
                job.scratch + index * job.TaskScratch());
    }
};

// Pixels per task below which the filter stays on the calling thread.
constexpr std::int64_t kMaskPixelsPerTask = 1 << 15;

}  // namespace

namespace {

MedianColumns MedianJob(std::int32_t size, const std::uint8_t* in, std::int32_t H,
                        std::int32_t W, std::uint8_t* mask, int threads) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    MedianColumns job{size, in, H, W, mask, 1, nullptr};
    if (threads < 1) threads = HardwareThreads();
    const std::int64_t most = std::max<std::int64_t>(1, std::min<std::int64_t>(N / kMaskPixelsPerTask, W));
    job.tasks = static_cast<int>(std::min<std::int64_t>({threads, most, kMaxTasks}));
    return job;
}

}  // namespace

std::size_t MedianFilterScratch(std::int32_t size, std::int32_t H, std::int32_t W, int threads) {
    if (size <= 1) return 0;
    const MedianColumns job = MedianJob(size, nullptr, H, W, nullptr, threads);
    return static_cast<std::size_t>(job.tasks * job.TaskScratch());
}

void MedianFilterMask(std::int32_t size, const std::uint8_t* in, std::int32_t H, std::int32_t W,
                      std::uint8_t* mask, int threads, std::vector<std::int32_t>* scratch) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    if (size <= 1) {
        for (std::int64_t p = 0; p < N; ++p) mask[p] = in[p] == 255 ? 255 : 0;
        return;
    }
    MedianColumns job = MedianJob(size, in, H, W, mask, threads);
    std::vector<std::int32_t> own;
    std::vector<std::int32_t>& counts = scratch != nullptr ? *scratch : own;
    const std::size_t needed = static_cast<std::size_t>(job.tasks * job.TaskScratch());
    if (counts.size() < needed) counts.resize(needed);
    job.scratch = counts.data();
    if (job.tasks == 1)
        job.Run(0, W, job.scratch);
    else
        RunTasks(job.tasks, &MedianColumns::Task, &job);
}

std::int32_t MedianSizeFor(const ModelParameters& parameters, std::int32_t H, std::int32_t W) {
    // The largest side medianSize may have.
    constexpr std::int32_t kLargestMedianSize = 31;
    std::int32_t size = parameters.medianSize;
    if (size <= 1 || !(parameters.medianShare > 0)) return size;
    const double window =
        parameters.medianShare * (static_cast<double>(H) * static_cast<double>(W));
    while (size + 2 <= kLargestMedianSize &&
           static_cast<double>(size + 2) * static_cast<double>(size + 2) <= window)
        size += 2;
    return size;
}

void ThresholdMask(const ModelParameters& parameters, const double* imMask, std::int32_t H,
                   std::int32_t W, std::uint8_t* mask, int threads) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    std::vector<std::uint8_t> binary(static_cast<std::size_t>(N));
    for (std::int64_t p = 0; p < N; ++p) binary[p] = imMask[p] > parameters.maskThreshold ? 255 : 0;
    MedianFilterMask(MedianSizeFor(parameters, H, W), binary.data(), H, W, mask, threads);
}

}  // namespace corvane
