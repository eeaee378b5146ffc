// Background subtraction of one video, frame after frame: the state every host
// wraps (the corvane command, the MATLAB/Octave detector object, the Python
// module), so that all of them give the same masks bit for bit. It holds the
// parameters, the model, the frame number, the neighbourhood matrix of the
// current frame and the mask post-processing; frames and masks are in the
// model's layout (column-major, channel planes R, G, B, colours 0..255).
//
//   Detector detector(parameters);                 // throws InvalidParameters
//   detector.Start(leadingFrames, H, W, &error);
//   for (each frame) detector.Process(frame, mask, nullptr, &error);
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BackgroundModel.h"
#include "ModelSetup.h"

namespace corvane {

class Detector {
public:
    // Throws InvalidParameters (ParameterTable.h) when ValidateParameters
    // rejects `parameters`.
    explicit Detector(const ModelParameters& parameters);

    const ModelParameters& parameters() const { return parameters_; }

    // Worker threads the update may use; 0: as many as the machine has. An
    // execution setting, not a model parameter: every count gives the same
    // bits.
    void SetThreads(int threads) { threads_ = threads < 0 ? 0 : threads; }
    int threads() const { return threads_; }

    // How many leading frames the start uses at most (initialFrames).
    std::int32_t LeadingFrameCount() const { return parameters_.initialFrames; }

    // Starts the model of an H x W video from its leading frames, each 3*H*W
    // doubles in the model's layout (at least one; beyond LeadingFrameCount
    // they are not looked at): BuildInitialModelFromFrames. The frames are not
    // segmented here; every frame, these included, goes through Process.
    // False, with the reason in `error` and the detector as it was, for no
    // frame or an image of no pixels or of more than 2^31 - 1.
    bool Start(const std::vector<const double*>& frames, std::int32_t H, std::int32_t W,
               std::string* error);
    // The same start from the leading frames' statistics (LeadingFrameStatistics),
    // for hosts that take them a piece of the image at a time.
    bool StartFromStatistics(const FrameStatistics& statistics, std::int32_t H, std::int32_t W,
                             std::string* error);
    // Continues an existing model, copied: it must pass CheckModel, have this
    // detector's map shape, and count its frames (CurrentFrame) as a whole
    // number from 0; the next frame is frame CurrentFrame + 1 of the
    // calibration schedule. Its MinimumVariance and StepSize are kept.
    bool StartFromModel(const BackgroundModel& model, std::string* error);

    bool started() const { return started_; }
    std::int32_t rows() const { return H_; }
    std::int32_t columns() const { return W_; }
    // Frames segmented since the start (Reset sets it back to 0).
    std::int64_t framesProcessed() const { return framesProcessed_; }

    // Segments the next frame (3*H*W doubles): updates the model, writes the
    // binary mask (H*W bytes, 0 or 255, column-major) to `mask` and, when not
    // null, the smoothed foreground probability (imMask, H*W doubles) to
    // `probability`. False, with the reason in `error` and nothing written,
    // before a start, for a frame of another size, or when the update's
    // scratch cannot be had.
    bool Process(const FrameImage& frame, std::uint8_t* mask, double* probability,
                 std::string* error);

    // Back to the state right after the start: the starting model, no frame
    // processed. Nothing happens before a start.
    void Reset();

    // The model as it stands (its imMask is the last frame's probability);
    // copy it to keep it.
    const OwnedModel& model() const { return model_; }

private:
    void Begin(OwnedModel model);
    const std::vector<double>& MatrixFor(std::int64_t frameNumber);

    ModelParameters parameters_;
    int threads_ = 0;
    bool started_ = false;
    std::int32_t H_ = 0, W_ = 0;
    OwnedModel model_;
    // What Reset goes back to: the leading frames' statistics (a few doubles
    // per pixel, rebuilt into the model), or a copy of the model continued.
    FrameStatistics startStatistics_;
    OwnedModel startModel_;
    // CurrentFrame of the starting model, and frames processed since.
    std::int64_t firstFrame_ = 0;
    std::int64_t framesProcessed_ = 0;
    // The neighbourhood matrix of the last frame and the rate it was built
    // for: it changes only during calibration.
    std::vector<double> matrix_;
    double matrixRate_ = -1;
};

}  // namespace corvane
