#include "ToolsTestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sstream>
#include <system_error>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <unistd.h>

#include "Commands.h"

namespace fs = std::filesystem;

namespace corvane::tools::test {

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("corvane-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

cv::Mat Solid(int W, int H, cv::Scalar bgr) { return cv::Mat(H, W, CV_8UC3, bgr); }

cv::Mat SceneFrame(int t, int W, int H) {
    cv::Mat frame = Solid(W, H, cv::Scalar(90, 100, 110));
    cv::rectangle(frame, cv::Rect(2 + t, 3, 4, 4), cv::Scalar(255, 255, 255), cv::FILLED);
    return frame;
}

void WriteSceneImages(const std::string& folder, const char* pattern, int first, int frames) {
    for (int t = 0; t < frames; ++t) {
        char name[64];
        std::snprintf(name, sizeof name, pattern, first + t);
        cv::imwrite((fs::path(folder) / name).string(), SceneFrame(t));
    }
}

int Corvane(const std::vector<std::string>& args, std::string* out, std::string* err) {
    std::ostringstream o, e;
    const int status = RunCorvane(args, o, e, false);
    if (out != nullptr) *out = o.str();
    if (err != nullptr) *err = e.str();
    return status;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace corvane::tools::test
