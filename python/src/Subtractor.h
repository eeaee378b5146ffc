// The Python module's subtractor without Python: a Detector, a frame and
// mask buffer in the model's layout (FrameLayout.h reads NumPy's images into
// it and writes the masks back), and a lock, so that the update can run while other
// Python threads do. Module.cpp binds it; nothing here touches the
// interpreter, so it may run with the GIL released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Detector.h"
#include "FrameLayout.h"
#include "ModelFile.h"

namespace corvane::python {

// What the detector keeps between frames, saved with a model: the arrays of
// StreamFields() (Detector::RestoreStream).
using FlickerState = StreamState;

// An H x W uint8 mask to write, any strides.
struct MaskView {
    char* data = nullptr;
    std::int64_t strides[2] = {};
};

// An H x W learn mask as NumPy holds it (bool or uint8, any strides): not 0
// where the frame's colour is not to be learnt.
struct LearnMaskView {
    const char* data = nullptr;
    std::int64_t strides[2] = {};
};

// How a call failed: the Python exception it becomes.
enum class Failure { None, Value, Memory };

class Subtractor {
public:
    // Throws InvalidParameters (ParameterTable.h) for parameters the table
    // rejects.
    Subtractor(const ModelParameters& parameters, int threads);

    // Continues `model` (checked as Detector::StartFromModel checks it), and
    // its flicker tracking when `flicker` is not null (Detector::RestoreStream).
    Failure StartFromModel(const BackgroundModel& model, const FlickerState* flicker,
                           std::string* error);

    // Segments one frame into `mask`. learningRate < 0: the parameters'
    // schedule; 0: the model is only scored (Detector::Score), nothing
    // changes; (0, 1]: the winner's learning rate of this frame. The first
    // frame fixes the image size.
    // `keep`, when not null, is the frame's learn mask (Detector::Learning);
    // it must have the frame's size.
    Failure Apply(const HostFrame& frame, double learningRate, const MaskView& mask,
                  std::string* error, const LearnMaskView* keep = nullptr);

    // Continues the model of a model file (ModelFile.h), and what the
    // detector keeps between frames when the file has it.
    Failure Continue(const SavedDetector& saved, std::string* error);
    // The model, what is kept between frames and the parameters to the file
    // `path`, or as the bytes of such a file. Value failure before the first
    // frame.
    Failure Save(const std::string& path, std::string* error);
    Failure Bytes(std::string* bytes, std::string* error);

    // Copies of the state, under the lock. False when no frame has been
    // segmented yet (nor a model given).
    bool Probability(std::vector<double>* columnMajor, std::int32_t* H, std::int32_t* W);
    bool Model(OwnedModel* model, FlickerState* flicker);
    // Per pixel the mean of its neurons' colours, rounded, as H x W x 3 BGR
    // bytes in row-major order.
    bool BackgroundImage(std::vector<std::uint8_t>* bgr, std::int32_t* H, std::int32_t* W);

    void SetThreads(int threads);
    int threads();
    std::int64_t framesProcessed();
    const ModelParameters& parameters() const { return parameters_; }

private:
    std::mutex mutex_;
    const ModelParameters parameters_;
    Detector detector_;
    std::vector<double> frame_;
    std::vector<std::uint8_t> mask_;
    std::vector<std::uint8_t> keep_;
    std::vector<double> probability_;
    bool haveProbability_ = false;
};

}  // namespace corvane::python
