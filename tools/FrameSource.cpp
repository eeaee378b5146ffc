#include "FrameSource.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "FrameLayout.h"

namespace fs = std::filesystem;

namespace corvane::tools {

bool NumberPattern::Parse(const std::string& text, std::string* error) {
    prefix.clear();
    suffix.clear();
    width = 0;
    zeroPad = false;
    int conversions = 0;
    std::string* out = &prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out->push_back(text[i]);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            out->push_back('%');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool zero = false;
        if (j < text.size() && text[j] == '0') {
            zero = true;
            ++j;
        }
        int w = 0;
        std::size_t digits = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])) && digits < 3) {
            w = w * 10 + (text[j] - '0');
            ++j;
            ++digits;
        }
        if (j >= text.size() || (text[j] != 'd' && text[j] != 'i' && text[j] != 'u') || w > 20) {
            *error = "the pattern \"" + text +
                     "\" has a '%' that is not an integer conversion such as %d or %06d "
                     "(write %% for a literal '%')";
            return false;
        }
        ++conversions;
        width = w;
        zeroPad = zero;
        out = &suffix;
        i = j;
    }
    if (conversions != 1) {
        *error = "the pattern \"" + text + "\" must hold exactly one frame number such as %06d";
        return false;
    }
    return true;
}

std::string NumberPattern::Format(std::int64_t number) const {
    std::string digits = std::to_string(number);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), zeroPad ? '0' : ' ');
    return prefix + digits + suffix;
}

namespace {

bool HasImageExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const char* const known[] = {".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff",
                                        ".ppm", ".pgm", ".pnm", ".webp", ".jp2"};
    return std::any_of(std::begin(known), std::end(known),
                       [&](const char* k) { return ext == k; });
}

bool IsFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

}  // namespace

