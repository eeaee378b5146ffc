// Background subtraction of one video, frame after frame: the state every host
// wraps (the corvane command, the MATLAB/Octave detector object, the Python
// module), so that all of them give the same masks bit for bit. It holds the
// parameters, the model, the frame number, what is kept between frames (the
// start, the prior band and the flicker tracking of FrameStream.h), the
// neighbourhood matrix of the current frame and the mask post-processing;
// frames and masks are in the model's layout (column-major, channel planes R,
// G, B, colours 0..255). Nothing is read ahead: the mask of frame t depends
// on frames 1..t only, so a host handed one frame at a time gives the masks
// of the corvane command.
//
//   Detector detector(parameters);                 // throws InvalidParameters
//   detector.Start(H, W, &error);
//   for (each frame) detector.Process(frame, mask, nullptr, &error);
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BackgroundModel.h"
#include "FrameStream.h"
#include "MaskDecision.h"
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

    // Where the update's scratch comes from (the host's allocator; malloc and
    // free until set). Both operations must be given; otherwise nothing
    // changes. Only the calling thread calls them.
    void SetAllocator(const HostAllocator& host) {
        if (host.allocate != nullptr && host.release != nullptr) host_ = host;
    }

    // Starts an H x W video. The model is built from the frames as they are
    // processed: before each of frames 1..initialFrames from the frames so far
    // (PrepareFrame), so model() is empty until the first frame. False, with
    // the reason in `error` and the detector as it was, for an image of no
    // pixels or of more than 2^31 - 1.
    bool Start(std::int32_t H, std::int32_t W, std::string* error);
    // Continues an existing model, copied: it must pass CheckModel, have this
    // detector's map shape, and count its frames (CurrentFrame) as a whole
    // number from 0; the next frame is frame CurrentFrame + 1 of the
    // calibration schedule. Its MinimumVariance and StepSize are kept. The
    // start is not run again; the prior band applies from the next frame, and
    // the flicker tracking starts afresh (its history is not in the model),
    // with the model's MaximumVariance as the start cap.
    bool StartFromModel(const BackgroundModel& model, std::string* error);

    // What a video continued from a model keeps between frames besides the
    // model, for a host that saved it with the model (stream(); the arrays
    // of StreamFields()): the flicker tracking, the still counts and the
    // blink feedback. Called after StartFromModel and before the first
    // frame; the frames then give exactly the masks and models the saved
    // detector would have given (once past the start: a model saved during
    // the first initialFrames frames goes on without the rest of the start).
    // False, with the reason and nothing changed, for arrays of other sizes
    // or at another time.
    bool RestoreStream(const StreamState& saved, std::string* error);
    // What is kept between frames besides the model.
    const StreamState& stream() const { return stream_; }

    bool started() const { return started_; }
    std::int32_t rows() const { return H_; }
    std::int32_t columns() const { return W_; }
    // Frames segmented since the start (Reset sets it back to 0).
    std::int64_t framesProcessed() const { return framesProcessed_; }
    // Whether the image size is fixed: once a frame has been segmented, or
    // from the start when a model is continued. A host that starts the
    // detector on its first frame's size starts it again on the next
    // frame's while this is false, so that a first frame that failed (for
    // want of memory, say) does not hold the size.
    bool sizeFixed() const { return sizeFixed_; }
    // Whether the last Process or Score that returned false failed for want
    // of memory (the host then raises its out-of-memory error).
    bool outOfMemory() const { return outOfMemory_; }

    // Segments the next frame (3*H*W doubles): prepares the model
    // (PrepareFrame: the start, the prior band, the flicker), updates it, writes the
    // binary mask (H*W bytes, 0 or 255, column-major) to `mask` and, when not
    // null, the smoothed foreground probability (imMask, H*W doubles) to
    // `probability`. False, with the reason in `error` and nothing written,
    // before a start, for a frame of another size, or when the frame's
    // memory cannot be had. A frame that fails leaves the detector exactly
    // as it was: the model, the frame count, the start, the flicker
    // tracking and the mask decision's state.
    bool Process(const FrameImage& frame, std::uint8_t* mask, double* probability,
                 std::string* error);
    // The same, with `learningRate` (above 0, at most 1) as the winner's
    // learning rate of this frame in place of the parameters' (learningRate,
    // or the calibration rate): how far the neurons move towards the frame.
    // The neighbourhood width, the prior's step size and everything else stay
    // as the parameters say. A rate equal to the parameters' rate for this
    // frame gives exactly the bits of Process without it. False, with nothing
    // written, for a rate outside (0, 1].
    bool Process(const FrameImage& frame, std::uint8_t* mask, double* probability,
                 std::string* error, double learningRate);

    // How one frame is learnt. `rate`: -1 for the parameters' schedule, or
    // the winner's learning rate of this frame, above 0 and at most 1 (as
    // Process with a learning rate). `keep`, when not null: H*W bytes in
    // the model's pixel order, the learn mask; where a byte is not 0 the
    // frame's colour does not enter the model: that pixel's neurons (Mu),
    // their variances (Sigma2) and its prior (Pi) are as they were before
    // the frame, and its still count starts again from 0, so that the
    // decision neither absorbs it into its background nor takes it for
    // background because a neighbour explains it, however long it stands
    // still. Its probability, its mask and everything else (NeuroWin, Var,
    // Cov, the flicker tracking, the blink rate) go on as without the mask.
    // During the start (the first initialFrames frames of a video started
    // from frames) the model is built from the frames themselves, masked or
    // not. Without a mask the bits are those of Process.
    struct Learning {
        double rate = -1;
        const std::uint8_t* keep = nullptr;
    };
    bool Process(const FrameImage& frame, std::uint8_t* mask, double* probability,
                 std::string* error, const Learning& learning);

    // Segments `frame` against the model as it stands and keeps nothing: the
    // model, the frame count, the start and the flicker tracking are left
    // exactly as they were, bit for bit. The mask and probability are those
    // Process would give for this frame once the start is over (the prior
    // band is applied to a copy of the prior; the flicker only changes the
    // variance caps, which the score does not read). The update runs into
    // scratch arrays as large as the model, kept for the next call. False,
    // with nothing written, before the first frame (there is no model to
    // score against yet), for a frame of another size, or when memory cannot
    // be had.
    bool Score(const FrameImage& frame, std::uint8_t* mask, double* probability,
               std::string* error);

    // Back to the state right after the start: the starting model, no frame
    // processed. Nothing happens before a start.
    void Reset();

    // The model as it stands (its imMask is the last frame's probability);
    // copy it to keep it.
    const OwnedModel& model() const { return model_; }

