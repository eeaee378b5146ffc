// CorvaneDetectorMex: the MEX file behind the CorvaneDetector class. It keeps
// every object's detector (parameters, model, per-frame matrix, mask
// post-processing: the corvane command's Detector) in C++ memory, under an
// opaque id that the object holds; nothing of the model crosses into MATLAB
// per frame.
//
//   id = CorvaneDetectorMex('new', start, options...)   start: frames or a model struct
//   [mask, probability] = CorvaneDetectorMex('step', id, frame)
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
// No C++ exception leaves those functions either.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "mex.h"
#include "DetectorOptions.h"
#include "DetectorRegistry.h"
#include "FrameInput.h"
#include "GatewayModel.h"
#include "MxArrayFacts.h"
#include "ParameterTable.h"
#include "RoundedMath.h"

namespace {

using corvane::gateway::ArrayFacts;
using corvane::gateway::DetectorRegistry;
using corvane::gateway::DetectorState;
using corvane::gateway::FrameFacts;
using corvane::gateway::GatewayError;
using corvane::gateway::MakeError;
using corvane::gateway::kModelFieldCount;
using corvane::gateway::kModelFields;

static_assert(std::is_trivially_destructible<corvane::gateway::DetectorSettings>::value,
              "settings live in mexFunction's frame, which an error leaves without destructors");

DetectorRegistry* gRegistry = nullptr;

void ReleaseRegistry() {
    delete gRegistry;
    gRegistry = nullptr;
}

DetectorRegistry& Registry() {
    if (gRegistry == nullptr) {
        gRegistry = new DetectorRegistry(corvane::gateway::NewSession());
        mexAtExit(&ReleaseRegistry);
    }
    return *gRegistry;
}

void Raise(const GatewayError& error) {
    if (error.raised()) mexErrMsgIdAndTxt(error.identifier, "%s", error.message);
}

// --- reading arguments -------------------------------------------------------

// Text of a char array into `text` (room bytes); false when it is not one.
bool ReadText(const mxArray* array, char* text, int room) {
    if (!mxIsChar(array)) return false;
    if (mxGetString(array, text, room) != 0) {
        // Longer than the room: keep what fits, marked as cut.
        std::strcpy(text + room - 4, "...");
    }
    return true;
}

std::uint64_t ReadId(const mxArray* array, GatewayError* error) {
    if (mxGetClassID(array) != mxUINT64_CLASS || mxIsComplex(array) ||
        mxGetNumberOfElements(array) != 1) {
        *error = MakeError("Corvane:badHandle",
                           "the detector handle is of class %s; it must be the uint64 id a "
                           "CorvaneDetector holds",
                           mxGetClassName(array));
        return 0;
    }
    std::uint64_t id;
    std::memcpy(&id, mxGetData(array), sizeof id);
    return id;
}

// The live detector of prhs[1], or an error that says why there is none.
DetectorState* FindDetector(int nrhs, const mxArray* const prhs[], GatewayError* error) {
    if (nrhs < 2) {
        *error = MakeError("Corvane:badHandle", "no detector handle was given");
        return nullptr;
    }
    const std::uint64_t id = ReadId(prhs[1], error);
    if (error->raised()) return nullptr;
    DetectorRegistry& registry = Registry();
    switch (registry.Status(id)) {
        case corvane::gateway::IdStatus::Live:
            return registry.Find(id);
        case corvane::gateway::IdStatus::Deleted:
            *error = MakeError("Corvane:deletedHandle",
                               "this CorvaneDetector was deleted; make a new one");
            return nullptr;
        case corvane::gateway::IdStatus::EarlierLoad:
            *error = MakeError("Corvane:staleHandle",
                               "this CorvaneDetector was made before CorvaneDetectorMex was "
                               "last loaded (clear all or clear functions unload it, and in "
                               "MATLAB clear mex), so its model is gone; make a new detector");
            return nullptr;
        case corvane::gateway::IdStatus::NotAnId:
            break;
    }
    *error = id == 0 ? MakeError("Corvane:deletedHandle",
                                 "this CorvaneDetector was deleted; make a new one")
                     : MakeError("Corvane:badHandle", "%llu is not the id of a CorvaneDetector",
                                 static_cast<unsigned long long>(id));
    return nullptr;
}

FrameFacts FrameFactsOf(const mxArray* array) {
    FrameFacts facts;
    facts.className = mxGetClassName(array);
    switch (mxGetClassID(array)) {
        case mxUINT8_CLASS: facts.pixels = corvane::gateway::PixelClass::Uint8; break;
        case mxSINGLE_CLASS: facts.pixels = corvane::gateway::PixelClass::Single; break;
        case mxDOUBLE_CLASS: facts.pixels = corvane::gateway::PixelClass::Double; break;
        default: return facts;
    }
    facts.supported = true;
    facts.isComplex = mxIsComplex(array);
    facts.isSparse = mxIsSparse(array);
    facts.dimensions = static_cast<int>(mxGetNumberOfDimensions(array));
    const mwSize* sizes = mxGetDimensions(array);
    for (int d = 0; d < facts.dimensions && d < 8; ++d) facts.sizes[d] = static_cast<std::int64_t>(sizes[d]);
    facts.data = mxGetData(array);
    return facts;
}

corvane::gateway::OptionValue OptionValueOf(const mxArray* array) {
    corvane::gateway::OptionValue value;
    value.className = mxGetClassName(array);
    value.numeric = mxIsNumeric(array) || mxIsLogical(array);
    value.isComplex = mxIsComplex(array);
    value.count = static_cast<std::int64_t>(mxGetNumberOfElements(array));
    if (value.numeric && value.count == 1) value.value = mxGetScalar(array);
    return value;
}

// The options after the start: an optional parameter struct, then pairs.
GatewayError ReadOptions(int count, const mxArray* const options[],
                         std::vector<corvane::gateway::OptionPair>* pairs) {
    int first = 0;
    if (count > 0 && mxIsStruct(options[0])) {
        if (mxGetNumberOfElements(options[0]) != 1)
            return MakeError("Corvane:badParameter",
                             "a parameter struct must have exactly one element");
        const int fields = mxGetNumberOfFields(options[0]);
        for (int k = 0; k < fields; ++k) {
            corvane::gateway::OptionPair pair;
            pair.name = mxGetFieldNameByNumber(options[0], k);
            const mxArray* value = mxGetFieldByNumber(options[0], 0, k);
            if (value != nullptr) pair.value = OptionValueOf(value);
            pairs->push_back(pair);
        }
        first = 1;
    }
    if ((count - first) % 2 != 0) return corvane::gateway::OptionCountError(count);
    for (int i = first; i < count; i += 2) {
        char name[64];
        if (!ReadText(options[i], name, sizeof name))
            return corvane::gateway::OptionNameError(i + 1, mxGetClassName(options[i]));
        pairs->push_back({name, OptionValueOf(options[i + 1])});
    }
    return GatewayError{};
}

// --- the commands ----------------------------------------------------------------

GatewayError CatchAll(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return MakeError("Corvane:outOfMemory", "there is not enough memory for the detector");
    } catch (const std::length_error&) {
        return MakeError("Corvane:outOfMemory",
                         "the detector's arrays for this image would be too large to hold");
    } catch (const std::exception& e) {
        return MakeError("Corvane:detectorFailed", "the detector failed: %s", e.what());
    } catch (...) {
        return MakeError("Corvane:detectorFailed", "the detector failed");
    }
}

