// What a host does around each update when it segments a video frame by frame:
// how the model starts, how the prior is kept in its band and how pixels whose
// background flickers (leaves in wind, edges that shake with the camera) are
// allowed wide neurons. Everything here depends only on the frames seen so far, so a
// host that is handed one frame at a time (a live camera, the MATLAB/Octave
// detector's step, Python's apply) gives exactly the masks of the corvane
// command. The update itself and the model's layout are untouched: these are
// changes to the model's arrays between two updates, as any caller may make.
#pragma once

#include <cstdint>
#include <vector>

#include "ModelSetup.h"

namespace corvane {

// What a host keeps between frames besides the model.
struct StreamState {
    std::int32_t H = 0, W = 0;
    // Frames prepared so far.
    std::int64_t frameNumber = 0;
    // True: the model is built from the first initialFrames frames. False: an
    // existing model is continued (the start is skipped, and its
    // MaximumVariance is the start cap).
    bool startFromFrames = true;
    // The frames of the start (frames 1..initialFrames), kept only until the
    // last of them has been prepared.
    std::vector<std::vector<double>> leadingFrames;
    // The last frame prepared (3*N doubles, the model's layout).
    std::vector<double> previousFrame;
    // Per pixel: the flicker variance, a running median of the frame-to-frame
    // change (squared colour units per channel), and the variance cap the
    // start gave the pixel.
    std::vector<double> flicker;
    std::vector<double> startCap;
    // Per pixel: the frames in a row, this one included, whose change since
    // the frame before (the mean square over the channels) was below
    // minimumVariance; 0 on the first frame.
    std::vector<double> still;
    // Per pixel: 1 where the last frame was decided foreground, and how often
    // the decision flips (TrackBlinking in MaskDecision.h).
    std::vector<double> lastForeground;
    std::vector<double> blink;
};

// The per-pixel arrays of StreamState that a host saves with a model so that
// a detector continued from it goes on exactly (Detector::RestoreStream):
// their names in a saved model and their values per pixel (H x W planes).
struct StreamField {
    const char* name;
    int planes;
    std::vector<double> StreamState::*values;
};
struct StreamFieldList {
    const StreamField* first;
    std::size_t count;
    const StreamField* begin() const { return first; }
    const StreamField* end() const { return first + count; }
    std::size_t size() const { return count; }
};
StreamFieldList StreamFields();

// Keeps every prior in [priorFloor, priorCeiling]: Pi < priorFloor becomes
// priorFloor, Pi > priorCeiling becomes priorCeiling (NaN stays NaN).
//
// Why: where nothing moves the update shrinks Pi by about (1 - StepSize) per
// frame without end, and the foreground probability of any colour shrinks
// with it: after an hour of quiet an object must differ from the background
// by far more than after a minute to be seen at all. The floor keeps the
// colour difference needed to be seen the same after any length of quiet.
// At the other end a prior of 1 makes the probability 1 for every colour and
// stops the neurons from learning (the background weight 1 - Pi is 0), so a
// pixel that an object covered for a very long time would stay foreground
// for good; the ceiling keeps it able to return to background.
void KeepPriorInBand(const ModelParameters& parameters, OwnedModel& model);

// Advances the flicker variance of every pixel by one frame and raises the
// variance cap of the pixels that flicker. Per pixel p, with d the change of
// each channel since the previous frame:
//   change = (d0*d0 + d1*d1 + d2*d2) / 3
//   flicker = change > flicker ? flicker * (1 + flickerStep)
//                              : flicker / (1 + flickerStep)
//   MaximumVariance = max(startCap, min(maximumVarianceLimit,
//                         flickerCapFactor * (flicker - minimumVariance)))
// The flicker variance walks up or down by a fixed ratio each frame and so
// settles where the change is as often above it as below it: its median, which
// passing objects (on a pixel for less than half of the frames) hardly move.
// It is small on a steady pixel (about 1.6 times the camera noise variance)
// and large where the background itself keeps changing (leaves, water, edges
// of a shaking camera), whether or not the model takes that change for
// foreground. minimumVariance, which the density adds to every neuron's
// variance anyway, is taken off first, so that ordinary camera noise leaves
// the cap of a steady pixel as the start set it and a car whose colour is
// near the road's is still found. The neurons' variances then grow up to the
// raised cap as the update adapts them.
void TrackFlicker(const ModelParameters& parameters, const double* frame,
                  const double* previousFrame, const std::vector<double>& startCap,
                  std::vector<double>& flicker, OwnedModel& model);

// The still counts (StreamState::still) that PrepareFrame would give with
// `frame` as the next frame, into `still`; `state` is left as it is. For a
// stream past its first frame.
void NextStillCounts(const ModelParameters& parameters, const StreamState& state,
                     const double* frame, std::vector<double>& still);

// Everything a host does with frame `frame` (3*H*W doubles, the model's
// layout) before UpdateModel, for the frames of one video in order:
//  - frames 1..initialFrames (the start, when startFromFrames): the model is
//    built anew from the frames so far, this one included
//    (BuildInitialModelFromFrames), with CurrentFrame counting the frames
//    before it; its MaximumVariance becomes the pixels' start cap (a model
//    continued keeps its own MaximumVariance as the start cap);
//  - every frame: KeepPriorInBand; from the second frame on, when
//    flickerStep > 0, TrackFlicker against the previous frame (the flicker
//    variance starts at minimumVariance).
// `state` must be fresh (default-constructed) before the first frame; its H
// and W are set then. Returns the frame's 1-based number. The per-pixel work
// (band, flicker, keeping the frame) runs on up to `threads` threads, as the
// update does (below 1: every hardware thread); every count gives the same
// bits.
// When memory runs out it throws std::bad_alloc with `state` and `model` left
// exactly as they were: everything it needs is obtained before anything is
// changed. Past the start, with the arrays of `state` of the image's size,
// it needs no memory at all.
std::int64_t PrepareFrame(const ModelParameters& parameters, StreamState& state,
                          OwnedModel& model, const double* frame, std::int32_t H,
                          std::int32_t W, int threads = 1);

}  // namespace corvane
