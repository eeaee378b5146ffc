// Segmenting one video into a folder of masks: the work of `corvane segment`,
// callable by any host. It writes only into the output folder it is given,
// which appears complete or not at all (OutputFolder.h), and returns instead
// of exiting.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FileWrites.h"
#include "ModelSetup.h"
#include "Segmenter.h"
#include "StopFlag.h"

namespace corvane::tools {

// The largest contact sheet, in rows.
constexpr int kMaxSheetRows = 20;

struct SegmentOptions {
    std::string input;   // a video file, an image pattern or a folder of images
    std::string outdir;  // the output folder
    Method method = Method::Corvane;
    ModelParameters parameters;  // Corvane's; the OpenCV methods take none
    bool probability = false;    // also write the probability images (Corvane)
    int sheetRows = 0;           // contact sheet rows, 0 (none) to kMaxSheetRows
    std::int64_t maxFrames = -1; // stop after this many frames; -1: every frame
    bool allowShort = false;     // a video shorter than it announces is no failure
    int threads = 0;             // threads of Corvane's update; 0: every CPU this
                                 // process may use (the masks are the same for any)
    // Corvane only: the model file to go on from (its parameters, with the
    // model options given on top of them: modelOptions), the file to save
    // the model in after the last frame, and a printf-style pattern of the
    // learn masks (numbered from 1 as the frames of this run; not 0: the
    // model does not learn that pixel's colour).
    std::string resume;
    std::string saveModel;
    std::string learnMask;
    std::vector<std::pair<std::string, std::string>> modelOptions;  // as given, in order
};

struct SegmentResult {
    RunStatus status = RunStatus::Failed;
    std::int64_t frames = 0;  // frames segmented (written only when Done)
    std::int64_t announced = -1;  // frames the input announced; -1: it did not say
    // Done, but the input ended before the length it announced without a
    // frame limit to explain it: the masks of every decoded frame are kept,
    // and the command says so with its own exit status.
    bool endedShort = false;
    double seconds = 0;       // from opening the input to the finished folder
    int width = 0, height = 0;
    std::string message;      // why it failed; empty otherwise
    std::vector<std::string> warnings;  // what a finished run should report
    std::string sheet;        // the contact sheet's path, when one was written
};

// Called after each frame with the frames done and the frames expected (-1
// when the input does not say).
using SegmentProgress = std::function<void(std::int64_t done, std::int64_t total)>;

// Checks `options`; empty when they are sound, otherwise the first problem.
std::string CheckSegmentOptions(const SegmentOptions& options);

// Segments options.input into options.outdir. Looks at `stop` before every
// frame: a request ends the run as Interrupted with nothing written. Every
// file goes through `files`, checked to its end and synced: a failed write
// fails the run, naming the file and the reason, and nothing is committed.
SegmentResult RunSegment(const SegmentOptions& options, const StopFlag& stop,
                         const SegmentProgress& progress = nullptr,
                         FileCalls& files = SystemFileCalls());

}  // namespace corvane::tools
