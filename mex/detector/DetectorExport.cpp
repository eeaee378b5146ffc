// What CorvaneDetectorMex gives back: the model as the struct Corvane takes,
// and the detector's info struct.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "DetectorMex.h"
#include "ParameterTable.h"

namespace corvane::detector_mex {

using corvane::gateway::kModelFieldCount;
using corvane::gateway::kModelFields;

namespace {


// A double array of the given shape holding `count` values.
mxArray* DoubleArray(int dimensions, const mwSize* sizes, const double* values, std::size_t count) {
    mxArray* array = mxCreateNumericArray(dimensions, sizes, mxDOUBLE_CLASS, mxREAL);
    if (count > 0) std::memcpy(mxGetPr(array), values, count * sizeof(double));
    return array;
}

}  // namespace

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

}  // namespace corvane::detector_mex
