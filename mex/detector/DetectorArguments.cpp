// CorvaneDetectorMex's arguments: the registry behind the ids, the ids, the
// frames' facts and the options, and the errors a command returns.
#include <cstring>
#include <new>
#include <stdexcept>

#include "DetectorMex.h"
#include "MxArrayFacts.h"

namespace corvane::detector_mex {

namespace {

DetectorRegistry* gRegistry = nullptr;

void ReleaseRegistry() {
    delete gRegistry;
    gRegistry = nullptr;
}

}  // namespace

DetectorRegistry* LoadedRegistry() { return gRegistry; }

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

void Warn(const GatewayError& warning) {
    mexWarnMsgIdAndTxt(warning.identifier, "%s", warning.message);
}

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

GatewayError ProcessError(const corvane::Detector& detector, const std::string& reason) {
    return MakeError(detector.outOfMemory() ? "Corvane:outOfMemory" : "Corvane:detectorFailed",
                     "%s", reason.c_str());
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

namespace {

corvane::gateway::OptionValue OptionValueOf(const mxArray* array) {
    corvane::gateway::OptionValue value;
    value.className = mxGetClassName(array);
    value.numeric = mxIsNumeric(array) || mxIsLogical(array);
    value.isComplex = mxIsComplex(array);
    value.count = static_cast<std::int64_t>(mxGetNumberOfElements(array));
    if (value.numeric && value.count == 1) value.value = mxGetScalar(array);
    return value;
}

}  // namespace

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

}  // namespace corvane::detector_mex
