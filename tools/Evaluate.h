// Scoring folders of masks against ground-truth label images: the work of
// `corvane evaluate`, callable by any host, and the reports it prints.
#pragma once

#include <string>
#include <vector>

#include "Scoring.h"
#include "StopFlag.h"

namespace corvane::tools {

struct EvaluateOptions {
    // Each a folder of 000001.png, 000002.png, ... or a printf-style pattern
    // numbered from 1 (res/bin%06d.png).
    std::vector<std::string> masks;
    // A name for each mask source; empty: their folder names.
    std::vector<std::string> labels;
    // A folder of label images in name order, a pattern, or a change-detection
    // sequence folder (groundtruth/, ROI.bmp, temporalROI.txt).
    std::string truth;
    std::string roi;                  // image whose zero pixels are not scored
    long long first = -1, last = -1;  // frames to score, 1-based; -1: all
};

struct MethodScores {
    std::string label;
    ConfusionCounts counts;
    Scores scores;
};

struct EvaluateResult {
    RunStatus status = RunStatus::Failed;
    std::string message;  // why it failed; empty otherwise
    long long first = 0, last = 0;
    std::vector<MethodScores> methods;  // one per mask source, in order
};

// Scores every frame from first to last. Looks at `stop` before every frame.
EvaluateResult RunEvaluate(const EvaluateOptions& options, const StopFlag& stop);

// The scores as a table for people, headed by the frames and `truth`.
std::string ScoreTable(const EvaluateResult& result, const std::string& truth);
// The scores as CSV, one row per method.
std::string ScoreCsv(const EvaluateResult& result);
// A bar chart of the F-measures, written to `path`.
bool WriteScoreChart(const EvaluateResult& result, const std::string& truth,
                     const std::string& path, std::string* error);

}  // namespace corvane::tools
