// A step's learn mask, and what a model struct carries besides the model's
// own fields: the detector's state between frames (a model file's fields).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "DetectorMex.h"
#include "FrameStream.h"

namespace corvane::detector_mex {

namespace {

// Not 0, for each element of a real array of any numeric or logical class.
template <class T>
void NonZero(const void* data, std::size_t count, std::uint8_t* keep) {
    const T* values = static_cast<const T*>(data);
    for (std::size_t p = 0; p < count; ++p) keep[p] = values[p] != 0;
}

}  // namespace

GatewayError ReadLearnMask(DetectorState& state, const mxArray* learnMask) {
    try {
        const std::int32_t H = state.detector.rows(), W = state.detector.columns();
        if (!(mxIsLogical(learnMask) || mxIsNumeric(learnMask)) || mxIsComplex(learnMask) ||
            mxIsSparse(learnMask))
            return MakeError("Corvane:learnMask",
                             "LearnMask must be a real, full logical or numeric H x W array "
                             "(true where the frame is not to be learnt); it is %s%s",
                             mxIsComplex(learnMask) ? "complex "
                             : mxIsSparse(learnMask) ? "sparse "
                                                     : "",
                             mxGetClassName(learnMask));
        const mwSize* dims = mxGetDimensions(learnMask);
        if (mxGetNumberOfDimensions(learnMask) != 2 || dims[0] != static_cast<mwSize>(H) ||
            dims[1] != static_cast<mwSize>(W))
            return MakeError("Corvane:learnMask",
                             "LearnMask must be %d x %d, the frame's size; it is %d x %d%s",
                             static_cast<int>(H), static_cast<int>(W), static_cast<int>(dims[0]),
                             static_cast<int>(dims[1]),
                             mxGetNumberOfDimensions(learnMask) > 2 ? " x ..." : "");
        const std::size_t count = static_cast<std::size_t>(H) * static_cast<std::size_t>(W);
        state.keep.resize(count);
        const void* data = mxGetData(learnMask);
        std::uint8_t* keep = state.keep.data();
        switch (mxGetClassID(learnMask)) {
            case mxLOGICAL_CLASS: NonZero<mxLogical>(data, count, keep); break;
            case mxDOUBLE_CLASS: NonZero<double>(data, count, keep); break;
            case mxSINGLE_CLASS: NonZero<float>(data, count, keep); break;
            case mxINT8_CLASS: NonZero<std::int8_t>(data, count, keep); break;
            case mxUINT8_CLASS: NonZero<std::uint8_t>(data, count, keep); break;
            case mxINT16_CLASS: NonZero<std::int16_t>(data, count, keep); break;
            case mxUINT16_CLASS: NonZero<std::uint16_t>(data, count, keep); break;
            case mxINT32_CLASS: NonZero<std::int32_t>(data, count, keep); break;
            case mxUINT32_CLASS: NonZero<std::uint32_t>(data, count, keep); break;
            case mxINT64_CLASS: NonZero<std::int64_t>(data, count, keep); break;
            case mxUINT64_CLASS: NonZero<std::uint64_t>(data, count, keep); break;
            default:
                return MakeError("Corvane:learnMask", "LearnMask of class %s is not taken",
                                 mxGetClassName(learnMask));
        }
        return GatewayError{};
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

GatewayError RestoreStreamFields(DetectorState& state, const mxArray* model) {
    try {
        std::size_t present = 0;
        std::string names;
        for (const corvane::StreamField& field : corvane::StreamFields()) {
            present += mxGetField(model, 0, field.name) != nullptr ? 1 : 0;
            names += std::string(names.empty() ? "" : ", ") + field.name;
        }
        if (present == 0) return GatewayError{};
        if (present != corvane::StreamFields().size())
            return MakeError("Corvane:badModel",
                             "the model has only part of what the detector keeps between "
                             "frames: %s go together",
                             names.c_str());
        corvane::StreamState saved;
        for (const corvane::StreamField& field : corvane::StreamFields()) {
            const mxArray* value = mxGetField(model, 0, field.name);
            if (!mxIsDouble(value) || mxIsComplex(value) || mxIsSparse(value))
                return MakeError("Corvane:notDouble", "the model's field %s must be real double",
                                 field.name);
            const double* data = mxGetPr(value);
            (saved.*field.values).assign(data, data + mxGetNumberOfElements(value));
        }
        std::string reason;
        if (!state.detector.RestoreStream(saved, &reason))
            return MakeError("Corvane:badModel", "%s", reason.c_str());
        return GatewayError{};
    } catch (...) {
        return CatchAll(std::current_exception());
    }
}

}  // namespace corvane::detector_mex
