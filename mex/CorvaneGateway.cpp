// model = Corvane(model, frame, nhood): the MEX gateway.
//
// Checks every argument and field before anything is copied or computed, then
// duplicates the model, binds the copy's fields to a BackgroundModel and runs
// UpdateModel on it with MATLAB's allocator. The caller's struct is never
// written. Every rejection is a MATLAB error "Corvane:<what>" whose message
// names the argument or field, what it holds and what it needs.
//
// Errors leave the function by a long jump (MATLAB) or an exception thrown
// from inside the host (Octave), so they are raised only from plain-data
// frames: nothing here has a destructor to run.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mex.h"
#include "ModelCheck.h"
#include "UpdateModel.h"

namespace {

// The model's fields, by their exact (case-sensitive) names, and where each
// is bound in a BackgroundModel.
struct FieldBinding {
    const char* name;
    corvane::DoubleView corvane::BackgroundModel::*view;
};

constexpr FieldBinding kFields[] = {
    {"Mu", &corvane::BackgroundModel::Mu},
    {"Sigma2", &corvane::BackgroundModel::Sigma2},
    {"imMask", &corvane::BackgroundModel::imMask},
    {"Pi", &corvane::BackgroundModel::Pi},
    {"NeuroWin", &corvane::BackgroundModel::NeuroWin},
    {"Var", &corvane::BackgroundModel::Var},
    {"Cov", &corvane::BackgroundModel::Cov},
    {"MaximumVariance", &corvane::BackgroundModel::MaximumVariance},
    {"NumMapRows", &corvane::BackgroundModel::NumMapRows},
    {"NumMapColumns", &corvane::BackgroundModel::NumMapColumns},
    {"NumImageRows", &corvane::BackgroundModel::NumImageRows},
    {"NumImageColumns", &corvane::BackgroundModel::NumImageColumns},
    {"MinimumVariance", &corvane::BackgroundModel::MinimumVariance},
    {"StepSize", &corvane::BackgroundModel::StepSize},
    {"CurrentFrame", &corvane::BackgroundModel::CurrentFrame},
};

// A real, full, non-empty double array, or an error naming `what`
// ("field \"Mu\"", "the frame (input 2)").
void RequireRealDouble(const mxArray* array, const char* what) {
    if (!mxIsDouble(array)) {
        mexErrMsgIdAndTxt("Corvane:notDouble", "%s is of class %s; it must be a real double array",
                          what, mxGetClassName(array));
    }
    if (mxIsComplex(array)) {
        mexErrMsgIdAndTxt("Corvane:complex", "%s is complex; it must be a real double array",
                          what);
    }
    if (mxIsSparse(array)) {
        mexErrMsgIdAndTxt("Corvane:sparse", "%s is sparse; it must be a full double array", what);
    }
    if (mxGetNumberOfElements(array) == 0 || mxGetPr(array) == nullptr) {
        mexErrMsgIdAndTxt("Corvane:empty", "%s is empty; it must hold doubles", what);
    }
}

corvane::DoubleView ViewOf(const mxArray* array) {
    return corvane::DoubleView{mxGetPr(array),
                               static_cast<std::int64_t>(mxGetNumberOfElements(array))};
}

// Binds every field of element 0 of `model` after checking it. Returns the
// views; raises an error on the first field that is missing or not usable.
corvane::BackgroundModel BindModel(const mxArray* model) {
    corvane::BackgroundModel bound;
    for (const FieldBinding& field : kFields) {
        const mxArray* array = mxGetField(model, 0, field.name);
        if (array == nullptr) {
            mexErrMsgIdAndTxt("Corvane:missingField",
                              "the model (input 1) has no field \"%s\"; it needs all of Mu, "
                              "Sigma2, imMask, Pi, NeuroWin, Var, Cov, MaximumVariance, "
                              "NumMapRows, NumMapColumns, NumImageRows, NumImageColumns, "
                              "MinimumVariance, StepSize and CurrentFrame (names are "
                              "case-sensitive)",
                              field.name);
        }
        char what[48];
        std::snprintf(what, sizeof what, "field \"%s\"", field.name);
        RequireRealDouble(array, what);
        bound.*field.view = ViewOf(array);
    }
    return bound;
}

// Whether the element range of `a` overlaps `count` doubles at `b`. Compared as
// integers: the ranges come from unrelated allocations.
bool Overlaps(const corvane::DoubleView& a, const double* b, std::int64_t count) {
    if (a.data == nullptr || b == nullptr || a.count <= 0 || count <= 0) return false;
    const std::uintptr_t a0 = reinterpret_cast<std::uintptr_t>(a.data);
    const std::uintptr_t b0 = reinterpret_cast<std::uintptr_t>(b);
    const std::uintptr_t a1 = a0 + static_cast<std::uintptr_t>(a.count) * sizeof(double);
    const std::uintptr_t b1 = b0 + static_cast<std::uintptr_t>(count) * sizeof(double);
    return a0 < b1 && b0 < a1;
}

// The first field of the copy whose data is not its own: shared with any field
// of the caller's struct, with the frame or matrix, or with another field of
// the copy. Null when the copy is independent.
//
// Octave's mxDuplicateArray of a struct it has not yet unpacked gives field
// arrays that share their data with the caller's variables (writing through
// them changes the caller's struct and every copy-on-write twin of it). The
// checks above read every field of the caller's struct first, which makes
// Octave unpack it, and the duplicate then copies every field. This test keeps
// the update from ever writing into the caller's arrays should a host (or a
// later change of order here) give a shallow copy.
const char* SharedField(const corvane::BackgroundModel& copy,
                        const corvane::BackgroundModel& given,
                        const corvane::FrameImage& frame,
                        const corvane::NeighborhoodMatrix& matrix) {
    for (std::size_t i = 0; i < sizeof kFields / sizeof kFields[0]; ++i) {
        const corvane::DoubleView& field = copy.*kFields[i].view;
        bool shared = Overlaps(field, frame.data, frame.count) ||
                      Overlaps(field, matrix.data, matrix.count);
        for (std::size_t j = 0; j < sizeof kFields / sizeof kFields[0] && !shared; ++j) {
            const corvane::DoubleView& other = given.*kFields[j].view;
            const corvane::DoubleView& sibling = copy.*kFields[j].view;
            shared = Overlaps(field, other.data, other.count) ||
                     (j < i && Overlaps(field, sibling.data, sibling.count));
        }
        if (shared) return kFields[i].name;
    }
    return nullptr;
}

void* AllocateScratch(std::size_t bytes) { return mxMalloc(bytes); }
void ReleaseScratch(void* block) { mxFree(block); }

}  // namespace

