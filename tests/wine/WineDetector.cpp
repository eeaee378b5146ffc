// Loads CorvaneDetectorMex.mexw64 / .mexw32 the way MATLAB does, with the
// stand-in libmx.dll / libmex.dll beside it, and checks it against the Linux
// Detector:
//
//   corvane_wine_detector.exe MEXFILE CASEFILE
//
//  - a detector made with no start segments the case's 8-bit video frame by
//    frame ('step', with the probability asked for), on 2 threads and then
//    again on 1 (a second detector): every mask and probability is the Linux
//    one bit for bit, and so is every field of its final 'model';
//  - 'exp' gives the core's correctly rounded exp, bit for bit;
//  - 'info', 'count' and 'delete' do what the class relies on; a frame of
//    another size and a deleted id end in their Corvane: errors, and the
//    detector goes on afterwards;
//  - every mxMalloc'd block is mxFree'd, and the registry is freed by the
//    function registered with mexAtExit.
//
// Prints "CORVANE WINE TEST PASSED: N checks, B-bit" only when every check
// passed (wine-test.sh looks for that line).
#include <windows.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DetectorCaseFile.h"
#include "MexCall.h"
#include "StandinApi.h"

namespace {


int gChecks = 0;
int gFailures = 0;

void Check(bool ok, const std::string& what) {
    ++gChecks;
    if (!ok) {
        ++gFailures;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

std::jmp_buf gErrorTarget;
mxArray* gOutputs[2];



struct Result {
    bool raised = false;
    std::string id;
    mxArray* outputs[2] = {nullptr, nullptr};
};

Result Call(MexFunction mex, int nlhs, std::vector<const mxArray*> inputs) {
    Result result;
    gOutputs[0] = gOutputs[1] = nullptr;
    StandinSetErrorTarget(&gErrorTarget);
    if (setjmp(gErrorTarget) == 0) {
#if defined(__i386__)
        CallWithStackOffByFour(mex, nlhs, gOutputs, static_cast<int>(inputs.size()), inputs.data());
#else
        mex(nlhs, gOutputs, static_cast<int>(inputs.size()), inputs.data());
#endif
    } else {
        result.raised = true;
        result.id = StandinLastErrorId();
        // MATLAB frees the blocks of a call that ended in an error.
        StandinReleaseLiveBlocks();
    }
    StandinSetErrorTarget(nullptr);
    result.outputs[0] = gOutputs[0];
    result.outputs[1] = gOutputs[1];
    return result;
}

mxArray* Text(const char* text) { return StandinCreateChar(text); }

mxArray* Frame(const corvane::wine::DetectorCase& c, std::size_t t) {
    const int sizes[3] = {static_cast<int>(c.H), static_cast<int>(c.W), 3};
    return StandinCreateNumeric(mxUINT8_CLASS, 3, sizes, c.frames[t].data());
}

// Makes a detector on `threads` threads, segments the video and compares it.
void RunVideo(MexFunction mex, const corvane::wine::DetectorCase& c, int threads) {
    const std::string where = ", " + std::to_string(threads) + " thread(s)";
    mxArray* command = Text("new");
    mxArray* option = Text("Threads");
    const double count = threads;
    mxArray* value = StandinCreateDouble(1, &count);
    Result made = Call(mex, 1, {command, option, value});
    StandinDestroy(command);
    StandinDestroy(option);
    StandinDestroy(value);
    Check(!made.raised && made.outputs[0] != nullptr, "'new' made a detector" + where + " " + made.id);
    if (made.raised || made.outputs[0] == nullptr) return;
    mxArray* id = made.outputs[0];
    const std::size_t N = std::size_t(c.H) * c.W;
    mxArray* step = Text("step");
    int maskFrames = 0, probabilityFrames = 0;
    for (std::size_t t = 0; t < c.T; ++t) {
        mxArray* frame = Frame(c, t);
        Result r = Call(mex, 2, {step, id, frame});
        StandinDestroy(frame);
        if (r.raised || r.outputs[0] == nullptr || r.outputs[1] == nullptr) {
            Check(false, "step " + std::to_string(t + 1) + where + " " + r.id);
            continue;
        }
        const mxLogical* mask = mxGetLogicals(r.outputs[0]);
        bool same = mask != nullptr && mxGetNumberOfElements(r.outputs[0]) == N;
        for (std::size_t p = 0; same && p < N; ++p) same = (mask[p] ? 1 : 0) == c.masks[t][p];
        maskFrames += same ? 1 : 0;
        const double* probability = mxGetPr(r.outputs[1]);
        probabilityFrames += probability != nullptr && mxGetNumberOfElements(r.outputs[1]) == N &&
                                     std::memcmp(probability, c.probabilities[t].data(),
                                                 N * sizeof(double)) == 0
                                 ? 1
                                 : 0;
        StandinDestroy(r.outputs[0]);
        StandinDestroy(r.outputs[1]);
    }
    Check(maskFrames == static_cast<int>(c.T),
          std::to_string(maskFrames) + " of " + std::to_string(c.T) + " masks are Linux's" + where);
    Check(probabilityFrames == static_cast<int>(c.T),
          std::to_string(probabilityFrames) + " of " + std::to_string(c.T) +
              " probabilities are Linux's" + where);

    mxArray* modelCommand = Text("model");
    Result model = Call(mex, 1, {modelCommand, id});
    StandinDestroy(modelCommand);
    Check(!model.raised && model.outputs[0] != nullptr && mxIsStruct(model.outputs[0]),
          "'model' gives a struct" + where);
    if (!model.raised && model.outputs[0] != nullptr) {
        for (std::size_t i = 0; i < c.fields.size(); ++i) {
            const mxArray* field = mxGetField(model.outputs[0], 0, c.fieldNames[i].c_str());
            const std::vector<double>& expected = c.fields[i];
            Check(field != nullptr && mxGetNumberOfElements(field) == expected.size() &&
                      std::memcmp(mxGetPr(field), expected.data(),
                                  expected.size() * sizeof(double)) == 0,
                  "the model's " + c.fieldNames[i] + " is Linux's" + where);
        }
        StandinDestroy(model.outputs[0]);
    }

    // A frame of another size is refused, and the detector goes on.
    const int other[3] = {static_cast<int>(c.H) + 1, static_cast<int>(c.W), 3};
    mxArray* wrong = StandinCreateNumeric(mxUINT8_CLASS, 3, other, nullptr);
    Result refused = Call(mex, 1, {step, id, wrong});
    StandinDestroy(wrong);
    Check(refused.raised && refused.id == "Corvane:frameSize",
          "a frame of another size ends in Corvane:frameSize, not '" + refused.id + "'" + where);
    mxArray* info = Text("info");
    Result facts = Call(mex, 1, {info, id});
    StandinDestroy(info);
    const mxArray* frames =
        facts.raised || facts.outputs[0] == nullptr ? nullptr
                                                    : mxGetField(facts.outputs[0], 0, "FramesProcessed");
    Check(frames != nullptr && mxGetScalar(frames) == c.T, "'info' counts the frames" + where);
    if (!facts.raised) StandinDestroy(facts.outputs[0]);

    mxArray* remove = Text("delete");
    Result deleted = Call(mex, 0, {remove, id});
    StandinDestroy(remove);
    Check(!deleted.raised, "'delete'" + where);
    mxArray* frame = Frame(c, 0);
    Result gone = Call(mex, 1, {step, id, frame});
    StandinDestroy(frame);
    Check(gone.raised && gone.id == "Corvane:deletedHandle",
          "a deleted detector ends in Corvane:deletedHandle, not '" + gone.id + "'" + where);
    StandinDestroy(step);
    StandinDestroy(id);
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
    corvane::wine::DetectorCase c;
    if (!corvane::wine::ReadDetectorCase(WindowsPath(argv[2]).c_str(), &c)) {
        std::printf("FAILED: could not read the detector case in %s\n", argv[2]);
        return 1;
    }
    std::printf("%s (%d-bit), a %u x %u video of %u frames from the Linux build\n", mexPath.c_str(),
                static_cast<int>(8 * sizeof(void*)), c.H, c.W, c.T);
    StandinResetMemoryStats();
    RunVideo(mex, c, 2);
    RunVideo(mex, c, 1);

    mxArray* expCommand = Text("exp");
    mxArray* x = StandinCreateDouble(c.expX.size(), c.expX.data());
    Result e = Call(mex, 1, {expCommand, x});
    Check(!e.raised && e.outputs[0] != nullptr &&
              mxGetNumberOfElements(e.outputs[0]) == c.expY.size() &&
              std::memcmp(mxGetPr(e.outputs[0]), c.expY.data(), c.expY.size() * sizeof(double)) == 0,
          "'exp' gives the core's correctly rounded values");
    if (!e.raised) StandinDestroy(e.outputs[0]);
    StandinDestroy(x);
    StandinDestroy(expCommand);

    mxArray* countCommand = Text("count");
    Result count = Call(mex, 1, {countCommand});
    StandinDestroy(countCommand);
    Check(!count.raised && count.outputs[0] != nullptr && mxGetScalar(count.outputs[0]) == 0,
          "no detector is left alive");
    if (!count.raised) StandinDestroy(count.outputs[0]);
    const StandinMemoryStats stats = StandinGetMemoryStats();
    Check(stats.live == 0 && stats.badFrees == 0, "every mxMalloc'd block was mxFree'd");
    StandinRunAtExit();
    FreeLibrary(library);

    if (gFailures != 0) {
        std::printf("%d of %d checks FAILED\n", gFailures, gChecks);
        return 1;
    }
    std::printf("CORVANE WINE TEST PASSED: %d checks, %d-bit\n", gChecks,
                static_cast<int>(8 * sizeof(void*)));
    return 0;
}