// What the first argument after 'new' is: leading frames to learn from, a
// model to continue, or (text, a parameter struct, [] or nothing) no start
// yet, the image size then coming with the first step.
enum class StartKind { None, Frames, Model };

struct StartPlan {
    StartKind kind = StartKind::None;
    int firstOption = 1;  // index in prhs of the first option
};

// Whether struct `s` has any field of a model (exact names): a parameter
// struct has none, since its names are spelt otherwise (stepSize, not
// StepSize), so a model with fields missing is still taken for a model.
bool HasModelField(const mxArray* s) {
    const int fields = mxGetNumberOfFields(s);
    for (int k = 0; k < fields; ++k)
        if (corvane::gateway::ModelFieldIndex(mxGetFieldNameByNumber(s, k)) >= 0) return true;
    return false;
}

StartPlan PlanStart(int nrhs, const mxArray* const prhs[]) {
    StartPlan plan;
    if (nrhs < 2 || mxIsChar(prhs[1])) return plan;
    if (mxIsStruct(prhs[1])) {
        if (HasModelField(prhs[1])) plan = {StartKind::Model, 2};
        return plan;
    }
    plan.firstOption = 2;
    if (mxGetNumberOfElements(prhs[1]) > 0 || !mxIsNumeric(prhs[1])) plan.kind = StartKind::Frames;
    return plan;
}