std::vector<std::string> ListImages(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        if (name.empty() || name[0] == '.' || !HasImageExtension(path)) continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        files.push_back(path.string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> ListPatternFiles(const NumberPattern& pattern) {
    std::vector<std::string> files;
    std::int64_t first = -1;
    for (std::int64_t n = 0; n < 10000 && first < 0; ++n)
        if (IsFile(pattern.Format(n))) first = n;
    if (first < 0) return files;
    for (std::int64_t n = first;; ++n) {
        std::string name = pattern.Format(n);
        if (!IsFile(name)) break;
        files.push_back(std::move(name));
    }
    return files;
}

bool FrameSource::Open(const std::string& input, std::string* error) {
    input_ = input;
    video_ = false;
    files_.clear();
    framesRead_ = 0;
    frameCount_ = -1;
    size_ = cv::Size();
    std::error_code ec;
    // A path that exists is taken as it is, before it is read as a pattern:
    // "50%.avi" or a folder "dir%done" are real names.
    const bool literal = fs::exists(fs::symlink_status(input, ec)) || fs::exists(input, ec);
    if (!literal && input.find('%') != std::string::npos) {
        NumberPattern pattern;
        if (!pattern.Parse(input, error)) return false;
        files_ = ListPatternFiles(pattern);
        if (files_.empty()) {
            *error = "no image matches the pattern \"" + input + "\" (tried numbers 0 to 9999)";
            return false;
        }
    } else if (fs::is_directory(input, ec)) {
        files_ = ListImages(input);
        if (files_.empty()) {
            *error = "the folder \"" + input + "\" holds no images (.png, .jpg, .bmp, .tif, ...)";
            return false;
        }
    } else if (fs::exists(input, ec)) {
        if (!IsFile(input)) {
            *error = "\"" + input + "\" is neither a video file nor a folder of images";
            return false;
        }
        // FFmpeg first, then OpenCV's own Motion-JPEG reader. Not every
        // backend: some of them probe cameras and devices for a file name.
        for (const int backend : {cv::CAP_FFMPEG, cv::CAP_OPENCV_MJPEG}) {
            try {
                if (capture_.open(input, backend)) break;
            } catch (const cv::Exception&) {
                capture_.release();
            }
        }
        if (!capture_.isOpened()) {
            *error = "cannot open the video \"" + input + "\" (unreadable or not a video format "
                     "this build can decode)";
            return false;
        }
        video_ = true;
        const double count = capture_.get(cv::CAP_PROP_FRAME_COUNT);
        frameCount_ = count >= 1 ? static_cast<std::int64_t>(count) : -1;
        return true;
    } else {
        *error = "the input \"" + input + "\" does not exist";
        return false;
    }
    frameCount_ = static_cast<std::int64_t>(files_.size());
    return true;
}

bool FrameSource::Read(cv::Mat& bgr, std::string* error) {
    error->clear();
    cv::Mat image;
    std::string where;
    if (video_) {
        if (!capture_.read(image) || image.empty()) {
            if (framesRead_ == 0) *error = "no frame of the video \"" + input_ + "\" can be decoded";
            return false;
        }
        where = "frame " + std::to_string(framesRead_ + 1) + " of \"" + input_ + "\"";
    } else {
        if (framesRead_ >= static_cast<std::int64_t>(files_.size())) return false;
        where = files_[static_cast<std::size_t>(framesRead_)];
        try {
            // At the file's own depth and channels, then scaled as any frame
            // is (ToColourBgr8): OpenCV's colour flag would shift 16-bit
            // samples down (500 -> 1) instead of dividing by 257 (500 -> 2).
            // The orientation an image's metadata gives is still applied.
            image = cv::imread(where, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
        } catch (const cv::Exception&) {
            image.release();
        }
        if (image.empty()) {
            *error = "cannot decode the image \"" + where + "\"";
            return false;
        }
    }
    if (!ToColourBgr8(image, bgr, error)) {
        *error = where + " " + *error;
        return false;
    }
    if (framesRead_ == 0) {
        size_ = bgr.size();
    } else if (bgr.size() != size_) {
        *error = where + " is " + std::to_string(bgr.cols) + "x" + std::to_string(bgr.rows) +
                 " but the first frame is " + std::to_string(size_.width) + "x" +
                 std::to_string(size_.height);
        return false;
    }
    ++framesRead_;
    return true;
}

bool ToColourBgr8(const cv::Mat& image, cv::Mat& bgr, std::string* error) {
    // Full scale of every depth maps to 255; convertTo rounds to the nearest
    // step and saturates. 16-bit: /257, so 65535 gives 255 and a value that
    // came from 8 bits (x * 257) gives x back. Floating point: 0..1.
    cv::Mat eight;
    switch (image.depth()) {
        case CV_8U:
            eight = image;
            break;
        case CV_16U:
            image.convertTo(eight, CV_8U, 1.0 / 257.0);
            break;
        case CV_16F:
        case CV_32F:
        case CV_64F:
            image.convertTo(eight, CV_8U, 255.0);
            break;
        default:
            *error = "has signed " + std::to_string(8 * image.elemSize1()) +
                     "-bit samples, which have no agreed brightness scale; convert the "
                     "input to 8 or 16 bits unsigned";
            return false;
    }
    if (eight.channels() == 1) {
        cv::cvtColor(eight, bgr, cv::COLOR_GRAY2BGR);
    } else if (eight.channels() == 4) {
        cv::cvtColor(eight, bgr, cv::COLOR_BGRA2BGR);
    } else if (eight.channels() == 3) {
        bgr = eight;
    } else {
        *error = "has " + std::to_string(eight.channels()) + " channels";
        return false;
    }
    return true;
}

void ToModelFrame(const cv::Mat& bgr, std::vector<double>& frame) {
    frame.resize(3 * static_cast<std::size_t>(bgr.rows) * static_cast<std::size_t>(bgr.cols));
    HostFrame image = RowMajorFrame(bgr.data, SampleType::Uint8, bgr.rows, bgr.cols, 3);
    image.strides[0] = static_cast<std::int64_t>(bgr.step[0]);  // rows may be padded
    ReadHostFrame(image, frame.data());
}

}  // namespace corvane::tools
