#include "Subtractor.h"

#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

#include "WorkerThreads.h"

namespace corvane::python {

Subtractor::Subtractor(const ModelParameters& parameters, int threads)
    : parameters_(parameters), detector_(parameters) {
    detector_.SetThreads(threads);
}

Failure Subtractor::StartFromModel(const BackgroundModel& model, const FlickerState* flicker,
                                   std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        if (!detector_.StartFromModel(model, error))
            return detector_.outOfMemory() ? Failure::Memory : Failure::Value;
        if (flicker != nullptr &&
            !detector_.RestoreStream(*flicker, error))
            return Failure::Value;
        const OwnedModel& m = detector_.model();
        probability_ = m.imMask;
        haveProbability_ = true;
    } catch (const std::bad_alloc&) {
        *error = "not enough memory for a copy of the model";
        return Failure::Memory;
    }
    return Failure::None;
}

Failure Subtractor::Continue(const SavedDetector& saved, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        if (!ContinueDetector(saved, &detector_, error))
            return detector_.outOfMemory() ? Failure::Memory : Failure::Value;
        probability_ = detector_.model().imMask;
        haveProbability_ = true;
    } catch (const std::bad_alloc&) {
        *error = "not enough memory for a copy of the model";
        return Failure::Memory;
    }
    return Failure::None;
}

Failure Subtractor::Save(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        return SaveDetector(detector_, path, error) ? Failure::None : Failure::Value;
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to save the model";
        return Failure::Memory;
    }
}

Failure Subtractor::Bytes(std::string* bytes, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        const ModelParameters parameters = detector_.parameters();
        return ModelFileBytes(detector_.model(), &detector_.stream(), &parameters, bytes, error)
                   ? Failure::None
                   : Failure::Value;
    } catch (const std::bad_alloc&) {
        *error = "not enough memory for the model's bytes";
        return Failure::Memory;
    }
}

Failure Subtractor::Apply(const HostFrame& frame, double learningRate, const MaskView& mask,
                          std::string* error, const LearnMaskView* keep) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t H = frame.rows, W = frame.columns, N = H * W;
    // The first frame that is segmented fixes the size (one that failed
    // does not).
    const bool sizeFixed = detector_.started() && detector_.sizeFixed();
    if (sizeFixed && (H != detector_.rows() || W != detector_.columns())) {
        *error = "the frame is " + std::to_string(H) + " x " + std::to_string(W) +
                 " pixels but the first was " + std::to_string(detector_.rows()) + " x " +
                 std::to_string(detector_.columns()) + "; one subtractor segments one video";
        return Failure::Value;
    }
    if (learningRate == 0 && (!detector_.started() || detector_.model().Mu.empty())) {
        *error = "learningRate=0 scores the frame against the model, and there is no model "
                 "before the first frame: apply it with learningRate -1 or above 0";
        return Failure::Value;
    }
    if (!sizeFixed && (H > INT32_MAX || W > INT32_MAX || N > INT32_MAX)) {
        *error = "a frame of " + std::to_string(H) + " x " + std::to_string(W) +
                 " pixels cannot be segmented: it needs 1 to 2^31 - 1 pixels";
        return Failure::Value;
    }
    try {
        frame_.resize(static_cast<std::size_t>(3 * N));
        mask_.resize(static_cast<std::size_t>(N));
        probability_.resize(static_cast<std::size_t>(N));
        if (keep != nullptr) keep_.resize(static_cast<std::size_t>(N));
    } catch (const std::bad_alloc&) {
        *error = "not enough memory for a frame of " + std::to_string(H) + " x " +
                 std::to_string(W) + " pixels";
        return Failure::Memory;
    } catch (const std::length_error&) {
        *error = "a frame of " + std::to_string(H) + " x " + std::to_string(W) +
                 " pixels is too large to be held in memory";
        return Failure::Memory;
    }
    // The frame's conversion and the detector's steps share one crew of
    // threads, joined before Apply returns.
    const ThreadCrew crew;
    // On the detector's threads, as the rest of the frame's work.
    if (!ReadHostFrame(frame, frame_.data(), detector_.threads())) {
        *error = "the frame has NaN or infinite values; colours must be numbers in 0..255";
        return Failure::Value;
    }
    if (!sizeFixed &&
        !detector_.Start(static_cast<std::int32_t>(H), static_cast<std::int32_t>(W), error))
        return Failure::Value;
    const FrameImage image{frame_.data(), 3 * N};
    Detector::Learning learning;
    learning.rate = learningRate < 0 ? -1 : learningRate;
    if (keep != nullptr) {
        for (std::int64_t r = 0; r < H; ++r) {
            const char* row = keep->data + r * keep->strides[0];
            for (std::int64_t c = 0; c < W; ++c)
                keep_[static_cast<std::size_t>(c * H + r)] = row[c * keep->strides[1]] != 0;
        }
        learning.keep = keep_.data();
    }
    bool ok = false;
    try {
        if (learningRate == 0)
            ok = detector_.Score(image, mask_.data(), probability_.data(), error);
        else
            ok = detector_.Process(image, mask_.data(), probability_.data(), error, learning);
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to segment a frame of " + std::to_string(H) + " x " +
                 std::to_string(W) + " pixels";
        return Failure::Memory;
    }
    if (!ok) return detector_.outOfMemory() ? Failure::Memory : Failure::Value;
    haveProbability_ = true;
    WriteHostMask(mask_.data(), H, W, mask.data, mask.strides[0], mask.strides[1]);
    return Failure::None;
}