// A frame the detector refused: out of memory, or why not.
GatewayError ProcessError(const corvane::Detector& detector, const std::string& reason) {
    return MakeError(detector.outOfMemory() ? "Corvane:outOfMemory" : "Corvane:detectorFailed",
                     "%s", reason.c_str());
}

// Sizes the buffers every frame of an H x W detector passes through.
void SizeBuffers(DetectorState& state) {
    const std::size_t pixels =
        static_cast<std::size_t>(state.detector.rows()) * state.detector.columns();
    state.frame.resize(3 * pixels);
    state.mask.resize(pixels);
}

// Starts `state` from a model struct: the same field checks as Corvane,
// then the detector's own (map shape, frame count).
GatewayError StartFromModel(const mxArray* model, corvane::gateway::DetectorSettings& settings,
                            std::unique_ptr<DetectorState>& state) {
    GatewayError error = corvane::gateway::CheckModelArgument(
        true, "struct", static_cast<std::int64_t>(mxGetNumberOfElements(model)));
    if (error.raised()) return error;
    corvane::BackgroundModel view;
    for (int i = 0; i < kModelFieldCount; ++i) {
        const ArrayFacts facts =
            corvane::gateway::MxArrayFacts(mxGetField(model, 0, kModelFields[i].name));
        error = corvane::gateway::CheckField(facts, i);
        if (error.raised()) return error;
        view.*kModelFields[i].view = corvane::gateway::ViewOf(facts);
    }
    // The frame and matrix come with every step; any size does for them here.
    static const double kAny = 0;
    const std::int64_t kAnyCount = INT64_MAX;
    corvane::ModelSizes sizes;
    error = corvane::gateway::CheckBoundModel(view, corvane::FrameImage{&kAny, kAnyCount},
                                              corvane::NeighborhoodMatrix{&kAny, kAnyCount}, &sizes);
    if (error.raised()) return error;
    // The map shape comes from the model unless the options say it.
    std::int32_t mapRows = 0, mapColumns = 0;
    corvane::TruncateSize(view.NumMapRows.data[0], &mapRows);
    corvane::TruncateSize(view.NumMapColumns.data[0], &mapColumns);
    std::vector<corvane::gateway::OptionPair> shape;
    if (!settings.mapRowsGiven) shape.push_back({"mapRows", {"double", true, false, 1, double(mapRows)}});
    if (!settings.mapColumnsGiven)
        shape.push_back({"mapColumns", {"double", true, false, 1, double(mapColumns)}});
    error = corvane::gateway::ApplyOptions(shape, &settings);
    if (error.raised()) return error;

    state.reset(new DetectorState(settings.parameters));
    std::string reason;
    if (!state->detector.StartFromModel(view, &reason))
        return MakeError("Corvane:badModel", "%s", reason.c_str());
    SizeBuffers(*state);
    return GatewayError{};
}

// Starts `state` on H x W images.
GatewayError StartOn(DetectorState& state, std::int32_t H, std::int32_t W) {
    std::string reason;
    if (!state.detector.Start(H, W, &reason))
        return MakeError("Corvane:frameSize", "%s", reason.c_str());
    SizeBuffers(state);
    return GatewayError{};
}

// The bytes of one value of a frame.
std::size_t PixelBytes(corvane::gateway::PixelClass pixels) {
    return pixels == corvane::gateway::PixelClass::Uint8    ? 1
           : pixels == corvane::gateway::PixelClass::Single ? 4
                                                            : 8;
}

