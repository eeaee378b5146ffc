// Loads Corvane.mexw64 / Corvane.mexw32 the way MATLAB does (LoadLibrary,
// GetProcAddress("mexFunction")), with the stand-in libmx.dll / libmex.dll
// beside it, and checks it against the Linux build of the core:
//
//   corvane_wine_driver.exe MEXFILE CASEFILE
//
//  - each case's model, advanced frame by frame through mexFunction, ends
//    where the Linux core ended, bit for bit in every value: the core's exp
//    and log are its own correctly rounded ones, so no C runtime is involved;
//  - all of that again with the x87 unit's precision control set to 64-bit
//    significands, as a host may leave it: the core does its arithmetic in
//    SSE2 registers and calls no x87 code, so nothing may change;
//  - the struct passed in is unchanged by every call, and fields the update
//    does not know come back unchanged;
//  - all of that again for each thread count CORVANE_THREADS may name (1, 2,
//    3, 8), set in the process environment while the MEX file is loaded, as
//    MATLAB's setenv does; a count it must refuse ends in Corvane:badThreads;
//  - every mxMalloc'd block is mxFree'd before the call returns;
//  - malformed models and arguments end in a "Corvane:" error, with nothing
//    allocated and the input untouched, and the MEX file works afterwards.
//
// Prints one line per case and, only when every check passed, the line
// "CORVANE WINE TEST PASSED"; the CTest wrapper looks for that line, since a
// Windows program that never ran can still leave Wine with exit status 0.
#include <windows.h>

#include <cinttypes>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CaseFile.h"
#include "MexCall.h"
#include "StandinApi.h"

