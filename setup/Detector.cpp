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

namespace corvane {

namespace {

// Frame numbers stay exact in a double up to 2^53.
constexpr double kLargestFrameNumber = 9007199254740992.0;

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
    Begin(OwnedModel());
    return true;
}

bool Detector::StartFromModel(const BackgroundModel& model, std::string* error) {
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
        startModel_ = copy;
        startStream_ = StreamState();
        startStream_.startFromFrames = false;
        fromModel_ = true;
        H_ = check.sizes.H;
        W_ = check.sizes.W;
        Begin(std::move(copy));
        return true;
    } catch (const std::bad_alloc&) {
        *error = "not enough memory for a copy of the model";
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
    return Run(frame, mask, probability, error, -1);
}

bool Detector::Process(const FrameImage& frame, std::uint8_t* mask, double* probability,
                       std::string* error, double learningRate) {
    if (!(learningRate > 0 && learningRate <= 1)) {
        *error = "the learning rate of a frame must be above 0 and at most 1; it is " +
                 FormatParameterValue(learningRate);
        return false;
    }
    return Run(frame, mask, probability, error, learningRate);
}

bool Detector::Run(const FrameImage& frame, std::uint8_t* mask, double* probability,
                   std::string* error, double learningRate) {
    if (!CheckFrame(frame, error)) return false;
    try {
        // The decision's scratch first: once the model has moved on, nothing
        // of this frame may fail for want of memory.
        const std::size_t N = static_cast<std::size_t>(H_) * static_cast<std::size_t>(W_);
        decision_.resize(N);
        maskScratch_.component.resize(N);
        maskScratch_.pending.reserve(N);
        PrepareFrame(parameters_, stream_, model_, frame.data, H_, W_, threads_);
    } catch (const std::bad_alloc&) {
        *error = "not enough memory for the model of " + std::to_string(H_) + " x " +
                 std::to_string(W_) + " pixels";
        return false;
    }
    const std::vector<double>& matrix =
        MatrixFor(firstFrame_ + framesProcessed_ + 1, learningRate);
    const BackgroundModel view = model_.View();
    const NeighborhoodMatrix weights{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    const ModelCheck check = CheckModel(view, frame, weights);
    if (!check.ok()) {
        *error = std::string("the model cannot be updated: ") + check.message;
        return false;
    }
    if (!UpdateModel(view, frame, weights, StandardAllocator(), threads_)) {
        *error = "out of memory while updating the model";
        return false;
    }
    ++framesProcessed_;
    DecidePixels(parameters_, view, frame.data, H_, W_, decision_.data(), stream_.still.data(),
                 parameters_.blinkRate > 0 ? stream_.blink.data() : nullptr, threads_);
    if (parameters_.blinkRate > 0)
        TrackBlinking(parameters_, decision_.data(), stream_.lastForeground, stream_.blink);
    if (parameters_.absorbFrames > 0)
        AbsorbExplained(parameters_, model_, frame.data, decision_.data(), stream_.still.data(),
                        firstFrame_ + framesProcessed_);
    FinishMask(parameters_, decision_.data(), H_, W_, mask, maskScratch_, threads_);
    if (probability != nullptr) std::copy(model_.imMask.begin(), model_.imMask.end(), probability);
    return true;
}

bool Detector::Score(const FrameImage& frame, std::uint8_t* mask, double* probability,
                     std::string* error) {
    if (!CheckFrame(frame, error)) return false;
    if (model_.Mu.empty()) {
        *error = "there is no model to score against before the first frame";
        return false;
    }
    const std::vector<double>& matrix = MatrixFor(firstFrame_ + framesProcessed_ + 1, -1);
    const NeighborhoodMatrix weights{matrix.data(), static_cast<std::int64_t>(matrix.size())};
    BackgroundModel source = model_.View();
    try {
        scorePi_.assign(model_.Pi.begin(), model_.Pi.end());
        for (double& pi : scorePi_) {
            if (pi < parameters_.priorFloor) pi = parameters_.priorFloor;
            if (pi > parameters_.priorCeiling) pi = parameters_.priorCeiling;
        }
        SizeWrittenFieldsLike(model_, &scored_);
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to score a frame of " + std::to_string(H_) + " x " +
                 std::to_string(W_) + " pixels";
        return false;
    }
    source.Pi = DoubleView{scorePi_.data(), static_cast<std::int64_t>(scorePi_.size())};
    const BackgroundModel scratch = scored_.View();
    const UpdatedFields into = UpdatedFieldsOf(scratch);
    const ModelCheck check = CheckModelInto(source, into, frame, weights);
    if (!check.ok()) {
        *error = std::string("the model cannot be scored: ") + check.message;
        return false;
    }
    if (!UpdateModelInto(source, into, frame, weights, StandardAllocator(), threads_)) {
        *error = "out of memory while scoring the frame";
        return false;
    }
    BackgroundModel scoredView = scratch;
    scoredView.MinimumVariance = source.MinimumVariance;
    try {
        decision_.resize(model_.imMask.size());
        NextStillCounts(parameters_, stream_, frame.data, scoreStill_);
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to score a frame of " + std::to_string(H_) + " x " +
                 std::to_string(W_) + " pixels";
        return false;
    }
    DecidePixels(parameters_, scoredView, frame.data, H_, W_, decision_.data(), scoreStill_.data(),
                 parameters_.blinkRate > 0 ? stream_.blink.data() : nullptr, threads_);
    FinishMask(parameters_, decision_.data(), H_, W_, mask, maskScratch_, threads_);
    if (probability != nullptr)
        std::copy(scored_.imMask.begin(), scored_.imMask.end(), probability);
    return true;
}

}  // namespace corvane
