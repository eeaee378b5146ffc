// CorvaneDetectorMex: the MEX file behind the CorvaneDetector class. It keeps
// every object's detector (parameters, model, per-frame matrix, mask
// post-processing: the corvane command's Detector) in C++ memory, under an
// opaque id that the object holds; nothing of the model crosses into MATLAB
// per frame.
//
//   id = CorvaneDetectorMex('new', start, options...)   start: frames or a model struct
//   [mask, probability] = CorvaneDetectorMex('step', id, frame)
//   [mask, probability] = CorvaneDetectorMex('step', id, frame, learnMask)
//   CorvaneDetectorMex('reset', id)
//   model = CorvaneDetectorMex('model', id)              the struct Corvane takes
//   info = CorvaneDetectorMex('info', id)                size, threads, frames, parameters
//   CorvaneDetectorMex('delete', id)                     unknown ids are ignored
//   count = CorvaneDetectorMex('count')                  detectors alive
//   y = CorvaneDetectorMex('exp', x)                     the core's correctly rounded exp
//                                                        (corvaneNeighborhood's matrix)
//
// Every id is checked before anything is touched (DetectorRegistry.h). The
// registry is freed by mexAtExit when MATLAB or Octave unloads the file, and
// ids from before that are told apart from deleted ones.
//
// Errors leave a MEX function by a long jump in MATLAB, which runs no
// destructor: all work that holds C++ objects is done in functions that
// return a plain GatewayError, and errors are raised only after they return.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "DetectorMex.h"
#include "MexExport.h"
#include "RoundedMath.h"

namespace {

using namespace corvane::detector_mex;

static_assert(std::is_trivially_destructible<corvane::gateway::DetectorSettings>::value,
              "settings live in mexFunction's frame, which an error leaves without destructors");

void RequireCounts(int nrhs, int expected, int nlhs, int outputs, const char* command) {
    if (nrhs != expected || nlhs > outputs) {
        mexErrMsgIdAndTxt("Corvane:inputCount",
                          "CorvaneDetectorMex('%s', ...) takes %d inputs and gives at most %d "
                          "outputs; it was given %d inputs and asked for %d outputs",
                          command, expected, outputs, nrhs, nlhs);
    }
}

}  // namespace

// The only exported symbol.
extern "C" CORVANE_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                           const mxArray* prhs[]) {
    char command[16] = {};
    if (nrhs < 1 || !ReadText(prhs[0], command, sizeof command)) {
        mexErrMsgIdAndTxt("Corvane:badCommand",
                          "CorvaneDetectorMex is the engine of the CorvaneDetector class; use "
                          "the class (help CorvaneDetector)");
    }
    GatewayError error;
    if (std::strcmp(command, "new") == 0) {
        if (nlhs > 1) RequireCounts(nrhs, nrhs, nlhs, 1, command);
        const StartPlan plan = PlanStart(nrhs, prhs);
        corvane::gateway::DetectorSettings settings;
        bool looksScaledToOne = false;
        Raise(Prepare(nrhs, prhs, plan, &settings, &looksScaledToOne));
        if (looksScaledToOne) Warn(corvane::gateway::ScaledToOneWarning());
        std::uint64_t id = 0;
        Raise(New(prhs, plan, settings, looksScaledToOne, &id));
        plhs[0] = mxCreateNumericMatrix(1, 1, mxUINT64_CLASS, mxREAL);
        std::memcpy(mxGetData(plhs[0]), &id, sizeof id);
    } else if (std::strcmp(command, "step") == 0) {
        RequireCounts(nrhs, nrhs == 4 ? 4 : 3, nlhs, 2, command);
        DetectorState* state = FindDetector(nrhs, prhs, &error);
        Raise(error);
        const FrameFacts facts = FrameFactsOf(prhs[2]);
        int channels = 3;
        Raise(CheckStepFrame(*state, facts, &channels));
        if (nrhs == 4) Raise(ReadLearnMask(*state, prhs[3]));
        const double* image = nullptr;
        bool warn = false;
        Raise(ReadStepFrame(*state, facts, channels, &image, &warn));
        if (warn) Warn(corvane::gateway::ScaledToOneWarning());
        plhs[0] = mxCreateLogicalMatrix(state->detector.rows(), state->detector.columns());
        double* probability = nullptr;
        if (nlhs > 1) {
            plhs[1] = mxCreateDoubleMatrix(state->detector.rows(), state->detector.columns(), mxREAL);
            probability = mxGetPr(plhs[1]);
        }
        Raise(Step(*state, image, mxGetLogicals(plhs[0]), probability,
                   nrhs == 4 ? state->keep.data() : nullptr));
    } else if (std::strcmp(command, "reset") == 0) {
        RequireCounts(nrhs, 2, nlhs, 0, command);
        DetectorState* state = FindDetector(nrhs, prhs, &error);
        Raise(error);
        state->detector.Reset();
    } else if (std::strcmp(command, "model") == 0) {
        RequireCounts(nrhs, 2, nlhs, 1, command);
        DetectorState* state = FindDetector(nrhs, prhs, &error);
        Raise(error);
        plhs[0] = ExportModel(*state);
    } else if (std::strcmp(command, "info") == 0) {
        RequireCounts(nrhs, 2, nlhs, 1, command);
        DetectorState* state = FindDetector(nrhs, prhs, &error);
        Raise(error);
        plhs[0] = Info(*state);
    } else if (std::strcmp(command, "delete") == 0) {
        RequireCounts(nrhs, 2, nlhs, 0, command);
        // The class deletes its detector when it goes away, also after the
        // MEX file was unloaded or when it was deleted before: only a live
        // id has anything to free, and no id is an error here.
        std::uint64_t id = ReadId(prhs[1], &error);
        if (!error.raised() && LoadedRegistry() != nullptr) LoadedRegistry()->Remove(id);
    } else if (std::strcmp(command, "exp") == 0) {
        // exp of every element, correctly rounded: the exp of the setup's
        // neighbourhood matrix, so that the toolbox's matrix has its bits
        // whatever MATLAB's own exp gives.
        RequireCounts(nrhs, 2, nlhs, 1, command);
        const mxArray* x = prhs[1];
        if (!mxIsDouble(x) || mxIsComplex(x) || mxIsSparse(x))
            mexErrMsgIdAndTxt("Corvane:badArgument",
                              "CorvaneDetectorMex('exp', x) takes a real, full double array; x "
                              "is %s%s",
                              mxIsComplex(x) ? "complex " : mxIsSparse(x) ? "sparse " : "",
                              mxGetClassName(x));
        plhs[0] = mxCreateNumericArray(mxGetNumberOfDimensions(x), mxGetDimensions(x),
                                       mxDOUBLE_CLASS, mxREAL);
        const std::size_t count = mxGetNumberOfElements(x);
        const double* in = mxGetPr(x);
        double* out = mxGetPr(plhs[0]);
        for (std::size_t i = 0; i < count; ++i) out[i] = corvane::ExpCorrectlyRounded(in[i]);
    } else if (std::strcmp(command, "count") == 0) {
        RequireCounts(nrhs, 1, nlhs, 1, command);
        plhs[0] = Scalar(LoadedRegistry() != nullptr ? static_cast<double>(LoadedRegistry()->size()) : 0.0);
    } else {
        mexErrMsgIdAndTxt("Corvane:badCommand",
                          "CorvaneDetectorMex has no command '%s'; use the CorvaneDetector class",
                          command);
    }
}