// Starts `state` on the frames' size and lets it learn from every frame of
// the H x W x 3 x T stack, in order, as steps would (the masks are not kept).
GatewayError StartFromFrames(const mxArray* frames, std::unique_ptr<DetectorState>& state) {
    const FrameFacts facts = FrameFactsOf(frames);
    std::int32_t H = 0, W = 0;
    std::int64_t T = 0;
    GatewayError error = corvane::gateway::CheckLeadingFrames(facts, &H, &W, &T);
    if (error.raised()) return error;
    error = StartOn(*state, H, W);
    if (error.raised()) return error;
    const std::int64_t count = 3 * static_cast<std::int64_t>(H) * W;
    for (std::int64_t t = 0; t < T; ++t) {
        const void* data = static_cast<const char*>(facts.data) +
                           t * count * static_cast<std::int64_t>(PixelBytes(facts.pixels));
        const bool inPlace = facts.pixels == corvane::gateway::PixelClass::Double;
        corvane::gateway::ReadFrame(facts.pixels, data, count, inPlace ? nullptr : state->frame.data());
        const corvane::FrameImage image{
            inPlace ? static_cast<const double*>(data) : state->frame.data(), count};
        std::string reason;
        if (!state->detector.Process(image, state->mask.data(), nullptr, &reason))
            return ProcessError(state->detector, reason);
    }
    return GatewayError{};
}

