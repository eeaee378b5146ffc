// What the pieces of CorvaneDetectorMex share: the registry of detectors,
// reading the MEX arguments, starting a detector, a step, and the structs a
// detector is exported as. Every function that holds C++ objects returns a
// plain GatewayError and lets no C++ exception out: an error leaves a MEX
// function by a long jump, which runs no destructor, so errors are raised
// (Raise) only after those functions return.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "mex.h"
#include "DetectorOptions.h"
#include "DetectorRegistry.h"
#include "FrameInput.h"
#include "GatewayModel.h"

namespace corvane::detector_mex {

using corvane::gateway::DetectorRegistry;
using corvane::gateway::DetectorState;
using corvane::gateway::FrameFacts;
using corvane::gateway::GatewayError;
using corvane::gateway::MakeError;

// ---- the registry and errors (DetectorArguments.cpp) ----

// The session's registry, made (with its mexAtExit release) on first use.
DetectorRegistry& Registry();
// The registry when one was made since the MEX file was loaded, else null.
DetectorRegistry* LoadedRegistry();

// Raises `error` in MATLAB when it is one; never returns then.
void Raise(const GatewayError& error);
void Warn(const GatewayError& warning);

// The error for a C++ exception caught from the detector.
GatewayError CatchAll(const std::exception_ptr& failure);
// A frame the detector refused: out of memory, or why not.
GatewayError ProcessError(const corvane::Detector& detector, const std::string& reason);

// ---- reading arguments (DetectorArguments.cpp) ----

// Text of a char array into `text` (room bytes); false when it is not one.
bool ReadText(const mxArray* array, char* text, int room);
std::uint64_t ReadId(const mxArray* array, GatewayError* error);
// The live detector of prhs[1], or an error that says why there is none.
DetectorState* FindDetector(int nrhs, const mxArray* const prhs[], GatewayError* error);
FrameFacts FrameFactsOf(const mxArray* array);
// The options after the start: an optional parameter struct, then pairs.
GatewayError ReadOptions(int count, const mxArray* const options[],
                         std::vector<corvane::gateway::OptionPair>* pairs);

// ---- making a detector (DetectorStart.cpp) ----

// What the first argument after 'new' is: leading frames to learn from, a
// model to continue, or (text, a parameter struct, [] or nothing) no start
// yet, the image size then coming with the first step.
enum class StartKind { None, Frames, Model };

struct StartPlan {
    StartKind kind = StartKind::None;
    int firstOption = 1;  // index in prhs of the first option
};

StartPlan PlanStart(int nrhs, const mxArray* const prhs[]);

// Everything about a 'new' call that can be said before a detector exists:
// the options, the leading frames' checks, and whether floating frames look
// scaled to 0..1 (the warning is given before the detector is made, so that
// a warning turned into an error leaves nothing behind).
GatewayError Prepare(int nrhs, const mxArray* const prhs[], const StartPlan& plan,
                     corvane::gateway::DetectorSettings* settings, bool* looksScaledToOne);

// Makes the detector and registers it under `id`.
GatewayError New(const mxArray* const prhs[], const StartPlan& plan,
                 corvane::gateway::DetectorSettings settings, bool warnedFrameRange,
                 std::uint64_t* id);

// Starts `state` on H x W images.
GatewayError StartOn(DetectorState& state, std::int32_t H, std::int32_t W);

// ---- a step (DetectorStep.cpp) ----

// Checks a step's frame and gives its channels (3, or 1 for grey); a
// detector whose size no frame has fixed yet starts on this frame's.
GatewayError CheckStepFrame(DetectorState& state, const FrameFacts& facts, int* channels);
// Reads a checked frame into the doubles the update reads; says whether it
// looks scaled to 0..1 (the warning's turn goes to the caller).
GatewayError ReadStepFrame(DetectorState& state, const FrameFacts& facts, int channels,
                           const double** image, bool* warnScaledToOne);
// Segments the frame read by ReadStepFrame into `mask` (logical) and
// `probability` (null when not asked for).
// `keep`: the learn mask of ReadLearnMask, or null.
GatewayError Step(DetectorState& state, const double* image, mxLogical* mask,
                  double* probability, const std::uint8_t* keep = nullptr);

// ---- a step's learn mask (DetectorLearnMask.cpp) ----

// The 'LearnMask' of a step: an H x W logical or real numeric array, not 0
// where the frame's colour is not to be learnt, into state.keep.
GatewayError ReadLearnMask(DetectorState& state, const mxArray* learnMask);

// What the detector keeps between frames, from the fields of a model struct
// that has them (a model file's, or one exported with them): restored when
// all are there, nothing when none is, Corvane:badModel for part of them.
GatewayError RestoreStreamFields(DetectorState& state, const mxArray* model);

// ---- what a detector gives back (DetectorExport.cpp) ----

mxArray* Scalar(double value);
// The model as the struct Corvane takes ([] before the first frame).
mxArray* ExportModel(const DetectorState& state);
// ImageSize [H W], Threads, FramesProcessed and Parameters (name -> value).
mxArray* Info(const DetectorState& state);

}  // namespace corvane::detector_mex
