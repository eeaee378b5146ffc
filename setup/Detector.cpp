#include "Detector.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "MaskDecision.h"
#include "ModelCheck.h"
#include "ParameterTable.h"
#include "UpdateModel.h"
#include "NeighborOffsets.h"
#include "WorkerThreads.h"

namespace corvane {

namespace {

// Frame numbers stay exact in a double up to 2^53.
constexpr double kLargestFrameNumber = 9007199254740992.0;

// The update's scratch, obtained from the host before a frame changes
// anything and handed to UpdateModel through an allocator that gives out
// these blocks, so that the update cannot fail for want of memory once the
// frame has begun. UpdateModel calls its allocator on the calling thread
// alone, so the blocks are found through a thread-local pointer.
class UpdateScratch {
public:
    explicit UpdateScratch(const HostAllocator& host) : host_(host) {}
    UpdateScratch(const UpdateScratch&) = delete;
    UpdateScratch& operator=(const UpdateScratch&) = delete;
    ~UpdateScratch() {
        for (Block& block : blocks_)
            if (block.data != nullptr) host_.release(block.data);
        if (current_ == this) current_ = nullptr;
    }

    // The blocks the update asks for on an N-pixel image: the offsets
    // record, the smoothed mask and the correlation table.
    bool Obtain(std::int64_t N) {
        const std::size_t n = static_cast<std::size_t>(N);
        const std::size_t sizes[3] = {sizeof(NeighborOffsets), n * sizeof(double),
                                      4 * n * sizeof(double)};
        for (int i = 0; i < 3; ++i) {
            blocks_[i].data = host_.allocate(sizes[i]);
            if (blocks_[i].data == nullptr) return false;
            blocks_[i].bytes = sizes[i];
        }
        return true;
    }

    // An allocator that lends the blocks (the smallest that fits) and goes to
    // the host for anything else.
    HostAllocator Allocator() {
        current_ = this;
        HostAllocator lender;
        lender.allocate = &Lend;
        lender.release = &GiveBack;
        return lender;
    }

private:
    struct Block {
        void* data = nullptr;
        std::size_t bytes = 0;
        bool lent = false;
    };

    static void* Lend(std::size_t bytes) {
        UpdateScratch& scratch = *current_;
        Block* best = nullptr;
        for (Block& block : scratch.blocks_)
            if (block.data != nullptr && !block.lent && block.bytes >= bytes &&
                (best == nullptr || block.bytes < best->bytes))
                best = &block;
        if (best == nullptr) return scratch.host_.allocate(bytes);
        best->lent = true;
        return best->data;
    }

    static void GiveBack(void* data) {
        UpdateScratch& scratch = *current_;
        for (Block& block : scratch.blocks_)
            if (block.data == data && block.lent) block = Block{};
        scratch.host_.release(data);
    }