private:
    void Begin(OwnedModel model);
    const std::vector<double>& MatrixFor(std::int64_t frameNumber, double learningRate);
    bool CheckFrame(const FrameImage& frame, std::string* error) const;
    bool Run(const FrameImage& frame, std::uint8_t* mask, double* probability,
             std::string* error, double learningRate, const std::uint8_t* keep);
    bool OutOfMemory(std::string* error, const char* what);

    ModelParameters parameters_;
    int threads_ = 0;
    HostAllocator host_ = StandardAllocator();
    bool started_ = false;
    bool sizeFixed_ = false;
    bool outOfMemory_ = false;
    std::int32_t H_ = 0, W_ = 0;
    OwnedModel model_;
    // What is kept between frames, and what Reset goes back to: nothing (a
    // start from the frames), or a copy of the model continued.
    StreamState stream_;
    bool fromModel_ = false;
    StreamState startStream_;
    OwnedModel startModel_;
    // CurrentFrame of the starting model, and frames processed since.
    std::int64_t firstFrame_ = 0;
    std::int64_t framesProcessed_ = 0;
    // The neighbourhood matrix of the last frame and the rate it was built
    // for: it changes only during calibration.
    std::vector<double> matrix_;
    double matrixRate_ = -1;
    // Score's scratch: the prior in its band, and the update's output.
    std::vector<double> scorePi_, scoreStill_;
    OwnedModel scored_;
    // Each pixel's decision of the last frame, before the median filter.
    std::vector<std::uint8_t> decision_;
    MaskScratch maskScratch_;
    // What the update must not change under the learn mask, saved before it:
    // per kept pixel its 3*K means, K variances and prior.
    std::vector<double> kept_;
};

}  // namespace corvane