// Everything about a 'new' call that can be said before a detector exists:
// the options, the leading frames' checks, and whether floating frames look
// scaled to 0..1 (the warning is given before the detector is made, so that
// a warning turned into an error leaves nothing behind).
GatewayError Prepare(int nrhs, const mxArray* const prhs[], const StartPlan& plan,
                     corvane::gateway::DetectorSettings* settings, bool* looksScaledToOne) {
    try {
        std::vector<corvane::gateway::OptionPair> pairs;
        GatewayError error = ReadOptions(nrhs - plan.firstOption, prhs + plan.firstOption, &pairs);
        if (error.raised()) return error;
        error = corvane::gateway::ApplyOptions(pairs, settings);
        if (error.raised() || plan.kind != StartKind::Frames) return error;
        const FrameFacts facts = FrameFactsOf(prhs[1]);
        std::int32_t H = 0, W = 0;
        std::int64_t T = 0;
        error = corvane::gateway::CheckLeadingFrames(facts, &H, &W, &T);
        if (error.raised() || facts.pixels == corvane::gateway::PixelClass::Uint8) return error;
        const corvane::gateway::FrameSummary summary = corvane::gateway::ReadFrame(
            facts.pixels, facts.data, 3 * static_cast<std::int64_t>(H) * W * T, nullptr);
        if (!summary.finite) return corvane::gateway::NotFiniteError();
        *looksScaledToOne = summary.looksScaledToOne;
        return GatewayError{};
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

GatewayError New(const mxArray* const prhs[], const StartPlan& plan,
                 corvane::gateway::DetectorSettings settings, bool warnedFrameRange,
                 std::uint64_t* id) {
    try {
        std::unique_ptr<DetectorState> state;
        GatewayError error;
        if (plan.kind == StartKind::Model) {
            error = StartFromModel(prhs[1], settings, state);
        } else {
            state.reset(new DetectorState(settings.parameters));
            if (plan.kind == StartKind::Frames) error = StartFromFrames(prhs[1], state);
        }
        if (error.raised()) return error;
        state->detector.SetThreads(settings.threads);
        state->warnedFrameRange = warnedFrameRange;
        *id = Registry().Add(std::move(state));
        if (*id == 0)
            return MakeError("Corvane:outOfMemory", "no detector id is left in this session");
        return GatewayError{};
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

// Checks a step's frame. A detector whose size no frame has fixed yet
// starts on this frame's, once the frame is known to be one it can take (NaN
// included), so that a refused first frame leaves it as it was and one that
// failed (out of memory) holds no size.
GatewayError CheckStepFrame(DetectorState& state, const FrameFacts& facts) {
    try {
        if (state.detector.started() && state.detector.sizeFixed())
            return corvane::gateway::CheckFrame(facts, state.detector.rows(),
                                                state.detector.columns());
        std::int32_t H = 0, W = 0;
        GatewayError error = corvane::gateway::CheckFirstFrame(facts, &H, &W);
        if (error.raised()) return error;
        if (!corvane::gateway::ReadFrame(facts.pixels, facts.data, 3 * static_cast<std::int64_t>(H) * W,
                                         nullptr)
                 .finite)
            return corvane::gateway::NotFiniteError();
        return StartOn(state, H, W);
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

// Reads a checked frame of the detector's size into the doubles the update
// reads (the frame itself when it is double); says whether it looks scaled
// to 0..1 and gives the warning's turn to the caller.
GatewayError ReadStepFrame(DetectorState& state, const FrameFacts& facts, const double** image,
                           bool* warnScaledToOne) {
    const std::int64_t count =
        3 * static_cast<std::int64_t>(state.detector.rows()) * state.detector.columns();
    const bool inPlace = facts.pixels == corvane::gateway::PixelClass::Double;
    const corvane::gateway::FrameSummary summary = corvane::gateway::ReadFrame(
        facts.pixels, facts.data, count, inPlace ? nullptr : state.frame.data());
    if (!summary.finite) return corvane::gateway::NotFiniteError();
    if (summary.looksScaledToOne && !state.warnedFrameRange) {
        state.warnedFrameRange = true;
        *warnScaledToOne = true;
    }
    *image = inPlace ? static_cast<const double*>(facts.data) : state.frame.data();
    return GatewayError{};
}

// Segments the frame read by ReadStepFrame into `mask` (logical) and
// `probability` (null when not asked for).
GatewayError Step(DetectorState& state, const double* image, mxLogical* mask,
                  double* probability) {
    try {
        const std::int64_t count =
            3 * static_cast<std::int64_t>(state.detector.rows()) * state.detector.columns();
        std::string reason;
        if (!state.detector.Process(corvane::FrameImage{image, count}, state.mask.data(),
                                    probability, &reason))
            return ProcessError(state.detector, reason);
        for (std::size_t p = 0; p < state.mask.size(); ++p) mask[p] = state.mask[p] != 0;
        return GatewayError{};
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

void Warn(const GatewayError& warning) {
    mexWarnMsgIdAndTxt(warning.identifier, "%s", warning.message);
}

// A double array of the given shape holding `count` values.
mxArray* DoubleArray(int dimensions, const mwSize* sizes, const double* values, std::size_t count) {
    mxArray* array = mxCreateNumericArray(dimensions, sizes, mxDOUBLE_CLASS, mxREAL);
    if (count > 0) std::memcpy(mxGetPr(array), values, count * sizeof(double));
    return array;
}

mxArray* Scalar(double value) { return mxCreateDoubleScalar(value); }

// The model as the struct Corvane takes: every field of the table, in its
// order and MATLAB shape (Mu 3 x K x N, Sigma2 K x N, Cov 4 x N, the
// per-pixel fields H x W, the others 1 x 1).
mxArray* ExportModel(const DetectorState& state) {
    const corvane::OwnedModel& m = state.detector.model();
    if (m.Mu.empty()) return mxCreateDoubleMatrix(0, 0, mxREAL);  // no frame seen yet
    const corvane::ModelSizes sizes = corvane::SizesOf(m);
    const corvane::BackgroundModel view = m.ReadView();
    const char* names[kModelFieldCount];
    for (int i = 0; i < kModelFieldCount; ++i) names[i] = kModelFields[i].name;
    const mwSize one[2] = {1, 1};
    mxArray* model = mxCreateStructArray(2, one, kModelFieldCount, names);
    for (int i = 0; i < kModelFieldCount; ++i) {
        std::int64_t extents[3];
        const int dimensions = corvane::FieldDimensions(kModelFields[i], sizes, extents);
        const mwSize shape[3] = {static_cast<mwSize>(extents[0]), static_cast<mwSize>(extents[1]),
                                 static_cast<mwSize>(extents[2])};
        const corvane::DoubleView& field = view.*kModelFields[i].view;
        const std::uint64_t elements = corvane::FieldElements(kModelFields[i], sizes);
        const std::uint64_t count =
            static_cast<std::uint64_t>(field.count) < elements ? field.count : elements;
        mxSetFieldByNumber(model, 0, i,
                           DoubleArray(dimensions, shape, field.data,
                                       static_cast<std::size_t>(count)));
    }
    return model;
}

// ImageSize [H W], Threads, FramesProcessed and Parameters (name -> value).
// The mx calls here may leave by a long jump, so nothing in this frame has a
// destructor: the names come straight from the parameter table, their list
// from mxMalloc (which MATLAB frees itself after an error).
static_assert(std::is_trivially_destructible<corvane::ParameterList>::value,
              "Info holds the table across mx calls");
mxArray* Info(const DetectorState& state) {
    const corvane::ParameterList table = corvane::ParameterTable();
    const char** names = static_cast<const char**>(mxMalloc(table.size() * sizeof(const char*)));
    for (std::size_t k = 0; k < table.size(); ++k) names[k] = table[k].name;
    const mwSize one[2] = {1, 1};
    mxArray* parameters = mxCreateStructArray(2, one, static_cast<int>(table.size()), names);
    mxFree(names);
    for (std::size_t k = 0; k < table.size(); ++k)
        mxSetFieldByNumber(parameters, 0, static_cast<int>(k),
                           Scalar(corvane::GetParameter(state.detector.parameters(), table[k])));

    const char* fields[] = {"ImageSize", "Threads", "FramesProcessed", "Parameters"};
    mxArray* info = mxCreateStructArray(2, one, 4, fields);
    const mwSize row[2] = {1, 2};
    const double size[2] = {static_cast<double>(state.detector.rows()),
                            static_cast<double>(state.detector.columns())};
    mxSetFieldByNumber(info, 0, 0, DoubleArray(2, row, size, 2));
    mxSetFieldByNumber(info, 0, 1, Scalar(state.detector.threads()));
    mxSetFieldByNumber(info, 0, 2, Scalar(static_cast<double>(state.detector.framesProcessed())));
    mxSetFieldByNumber(info, 0, 3, parameters);
    return info;
}

void RequireCounts(int nrhs, int expected, int nlhs, int outputs, const char* command) {
    if (nrhs != expected || nlhs > outputs) {
        mexErrMsgIdAndTxt("Corvane:inputCount",
                          "CorvaneDetectorMex('%s', ...) takes %d inputs and gives at most %d "
                          "outputs; it was given %d inputs and asked for %d outputs",
                          command, expected, outputs, nrhs, nlhs);
    }
}

}  // namespace

#if defined(_WIN32)
#define CORVANE_EXPORT __declspec(dllexport)
#else
#define CORVANE_EXPORT __attribute__((visibility("default")))
#endif

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
        RequireCounts(nrhs, 3, nlhs, 2, command);
        DetectorState* state = FindDetector(nrhs, prhs, &error);
        Raise(error);
        const FrameFacts facts = FrameFactsOf(prhs[2]);
        Raise(CheckStepFrame(*state, facts));
        const double* image = nullptr;
        bool warn = false;
        Raise(ReadStepFrame(*state, facts, &image, &warn));
        if (warn) Warn(corvane::gateway::ScaledToOneWarning());
        plhs[0] = mxCreateLogicalMatrix(state->detector.rows(), state->detector.columns());
        double* probability = nullptr;
        if (nlhs > 1) {
            plhs[1] = mxCreateDoubleMatrix(state->detector.rows(), state->detector.columns(), mxREAL);
            probability = mxGetPr(plhs[1]);
        }
        Raise(Step(*state, image, mxGetLogicals(plhs[0]), probability));
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
        if (!error.raised() && gRegistry != nullptr) gRegistry->Remove(id);
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
        plhs[0] = Scalar(gRegistry != nullptr ? static_cast<double>(gRegistry->size()) : 0.0);
    } else {
        mexErrMsgIdAndTxt("Corvane:badCommand",
                          "CorvaneDetectorMex has no command '%s'; use the CorvaneDetector class",
                          command);
    }
}
