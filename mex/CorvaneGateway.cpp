// model = Corvane(model, frame, nhood): the MEX gateway (MATLAB on Linux and
// Windows, and GNU Octave's MEX interface).
//
// Checks every argument and field of the caller's struct before anything is
// created or computed. The result is a new struct of the same shape and
// field order: the fields the update writes are fresh arrays that the update
// fills from the caller's arrays, every other field and struct element is a
// copy of the caller's. The caller's struct is never written. Every rejection
// is a MATLAB error "Corvane:<what>" whose message names the argument or
// field, what it holds and what it needs (GatewayModel.h).
//
// Errors leave the function by a long jump (MATLAB) or an exception thrown
// from inside the host (Octave), so they are raised only from plain-data
// frames: nothing here has a destructor to run.
#include <cstddef>
#include <cstdint>

#include "mex.h"
#include "MexExport.h"
#include "FreshMemory.h"
#include "GatewayModel.h"
#include "GatewayThreads.h"
#include "MxArrayFacts.h"

namespace {

using corvane::gateway::ArrayFacts;
using corvane::gateway::GatewayError;
using corvane::gateway::kModelFieldCount;
using corvane::gateway::kModelFields;

void Raise(const GatewayError& error) {
    if (error.raised()) mexErrMsgIdAndTxt(error.identifier, "%s", error.message);
}

ArrayFacts FactsOf(const mxArray* array) { return corvane::gateway::MxArrayFacts(array); }

// Checks and binds every field of element 0 of the caller's struct, the frame
// and the matrix; raises the first error.
void BindArguments(const mxArray* const prhs[], corvane::BackgroundModel* model,
                   corvane::FrameImage* frame, corvane::NeighborhoodMatrix* matrix,
                   corvane::ModelSizes* sizes) {
    for (int i = 0; i < kModelFieldCount; ++i) {
        const ArrayFacts facts = FactsOf(mxGetField(prhs[0], 0, kModelFields[i].name));
        Raise(corvane::gateway::CheckField(facts, i));
        model->*kModelFields[i].view = corvane::gateway::ViewOf(facts);
    }
    const ArrayFacts frameFacts = FactsOf(prhs[1]);
    Raise(corvane::gateway::CheckFrame(frameFacts));
    const ArrayFacts matrixFacts = FactsOf(prhs[2]);
    Raise(corvane::gateway::CheckMatrix(matrixFacts));
    *frame = corvane::FrameImage{frameFacts.data, frameFacts.count};
    *matrix = corvane::NeighborhoodMatrix{matrixFacts.data, matrixFacts.count};
    Raise(corvane::gateway::CheckBoundModel(*model, *frame, *matrix, sizes));
}

// A struct of the caller's shape and field names whose element 0 holds a
// fresh double array, shaped as the caller's, for every field the update
// writes, and a copy of the caller's value everywhere else. Binds the fresh
// arrays in `destination`; its other fields keep the caller's views.
mxArray* CreateResult(const mxArray* input, const corvane::BackgroundModel& source,
                      corvane::BackgroundModel* destination) {
    const int fields = mxGetNumberOfFields(input);
    const char** names =
        static_cast<const char**>(mxMalloc(sizeof(const char*) * (fields > 0 ? fields : 1)));
    for (int k = 0; k < fields; ++k) names[k] = mxGetFieldNameByNumber(input, k);
    mxArray* result =
        mxCreateStructArray(mxGetNumberOfDimensions(input), mxGetDimensions(input), fields, names);
    mxFree(names);

    *destination = source;
    const mwIndex elements = static_cast<mwIndex>(mxGetNumberOfElements(input));
    for (int k = 0; k < fields; ++k) {
        const int model = corvane::gateway::ModelFieldIndex(mxGetFieldNameByNumber(input, k));
        for (mwIndex e = 0; e < elements; ++e) {
            const mxArray* value = mxGetFieldByNumber(input, e, k);
            if (value == nullptr) continue;
            mxArray* copy = nullptr;
            if (e == 0 && model >= 0 && kModelFields[model].written) {
                copy = mxCreateNumericArray(mxGetNumberOfDimensions(value),
                                            mxGetDimensions(value), mxDOUBLE_CLASS, mxREAL);
                const corvane::DoubleView view{
                    mxGetPr(copy), static_cast<std::int64_t>(mxGetNumberOfElements(copy))};
                corvane::gateway::AdviseHugePages(
                    view.data, static_cast<std::size_t>(view.count) * sizeof(double));
                destination->*kModelFields[model].view = view;
            } else {
                copy = mxDuplicateArray(value);
            }
            mxSetFieldByNumber(result, e, k, copy);
        }
    }
    return result;
}

void* AllocateScratch(std::size_t bytes) { return mxMalloc(bytes); }
void ReleaseScratch(void* block) { mxFree(block); }

}  // namespace

// The only exported symbol.
extern "C" CORVANE_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                           const mxArray* prhs[]) {
    Raise(corvane::gateway::CheckCallCounts(nrhs, nlhs));
    const mxArray* input = prhs[0];
    Raise(corvane::gateway::CheckModelArgument(
        mxIsStruct(input), mxGetClassName(input),
        static_cast<std::int64_t>(mxGetNumberOfElements(input))));

#if defined(CORVANE_TEST_DUPLICATE_FIRST)
    // Test builds only: a copy of the struct made before the caller's struct
    // is read, the order in which Octave's copy shares the caller's data,
    // stands in for the fresh arrays, so that the tests can see
    // CheckFreshArrays refuse it.
    mxArray* early = mxDuplicateArray(input);
#endif

    corvane::BackgroundModel source;
    corvane::FrameImage frame;
    corvane::NeighborhoodMatrix matrix;
    corvane::ModelSizes sizes;
    BindArguments(prhs, &source, &frame, &matrix, &sizes);
    int threads = 0;
    Raise(corvane::gateway::ThreadsFromEnvironment(&threads));

    corvane::BackgroundModel destination;
    plhs[0] = CreateResult(input, source, &destination);
#if defined(CORVANE_TEST_DUPLICATE_FIRST)
    plhs[0] = early;
    for (int i = 0; i < kModelFieldCount; ++i) {
        if (!kModelFields[i].written) continue;
        const mxArray* field = mxGetField(early, 0, kModelFields[i].name);
        destination.*kModelFields[i].view = corvane::DoubleView{
            mxGetPr(field), static_cast<std::int64_t>(mxGetNumberOfElements(field))};
    }
#endif
    Raise(corvane::gateway::CheckFreshArrays(source, destination, frame, matrix));

    corvane::HostAllocator host;
    host.allocate = &AllocateScratch;
    host.release = &ReleaseScratch;
    if (!corvane::gateway::UpdateIntoFreshArrays(source, destination, sizes, frame, matrix, host,
                                                 threads))
        Raise(corvane::gateway::OutOfMemoryError(sizes));
}