// The only exported symbol, whatever the default visibility of the build.
#if defined(_WIN32)
#define CORVANE_EXPORT __declspec(dllexport)
#else
#define CORVANE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" CORVANE_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                           const mxArray* prhs[]) {
    if (nrhs != 3) {
        mexErrMsgIdAndTxt("Corvane:inputCount",
                          "Corvane takes 3 inputs, model = Corvane(model, frame, nhood); it was "
                          "given %d",
                          nrhs);
    }
    if (nlhs > 1) {
        mexErrMsgIdAndTxt("Corvane:outputCount",
                          "Corvane returns 1 output, the updated model; %d were requested", nlhs);
    }
    const mxArray* input = prhs[0];
    if (!mxIsStruct(input)) {
        mexErrMsgIdAndTxt("Corvane:modelNotStruct",
                          "the model (input 1) is of class %s; it must be a struct",
                          mxGetClassName(input));
    }
    if (mxGetNumberOfElements(input) < 1) {
        mexErrMsgIdAndTxt("Corvane:modelEmpty",
                          "the model (input 1) is an empty struct array; it needs one element");
    }

#if defined(CORVANE_TEST_DUPLICATE_FIRST)
    // Test builds only: duplicate before the caller's struct has been read, the
    // order in which Octave's copy shares the caller's data, so that the tests
    // can see SharedField refuse it.
    plhs[0] = mxDuplicateArray(input);
#endif

    // Check everything on the caller's struct, before anything is duplicated.
    const corvane::BackgroundModel given = BindModel(input);
    RequireRealDouble(prhs[1], "the frame (input 2)");
    RequireRealDouble(prhs[2], "the neighbourhood matrix (input 3)");
    const corvane::FrameImage frame{mxGetPr(prhs[1]),
                                    static_cast<std::int64_t>(mxGetNumberOfElements(prhs[1]))};
    const corvane::NeighborhoodMatrix matrix{
        mxGetPr(prhs[2]), static_cast<std::int64_t>(mxGetNumberOfElements(prhs[2]))};
    const corvane::ModelCheck check = corvane::CheckModel(given, frame, matrix);
    if (!check.ok()) {
        char identifier[64];
        std::snprintf(identifier, sizeof identifier, "Corvane:%s",
                      corvane::ModelProblemName(check.problem));
        mexErrMsgIdAndTxt(identifier, "%s", check.message);
    }

    // The update works on a deep copy, which becomes the output.
#if !defined(CORVANE_TEST_DUPLICATE_FIRST)
    plhs[0] = mxDuplicateArray(input);
#endif
    const corvane::BackgroundModel model = BindModel(plhs[0]);
    const char* shared = SharedField(model, given, frame, matrix);
    if (shared != nullptr) {
        mexErrMsgIdAndTxt("Corvane:copyNotIndependent",
                          "the host's copy of the model shares the data of field \"%s\" with "
                          "another array; the update would overwrite the caller's data, so it "
                          "was not run",
                          shared);
    }

    corvane::HostAllocator host;
    host.allocate = &AllocateScratch;
    host.release = &ReleaseScratch;
    if (!corvane::UpdateModel(model, frame, matrix, host)) {
        mexErrMsgIdAndTxt("Corvane:outOfMemory",
                          "the update could not obtain its scratch memory (%d pixels)",
                          static_cast<int>(check.sizes.N));
    }
}