bool Subtractor::Probability(std::vector<double>* columnMajor, std::int32_t* H, std::int32_t* W) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!haveProbability_) return false;
    *columnMajor = probability_;
    *H = detector_.rows();
    *W = detector_.columns();
    return true;
}

bool Subtractor::Model(OwnedModel* model, FlickerState* flicker) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!detector_.started() || detector_.model().Mu.empty()) return false;
    *model = detector_.model();
    const StreamState& stream = detector_.stream();
    for (const StreamField& field : StreamFields()) (*flicker).*field.values = stream.*field.values;
    return true;
}

bool Subtractor::BackgroundImage(std::vector<std::uint8_t>* bgr, std::int32_t* H,
                                 std::int32_t* W) {
    std::lock_guard<std::mutex> lock(mutex_);
    const OwnedModel& m = detector_.model();
    if (!detector_.started() || m.Mu.empty()) return false;
    const std::int64_t rows = detector_.rows(), columns = detector_.columns();
    const std::int64_t K = static_cast<std::int64_t>(m.NumMapRows * m.NumMapColumns);
    bgr->assign(static_cast<std::size_t>(rows * columns * 3), 0);
    for (std::int64_t c = 0; c < columns; ++c)
        for (std::int64_t r = 0; r < rows; ++r) {
            const double* mu = m.Mu.data() + (c * rows + r) * K * 3;
            for (int ch = 0; ch < 3; ++ch) {
                double sum = 0;
                for (std::int64_t j = 0; j < K; ++j) sum += mu[j * 3 + ch];
                double v = std::round(sum / static_cast<double>(K));
                v = v > 0 ? (v < 255 ? v : 255) : 0;  // NaN to 0
                (*bgr)[static_cast<std::size_t>((r * columns + c) * 3 + (2 - ch))] =
                    static_cast<std::uint8_t>(v);
            }
        }
    *H = detector_.rows();
    *W = detector_.columns();
    return true;
}

void Subtractor::SetThreads(int threads) {
    std::lock_guard<std::mutex> lock(mutex_);
    detector_.SetThreads(threads);
}

int Subtractor::threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return detector_.threads();
}

std::int64_t Subtractor::framesProcessed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return detector_.framesProcessed();
}

}  // namespace corvane::python