namespace {

using corvane::wine::Case;
using corvane::wine::Field;

int gChecks = 0;
int gFailures = 0;

void Check(bool ok, const char* what, const std::string& context) {
    ++gChecks;
    if (!ok) {
        ++gFailures;
        std::printf("FAILED: %s (%s)\n", what, context.c_str());
    }
}

struct CallResult {
    bool raised = false;
    std::string id;
    std::string message;
    mxArray* output = nullptr;
};

std::jmp_buf gErrorTarget;
mxArray* gOutputs[1];



// One MEX call, as MATLAB makes it: errors come back here by long jump.
CallResult CallMex(MexFunction mex, int nlhs, int nrhs, const mxArray** prhs) {
    CallResult result;
    gOutputs[0] = nullptr;
    StandinSetErrorTarget(&gErrorTarget);
    if (setjmp(gErrorTarget) == 0) {
#if defined(__i386__)
        CallWithStackOffByFour(mex, nlhs, gOutputs, nrhs, prhs);
#else
        mex(nlhs, gOutputs, nrhs, prhs);
#endif
    } else {
        result.raised = true;
        result.id = StandinLastErrorId();
        result.message = StandinLastErrorMessage();
    }
    StandinSetErrorTarget(nullptr);
    result.output = gOutputs[0];
    return result;
}

unsigned short X87ControlWord() {
    unsigned short word;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    return word;
}

void SetX87ControlWord(unsigned short word) { __asm__ __volatile__("fldcw %0" : : "m"(word)); }

std::uint64_t Bits(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

struct Comparison {
    std::uint64_t values = 0;
    std::uint64_t identical = 0;
    double worstRelative = 0;
    std::string worstField;
};

void CompareField(const mxArray* model, const Field& expected, const std::string& context,
                  Comparison* total) {
    const mxArray* field = mxGetField(model, 0, expected.name.c_str());
    const std::string where = context + ", field " + expected.name;
    Check(field != nullptr && mxIsDouble(field), "field present and double", where);
    if (field == nullptr || !mxIsDouble(field)) return;
    Check(mxGetNumberOfElements(field) == expected.values.size(), "field size unchanged", where);
    if (mxGetNumberOfElements(field) != expected.values.size()) return;
    const double* got = mxGetPr(field);
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < expected.values.size(); ++i) {
        const double a = got[i], b = expected.values[i];
        ++total->values;
        if (Bits(a) == Bits(b)) {
            ++total->identical;
            continue;
        }
        double relative;
        if (std::isnan(a) || std::isnan(b) || std::isinf(a) || std::isinf(b))
            relative = HUGE_VAL;
        else
            relative = std::fabs(a - b) / std::fmax(std::fabs(a), std::fabs(b));
        if (relative > total->worstRelative) {
            total->worstRelative = relative;
            total->worstField = expected.name;
        }
        if (mismatches++ < 3) {
                std::printf("  %s[%zu]: Windows %.17g (%016" PRIx64 "), Linux %.17g (%016" PRIx64 ")\n",
                            expected.name.c_str(), i, a, Bits(a), b, Bits(b));
        }
    }
    Check(mismatches == 0, "values identical to the Linux core",
          where + " (" + std::to_string(mismatches) + " values differ)");
}

mxArray* BuildModel(const std::vector<Field>& fields) {
    mxArray* model = StandinCreateStruct(1);
    // Fields the update does not know, before, among and after its own.
    StandinSetField(model, 0, "Notes", StandinCreateChar("made by the Linux build"));
    for (std::size_t k = 0; k < fields.size(); ++k) {
        StandinSetField(model, 0, fields[k].name.c_str(),
                        StandinCreateDouble(fields[k].values.size(), fields[k].values.data()));
        if (k == 6) {
            const double extra[] = {1.5, -0.0, NAN, 1e300};
            StandinSetField(model, 0, "Extra", StandinCreateDouble(4, extra));
        }
    }
    mxArray* nested = StandinCreateStruct(2);
    StandinSetField(nested, 1, "Inner", StandinCreateDouble(1, nullptr));
    StandinSetField(model, 0, "Nested", nested);
    return model;
}

// Every successful call: output set, input untouched, scratch all released.
void CheckCall(const CallResult& call, const mxArray* input, const mxArray* inputBefore,
               const std::string& context) {
    Check(!call.raised, "no MEX error", context + (call.raised ? ": " + call.id + " " + call.message : ""));
    Check(call.output != nullptr, "output 0 set", context);
    Check(StandinIdentical(input, inputBefore), "input struct unchanged", context);
    const StandinMemoryStats stats = StandinGetMemoryStats();
    Check(stats.allocations >= 1 && stats.live == 0 && stats.frees == stats.allocations &&
              stats.badFrees == 0,
          "every mxMalloc'd block mxFree'd",
          context + ": " + std::to_string(stats.allocations) + " allocated, " +
              std::to_string(stats.frees) + " freed, " + std::to_string(stats.badFrees) +
              " bad frees");
}

void RunCase(MexFunction mex, const Case& c, const char* setting) {
    const std::string context = c.name + setting;
    const double* matrixData = c.matrix.data();
    mxArray* matrix = StandinCreateDouble(c.matrix.size(), matrixData);
    const std::size_t frameSize = c.frames > 0 ? c.video.size() / c.frames : 0;
    mxArray* model = BuildModel(c.start);
    mxArray* const firstInput = mxDuplicateArray(model);
    bool ran = true;
    for (std::uint32_t t = 0; t < c.frames && ran; ++t) {
        mxArray* frame = StandinCreateDouble(frameSize, c.video.data() + t * frameSize);
        mxArray* before = mxDuplicateArray(model);
        const mxArray* prhs[3] = {model, frame, matrix};
        StandinResetMemoryStats();
        // MATLAB passes nlhs = 0 when the result is not assigned; output 0 is
        // still the way the update comes back.
        const CallResult call = CallMex(mex, t == 0 ? 0 : 1, 3, prhs);
        const std::string where = context + ", frame " + std::to_string(t + 1);
        CheckCall(call, model, before, where);
        ran = !call.raised && call.output != nullptr;
        StandinDestroy(before);
        StandinDestroy(frame);
        if (ran) {
            StandinDestroy(model);
            model = call.output;
        }
    }
    if (ran) {
        Comparison comparison;
        for (const Field& field : c.expected) CompareField(model, field, context, &comparison);
        Check(StandinFieldCount(model) == c.expected.size() + 3, "no field added or lost", context);
        for (const char* extra : {"Notes", "Extra", "Nested"})
            Check(StandinIdentical(mxGetField(model, 0, extra), mxGetField(firstInput, 0, extra)),
                  "extra field unchanged", context + ", field " + extra);
        std::printf("%-34s%s: %" PRIu64 " values, %" PRIu64 " bit-identical, largest relative "
                    "difference %.3g%s%s\n",
                    c.name.c_str(), setting, comparison.values,
                    comparison.identical, comparison.worstRelative,
                    comparison.worstField.empty() ? "" : " in ", comparison.worstField.c_str());
    }
    StandinDestroy(firstInput);
    StandinDestroy(model);
    StandinDestroy(matrix);
}

// A malformed call must end in the named error, leave nothing allocated and
// the input as it was.
void ExpectError(MexFunction mex, const char* expectedId, int nrhs, const mxArray** prhs,
                 const char* what) {
    std::vector<mxArray*> before;
    for (int i = 0; i < nrhs; ++i) before.push_back(mxDuplicateArray(prhs[i]));
    StandinResetMemoryStats();
    const CallResult call = CallMex(mex, 1, nrhs, prhs);
    const std::string context = std::string(what) + " -> " + (call.raised ? call.id : "no error");
    Check(call.raised && call.id == expectedId, "the expected Corvane: error", context);
    Check(!call.message.empty(), "an error message", context);
    Check(call.output == nullptr, "no output", context);
    const StandinMemoryStats stats = StandinGetMemoryStats();
    Check(stats.live == 0 && stats.badFrees == 0, "nothing left allocated", context);
    StandinReleaseLiveBlocks();
    for (int i = 0; i < nrhs; ++i) {
        Check(StandinIdentical(prhs[i], before[i]), "input unchanged", context);
        StandinDestroy(before[i]);
    }
    if (call.raised) std::printf("  %-44s %s: %s\n", what, call.id.c_str(), call.message.c_str());
    StandinDestroy(call.output);
}

void RunMalformed(MexFunction mex, const Case& c) {
    const std::size_t frameSize = c.video.size() / c.frames;
    mxArray* frame = StandinCreateDouble(frameSize, c.video.data());
    mxArray* matrix = StandinCreateDouble(c.matrix.size(), c.matrix.data());

    struct Variant {
        const char* what;
        const char* id;
        void (*damage)(mxArray* model);
    };
    const Variant variants[] = {
        {"model without Var", "Corvane:missingField",
         [](mxArray* m) { StandinRemoveField(m, "Var"); }},
        {"Mu one element short", "Corvane:fieldTooShort",
         [](mxArray* m) {
             const mxArray* mu = mxGetField(m, 0, "Mu");
             StandinSetField(m, 0, "Mu", StandinCreateDouble(mxGetNumberOfElements(mu) - 1, mxGetPr(mu)));
         }},
        {"Sigma2 of class char", "Corvane:notDouble",
         [](mxArray* m) { StandinSetField(m, 0, "Sigma2", StandinCreateChar("variances")); }},
        {"Pi complex", "Corvane:complex",
         [](mxArray* m) { StandinSetField(m, 0, "Pi", StandinCreateComplexDouble(100)); }},
        {"Cov empty", "Corvane:empty",
         [](mxArray* m) { StandinSetField(m, 0, "Cov", StandinCreateDouble(0, nullptr)); }},
        {"NumImageRows NaN", "Corvane:sizeNotFinite",
         [](mxArray* m) {
             const double nan = NAN;
             StandinSetField(m, 0, "NumImageRows", StandinCreateDouble(1, &nan));
         }},
        {"NumMapRows 0.5", "Corvane:sizeBelowOne",
         [](mxArray* m) {
             const double half = 0.5;
             StandinSetField(m, 0, "NumMapRows", StandinCreateDouble(1, &half));
         }},
        {"NumImageColumns 1e10", "Corvane:sizeOutOfRange",
         [](mxArray* m) {
             const double huge = 1e10;
             StandinSetField(m, 0, "NumImageColumns", StandinCreateDouble(1, &huge));
         }},
    };
    for (const Variant& variant : variants) {
        mxArray* model = BuildModel(c.start);
        variant.damage(model);
        const mxArray* prhs[3] = {model, frame, matrix};
        ExpectError(mex, variant.id, 3, prhs, variant.what);
        StandinDestroy(model);
    }

    mxArray* model = BuildModel(c.start);
    {
        mxArray* shortFrame = StandinCreateDouble(frameSize - 1, c.video.data());
        const mxArray* prhs[3] = {model, shortFrame, matrix};
        ExpectError(mex, "Corvane:frameTooShort", 3, prhs, "frame one element short");
        StandinDestroy(shortFrame);
    }
    {
        mxArray* shortMatrix = StandinCreateDouble(c.matrix.size() - 1, c.matrix.data());
        const mxArray* prhs[3] = {model, frame, shortMatrix};
        ExpectError(mex, "Corvane:matrixTooShort", 3, prhs, "matrix one element short");
        StandinDestroy(shortMatrix);
    }
    {
        const mxArray* prhs[3] = {frame, frame, matrix};
        ExpectError(mex, "Corvane:modelNotStruct", 3, prhs, "model a double array");
    }
    {
        mxArray* empty = StandinCreateStruct(0);
        const mxArray* prhs[3] = {empty, frame, matrix};
        ExpectError(mex, "Corvane:modelEmpty", 3, prhs, "model an empty struct array");
        StandinDestroy(empty);
    }
    {
        const mxArray* prhs[2] = {model, frame};
        ExpectError(mex, "Corvane:inputCount", 2, prhs, "two inputs");
    }

    // After all those errors the MEX file still updates a good model.
    mxArray* before = mxDuplicateArray(model);
    const mxArray* prhs[3] = {model, frame, matrix};
    StandinResetMemoryStats();
    const CallResult call = CallMex(mex, 1, 3, prhs);
    CheckCall(call, model, before, "a good model after the errors");
    if (call.output != nullptr) {
        const double* frameCount = mxGetPr(mxGetField(call.output, 0, "CurrentFrame"));
        const double* startCount = mxGetPr(mxGetField(model, 0, "CurrentFrame"));
        Check(frameCount != nullptr && startCount != nullptr && *frameCount == *startCount + 1,
              "CurrentFrame counted", "a good model after the errors");
    }
    StandinDestroy(call.output);
    StandinDestroy(before);
    StandinDestroy(model);
    StandinDestroy(frame);
    StandinDestroy(matrix);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MEXFILE CASEFILE\n", argv[0]);
        return 2;
    }
    const std::string mexPath = WindowsPath(argv[1]);
    HMODULE library = nullptr;
    const MexFunction mex = LoadMexFunction(mexPath, &library);
    if (mex == nullptr) return 1;
    std::vector<Case> cases;
    if (!corvane::wine::ReadCases(WindowsPath(argv[2]).c_str(), &cases) || cases.empty()) {
        std::printf("FAILED: could not read the cases in %s\n", argv[2]);
        return 1;
    }
    std::printf("%s (%d-bit), %zu cases from the Linux build\n", mexPath.c_str(),
                static_cast<int>(8 * sizeof(void*)), cases.size());
    for (const Case& c : cases) RunCase(mex, c, "");
    // The x87 unit with 64-bit significands (precision control 11), as some
    // hosts set it: the results must not move by a bit.
    const unsigned short saved = X87ControlWord();
    SetX87ControlWord(static_cast<unsigned short>((saved & ~0x0300u) | 0x0300u));
    Check((X87ControlWord() & 0x0300u) == 0x0300u, "x87 precision control set to 64 bits", "");
    for (const Case& c : cases) RunCase(mex, c, ", x87 at 64 bits");
    SetX87ControlWord(saved);
    // Thread counts from the process environment, read at every call: the
    // same bits for each.
    for (const char* threads : {"1", "2", "3", "8"}) {
        SetEnvironmentVariableA("CORVANE_THREADS", threads);
        const std::string setting = std::string(", CORVANE_THREADS=") + threads;
        for (const Case& c : cases) RunCase(mex, c, setting.c_str());
    }
    {
        SetEnvironmentVariableA("CORVANE_THREADS", "many");
        const Case& c = cases.front();
        mxArray* model = BuildModel(c.start);
        mxArray* frame = StandinCreateDouble(c.video.size() / c.frames, c.video.data());
        mxArray* matrix = StandinCreateDouble(c.matrix.size(), c.matrix.data());
        const mxArray* prhs[3] = {model, frame, matrix};
        ExpectError(mex, "Corvane:badThreads", 3, prhs, "CORVANE_THREADS=many");
        StandinDestroy(matrix);
        StandinDestroy(frame);
        StandinDestroy(model);
    }
    SetEnvironmentVariableA("CORVANE_THREADS", nullptr);
    std::printf("malformed inputs:\n");
    RunMalformed(mex, cases.front());
    FreeLibrary(library);

    if (gFailures != 0) {
        std::printf("%d of %d checks FAILED\n", gFailures, gChecks);
        return 1;
    }
    std::printf("CORVANE WINE TEST PASSED: %d checks, %d-bit\n", gChecks,
                static_cast<int>(8 * sizeof(void*)));
    return 0;
}