    static thread_local UpdateScratch* current_;
    HostAllocator host_;
    Block blocks_[3];
};

thread_local UpdateScratch* UpdateScratch::current_ = nullptr;

}  // namespace

Detector::Detector(const ModelParameters& parameters) : parameters_(parameters) {
    RequireValidParameters(parameters_);
}

bool Detector::Start(std::int32_t H, std::int32_t W, std::string* error) {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    if (H < 1 || W < 1 || N > std::numeric_limits<std::int32_t>::max()) {
        *error = "an image of " + std::to_string(H) + " x " + std::to_string(W) +
                 " pixels cannot be segmented: it needs 1 to 2^31 - 1 pixels";
        return false;
    }
    startModel_ = OwnedModel();
    fromModel_ = false;
    H_ = H;
    W_ = W;
    sizeFixed_ = false;
    Begin(OwnedModel());
    return true;
}

bool Detector::StartFromModel(const BackgroundModel& model, std::string* error) {
    outOfMemory_ = false;
    // The frame and the matrix come later, with every frame; here only the
    // model's own fields and sizes are checked, so any element count will do
    // for the two.
    static const double kAny = 0;
    const std::int64_t kAnyCount = std::numeric_limits<std::int64_t>::max();
    const ModelCheck check =
        CheckModel(model, FrameImage{&kAny, kAnyCount}, NeighborhoodMatrix{&kAny, kAnyCount});
    if (!check.ok()) {
        *error = std::string("the model cannot be used: ") + check.message;
        return false;
    }
    std::int32_t mapRows = 0, mapColumns = 0;
    TruncateSize(model.NumMapRows.data[0], &mapRows);
    TruncateSize(model.NumMapColumns.data[0], &mapColumns);
    if (mapRows != parameters_.mapRows || mapColumns != parameters_.mapColumns) {
        *error = "the model has a map of " + std::to_string(mapRows) + " x " +
                 std::to_string(mapColumns) + " neurons but the parameters say " +
                 std::to_string(parameters_.mapRows) + " x " +
                 std::to_string(parameters_.mapColumns);
        return false;
    }
    const double frame = model.CurrentFrame.data[0];
    if (!(frame >= 0 && frame <= kLargestFrameNumber && frame == std::trunc(frame))) {
        *error = "the model's CurrentFrame must be a whole number of frames from 0";
        return false;
    }
    try {
        OwnedModel copy = CopyModel(model, check.sizes);
        // The sizes as the update reads them (whole numbers).
        copy.NumMapRows = mapRows;
        copy.NumMapColumns = mapColumns;
        copy.NumImageRows = check.sizes.H;
        copy.NumImageColumns = check.sizes.W;
        // The copy for Reset too, before anything of the detector changes.
        OwnedModel start = copy;
        startModel_ = std::move(start);
        startStream_ = StreamState();
        startStream_.startFromFrames = false;
        fromModel_ = true;
        H_ = check.sizes.H;
        W_ = check.sizes.W;
        sizeFixed_ = true;
        Begin(std::move(copy));
        return true;
    } catch (const std::bad_alloc&) {
        *error = "not enough memory for a copy of the model";
        outOfMemory_ = true;
        return false;
    }
}

bool Detector::RestoreStream(const StreamState& saved, std::string* error) {
    const std::size_t N = static_cast<std::size_t>(H_) * static_cast<std::size_t>(W_);
    if (!started_ || !fromModel_ || framesProcessed_ != 0) {
        *error = "what a detector keeps between frames can only be restored right after a start "
                 "from a model";
        return false;
    }
    for (const StreamField& field : StreamFields()) {
        const std::size_t have = (saved.*field.values).size();
        const std::size_t need = N * static_cast<std::size_t>(field.planes);
        if (have != need) {
            *error = std::string(field.name) + " of " + std::to_string(H_) + " x " +
                     std::to_string(W_) + " pixels needs " + std::to_string(need) +
                     " values; it has " + std::to_string(have);
            return false;
        }
    }
    // As after a first frame: the next one is compared with previousFrame.
    StreamState restored;
    restored.H = H_;
    restored.W = W_;
    restored.frameNumber = 1;
    restored.startFromFrames = false;
    for (const StreamField& field : StreamFields()) restored.*field.values = saved.*field.values;
    startStream_ = std::move(restored);
    stream_ = startStream_;
    return true;
}

void Detector::Begin(OwnedModel model) {
    model_ = std::move(model);
    stream_ = fromModel_ ? startStream_ : StreamState();
    stream_.startFromFrames = !fromModel_;
    firstFrame_ = static_cast<std::int64_t>(model_.CurrentFrame);
    framesProcessed_ = 0;
    matrixRate_ = -1;
    started_ = true;
}

void Detector::Reset() {
    if (!started_) return;
    Begin(fromModel_ ? startModel_ : OwnedModel());
}

const std::vector<double>& Detector::MatrixFor(std::int64_t frameNumber, double learningRate) {
    const double rate =
        learningRate > 0 ? learningRate : LearningRateForFrame(parameters_, frameNumber);
    if (rate != matrixRate_) {
        if (learningRate > 0) {
            // The matrix depends on the map, the width and the rate alone.
            ModelParameters withRate = parameters_;
            withRate.calibrationFrames = 0;
            withRate.learningRate = rate;
            matrix_ = NeighborhoodMatrixForFrame(withRate, 1);
        } else {
            matrix_ = NeighborhoodMatrixForFrame(parameters_, frameNumber);
        }
        matrixRate_ = rate;
    }
    return matrix_;
}

bool Detector::CheckFrame(const FrameImage& frame, std::string* error) const {
    if (!started_) {
        *error = "the detector has not been started";
        return false;
    }
    const std::int64_t N = static_cast<std::int64_t>(H_) * W_;
    if (frame.data == nullptr || frame.count != 3 * N) {
        *error = "the frame holds " + std::to_string(frame.data == nullptr ? 0 : frame.count) +
                 " values; an image of " + std::to_string(H_) + " x " + std::to_string(W_) +
                 " pixels and 3 channels has " + std::to_string(3 * N);
        return false;
    }
    return true;
}

bool Detector::Process(const FrameImage& frame, std::uint8_t* mask, double* probability,
                       std::string* error) {
    return Run(frame, mask, probability, error, -1, nullptr);
}

bool Detector::Process(const FrameImage& frame, std::uint8_t* mask, double* probability,
                       std::string* error, const Learning& learning) {
    if (learning.rate != -1 && !(learning.rate > 0 && learning.rate <= 1)) {
        *error = "the learning rate of a frame must be -1 (the parameters' schedule) or above 0 "
                 "and at most 1; it is " +
                 FormatParameterValue(learning.rate);
        return false;
    }
    return Run(frame, mask, probability, error, learning.rate, learning.keep);
}

bool Detector::Process(const FrameImage& frame, std::uint8_t* mask, double* probability,
                       std::string* error, double learningRate) {
    if (!(learningRate > 0 && learningRate <= 1)) {
        *error = "the learning rate of a frame must be above 0 and at most 1; it is " +
                 FormatParameterValue(learningRate);
        return false;
    }
    return Run(frame, mask, probability, error, learningRate, nullptr);
}

namespace {

// The model's values of pixel p that the learn mask keeps, to `saved` or
// back from it.
template <bool save>
void KeepPixel(OwnedModel& model, std::int64_t p, std::int64_t K, double* saved) {
    double* mu = model.Mu.data() + p * 3 * K;
    double* sigma2 = model.Sigma2.data() + p * K;
    double* pi = model.Pi.data() + p;
    if (save) {
        std::copy(mu, mu + 3 * K, saved);
        std::copy(sigma2, sigma2 + K, saved + 3 * K);
        saved[4 * K] = *pi;
    } else {
        std::copy(saved, saved + 3 * K, mu);
        std::copy(saved + 3 * K, saved + 4 * K, sigma2);
        *pi = saved[4 * K];
    }
}

}  // namespace

bool Detector::Run(const FrameImage& frame, std::uint8_t* mask, double* probability,
                   std::string* error, double learningRate, const std::uint8_t* keep) {
    outOfMemory_ = false;
    if (!CheckFrame(frame, error)) return false;
    // Everything the frame needs memory for is obtained before anything
    // changes: the decision's and the mask's scratch, the matrix, the
    // update's scratch from the host, and PrepareFrame's own (which it
    // obtains before it changes anything). A frame that runs out of memory
    // therefore leaves the detector exactly as it was, and once PrepareFrame
    // has run nothing of the frame can fail.
    const std::size_t N = static_cast<std::size_t>(H_) * static_cast<std::size_t>(W_);
    // The frame's steps on several threads share one crew of them, joined
    // before the frame returns.
    const ThreadCrew crew;
    UpdateScratch scratch(host_);
    try {
        decision_.resize(N);
        ReserveMaskScratch(parameters_, H_, W_, threads_, maskScratch_);
        MatrixFor(firstFrame_ + framesProcessed_ + 1, learningRate);
        if (!scratch.Obtain(static_cast<std::int64_t>(N))) throw std::bad_alloc();
        if (keep != nullptr) {
            const std::size_t kept =
                static_cast<std::size_t>(std::count_if(keep, keep + N, [](std::uint8_t b) {
                    return b != 0;
                }));
            const std::size_t K = static_cast<std::size_t>(parameters_.mapRows) *
                                  static_cast<std::size_t>(parameters_.mapColumns);
            kept_.resize(kept * (4 * K + 1));
        }
    } catch (const std::bad_alloc&) {
        return OutOfMemory(error, "the model of");
    } catch (const std::length_error&) {
        return OutOfMemory(error, "the model of");
    }
    // A model continued or past the start is checked before the frame
    // changes it; the start builds its models itself.
    if (!model_.Mu.empty()) {
        const ModelCheck check =
            CheckModel(model_.View(), frame,
                       NeighborhoodMatrix{matrix_.data(), static_cast<std::int64_t>(matrix_.size())});
        if (!check.ok()) {
            *error = std::string("the model cannot be updated: ") + check.message;
            return false;
        }
    }
    try {
        PrepareFrame(parameters_, stream_, model_, frame.data, H_, W_, threads_);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(error, "the model of");
    } catch (const std::length_error&) {
        return OutOfMemory(error, "the model of");
    }
    const std::vector<double>& matrix = matrix_;
    const BackgroundModel view = model_.View();
    const NeighborhoodMatrix weights{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    const ModelCheck check = CheckModel(view, frame, weights);
    if (!check.ok()) {
        *error = std::string("the model cannot be updated: ") + check.message;
        return false;
    }
    const std::int64_t K = static_cast<std::int64_t>(check.sizes.K);
    const std::int64_t pixels = static_cast<std::int64_t>(N);
    if (keep != nullptr) {
        double* saved = kept_.data();
        for (std::int64_t p = 0; p < pixels; ++p)
            if (keep[p] != 0) {
                KeepPixel<true>(model_, p, K, saved);
                saved += 4 * K + 1;
                // Stillness under the mask does not count towards absorbing
                // the pixel (nor towards explaining it by one neighbour).
                if (static_cast<std::size_t>(p) < stream_.still.size()) stream_.still[p] = 0;
            }
    }
    if (!UpdateModel(view, frame, weights, scratch.Allocator(), threads_))
        return OutOfMemory(error, "the model of");  // not reached: the scratch is there
    if (keep != nullptr) {
        double* saved = kept_.data();
        for (std::int64_t p = 0; p < pixels; ++p)
            if (keep[p] != 0) {
                KeepPixel<false>(model_, p, K, saved);
                saved += 4 * K + 1;
            }
    }
    ++framesProcessed_;
    // The blinking advances in the decision's own pass.
    const BlinkTracking tracking{stream_.blink.data(), stream_.lastForeground.data()};
    DecidePixels(parameters_, view, frame.data, H_, W_, decision_.data(), stream_.still.data(),
                 nullptr, threads_, parameters_.blinkRate > 0 ? &tracking : nullptr);
    if (parameters_.absorbFrames > 0)
        AbsorbExplained(parameters_, model_, frame.data, decision_.data(), stream_.still.data(),
                        firstFrame_ + framesProcessed_, threads_);
    FinishMask(parameters_, decision_.data(), H_, W_, mask, maskScratch_, threads_);
    if (probability != nullptr) std::copy(model_.imMask.begin(), model_.imMask.end(), probability);
    sizeFixed_ = true;
    return true;
}

bool Detector::OutOfMemory(std::string* error, const char* what) {
    *error = "not enough memory for " + std::string(what) + " " + std::to_string(H_) + " x " +
             std::to_string(W_) + " pixels";
    outOfMemory_ = true;
    return false;
}

bool Detector::Score(const FrameImage& frame, std::uint8_t* mask, double* probability,
                     std::string* error) {
    outOfMemory_ = false;
    if (!CheckFrame(frame, error)) return false;
    if (model_.Mu.empty()) {
        *error = "there is no model to score against before the first frame";
        return false;
    }
    const ThreadCrew crew;
    // All scratch first: nothing but it changes here, and the update runs
    // into it.
    try {
        MatrixFor(firstFrame_ + framesProcessed_ + 1, -1);
        scorePi_.assign(model_.Pi.begin(), model_.Pi.end());
        for (double& pi : scorePi_) {
            if (pi < parameters_.priorFloor) pi = parameters_.priorFloor;
            if (pi > parameters_.priorCeiling) pi = parameters_.priorCeiling;
        }
        SizeWrittenFieldsLike(model_, &scored_);
        decision_.resize(model_.imMask.size());
        ReserveMaskScratch(parameters_, H_, W_, threads_, maskScratch_);
        NextStillCounts(parameters_, stream_, frame.data, scoreStill_);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(error, "scoring a frame of");
    } catch (const std::length_error&) {
        return OutOfMemory(error, "scoring a frame of");
    }
    const NeighborhoodMatrix weights{matrix_.data(), static_cast<std::int64_t>(matrix_.size())};
    BackgroundModel source = model_.View();
    source.Pi = DoubleView{scorePi_.data(), static_cast<std::int64_t>(scorePi_.size())};
    const BackgroundModel scratch = scored_.View();
    const UpdatedFields into = UpdatedFieldsOf(scratch);
    const ModelCheck check = CheckModelInto(source, into, frame, weights);
    if (!check.ok()) {
        *error = std::string("the model cannot be scored: ") + check.message;
        return false;
    }
    if (!UpdateModelInto(source, into, frame, weights, host_, threads_))
        return OutOfMemory(error, "scoring a frame of");
    BackgroundModel scoredView = scratch;
    scoredView.MinimumVariance = source.MinimumVariance;
    DecidePixels(parameters_, scoredView, frame.data, H_, W_, decision_.data(), scoreStill_.data(),
                 parameters_.blinkRate > 0 ? stream_.blink.data() : nullptr, threads_);
    FinishMask(parameters_, decision_.data(), H_, W_, mask, maskScratch_, threads_);
    if (probability != nullptr)
        std::copy(scored_.imMask.begin(), scored_.imMask.end(), probability);
    return true;
}

}  // namespace corvane
