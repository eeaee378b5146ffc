// Temporary folders and small generated images for the command's tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace corvane::tools::test {

// A fresh folder under the system's temporary folder, removed on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A W x H BGR image of one colour.
cv::Mat Solid(int W, int H, cv::Scalar bgr);

// Frame t of a small scene: a grey background with a white 4x4 square at
// column 2 + t, rows 3..6.
cv::Mat SceneFrame(int t, int W = 24, int H = 16);

// Writes `frames` PNG frames of SceneFrame into `folder` named by `pattern`
// (e.g. "f%03d.png"), numbered from `first`.
void WriteSceneImages(const std::string& folder, const char* pattern, int first, int frames);

// Runs the corvane command in-process; returns its exit status, with what it
// printed in `out` and `err`.
int Corvane(const std::vector<std::string>& args, std::string* out = nullptr,
        std::string* err = nullptr);

// File names (not paths) in `folder`, sorted.
std::vector<std::string> Names(const std::string& folder);

}  // namespace corvane::tools::test
