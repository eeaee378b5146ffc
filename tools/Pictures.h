// Pictures for people: a contact sheet of frames with their foreground
// probability and mask, and a bar chart of F-measures.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "FileWrites.h"

namespace corvane::tools {

// One row of a contact sheet.
struct SheetRow {
    long frameNumber = 0;
    cv::Mat input;        // 8-bit BGR
    cv::Mat probability;  // 8-bit, 0..255; empty when the method has none
    cv::Mat mask;         // 8-bit, 0 / 255
};

// The rows stacked top to bottom, each "input | probability | mask" with a
// caption; small frames are enlarged so the sheet is at least ~900 pixels wide.
cv::Mat ContactSheet(const std::vector<SheetRow>& rows, const std::string& title);

struct Bar {
    std::string label;
    double value = 0;  // 0..1
};

// A bar chart of values in 0..1 with their labels and values written on it.
cv::Mat BarChart(const std::vector<Bar>& bars, const std::string& title);

// Writes `image` to `path` in the format its extension names, checked to
// the end and synced (FileWrites.h). False, with the file and the reason in
// `error`, when it cannot be written; nothing is left at `path` then.
bool WriteImage(const std::string& path, const cv::Mat& image, std::string* error,
                FileCalls& calls = SystemFileCalls());

}  // namespace corvane::tools
