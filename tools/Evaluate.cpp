#include "Evaluate.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <opencv2/imgcodecs.hpp>

#include "FrameSource.h"
#include "Pictures.h"

namespace fs = std::filesystem;

namespace corvane::tools {

namespace {

std::string Number(double value, int decimals) {
    if (!std::isfinite(value)) return "n/a";
    std::ostringstream s;
    s << std::fixed << std::setprecision(decimals) << value;
    return s.str();
}

bool ReadTemporalRoi(const fs::path& path, long long* first, long long* last, std::string* error) {
    std::ifstream in(path);
    if (!(in >> *first >> *last) || *first < 1 || *last < *first) {
        *error = "cannot read two frame numbers FIRST LAST from \"" + path.string() + "\"";
        return false;
    }
    return true;
}

cv::Mat ReadGrey(const std::string& path) {
    // A missing file is the caller's to report: imread would print OpenCV's
    // own warning first.
    std::error_code status;
    if (!fs::exists(path, status)) return cv::Mat();
    try {
        return cv::imread(path, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// The last name of a path, "a/b/" and "a/b" alike.
std::string FolderName(const std::string& path) {
    fs::path name = fs::path(path).lexically_normal();
    if (!name.has_filename()) name = name.parent_path();
    return name.filename().string();
}

// One evaluation; every step fails with a message in `result_`.
class Evaluation {
public:
    Evaluation(const EvaluateOptions& options, const StopFlag& stop) : o_(options), stop_(stop) {
        result_.first = o_.first;
        result_.last = o_.last;
        roiPath_ = o_.roi;
    }

    EvaluateResult Go() {
        try {
            if (Labels() && Truth() && Masks() && Score()) result_.status = RunStatus::Done;
        } catch (const std::exception& e) {
            Fail(e.what());
        }
        return result_;
    }

private:
    bool Fail(const std::string& message) {
        result_.status = RunStatus::Failed;
        result_.message = message;
        return false;
    }

    bool Labels() {
        if (o_.masks.empty()) return Fail("no masks to score");
        if (!o_.labels.empty() && o_.labels.size() != o_.masks.size())
            return Fail("--labels names " + std::to_string(o_.labels.size()) + " methods but " +
                        std::to_string(o_.masks.size()) + " mask folders are given");
        if ((o_.first < 0) != (o_.last < 0) || (o_.first >= 0 && (o_.first < 1 || o_.last < o_.first)))
            return Fail("the frames to score need 1 <= FIRST <= LAST");
        for (std::size_t i = 0; i < o_.masks.size(); ++i) {
            MethodScores method;
            method.label = o_.labels.empty() ? FolderName(o_.masks[i]) : o_.labels[i];
            result_.methods.push_back(method);
        }
        return true;
    }

    // The ground truth: a sequence folder, a folder of labels or a pattern.
    bool Truth() {
        std::string error;
        std::error_code ec;
        std::string source = o_.truth;
        const fs::path truth(o_.truth);
        if (fs::is_directory(truth / "groundtruth", ec)) {
            source = (truth / "groundtruth").string();
            if (roiPath_.empty() && fs::exists(truth / "ROI.bmp", ec))
                roiPath_ = (truth / "ROI.bmp").string();
            if (result_.first < 0 && fs::exists(truth / "temporalROI.txt", ec) &&
                !ReadTemporalRoi(truth / "temporalROI.txt", &result_.first, &result_.last, &error))
                return Fail(error);
        }
        if (source.find('%') != std::string::npos) {
            NumberPattern pattern;
            if (!pattern.Parse(source, &error)) return Fail(error);
            truthFiles_ = ListPatternFiles(pattern);
        } else if (fs::is_directory(source, ec)) {
            truthFiles_ = ListImages(source);
        } else {
            return Fail("the ground truth \"" + o_.truth +
                        "\" is not a folder or a pattern of label images");
        }
        if (truthFiles_.empty()) return Fail("no label images in \"" + source + "\"");
        if (result_.first < 0) {
            result_.first = 1;
            result_.last = static_cast<long long>(truthFiles_.size());
        }
        if (result_.last > static_cast<long long>(truthFiles_.size()))
            return Fail("frames " + std::to_string(result_.first) + " to " +
                        std::to_string(result_.last) + " are to be scored but \"" + source +
                        "\" holds labels for " + std::to_string(truthFiles_.size()) + " frames");
        if (!roiPath_.empty()) {
            roi_ = ReadGrey(roiPath_);
            if (roi_.empty()) return Fail("cannot read the region of interest \"" + roiPath_ + "\"");
        }
        return true;
    }

    // Masks: a folder of 000001.png, ... or a pattern such as res/bin%06d.png.
    bool Masks() {
        std::string error;
        std::error_code ec;
        patterns_.resize(o_.masks.size());
        for (std::size_t i = 0; i < o_.masks.size(); ++i) {
            const std::string& m = o_.masks[i];
            if (m.find('%') != std::string::npos) {
                if (!patterns_[i].Parse(m, &error)) return Fail(error);
            } else if (fs::is_directory(m, ec)) {
                patterns_[i].prefix = (fs::path(m) / "").string();
                patterns_[i].width = 6;
                patterns_[i].zeroPad = true;
                patterns_[i].suffix = ".png";
            } else {
                return Fail("the mask folder \"" + m + "\" does not exist");
            }
        }
        return true;
    }

    bool Score() {
        std::string error;
        for (long long f = result_.first; f <= result_.last; ++f) {
            if (stop_.Requested()) {
                result_.status = RunStatus::Interrupted;
                return false;
            }
            const std::string& truthFile = truthFiles_[static_cast<std::size_t>(f - 1)];
            const cv::Mat truth = ReadGrey(truthFile);
            if (truth.empty()) return Fail("cannot read the labels \"" + truthFile + "\"");
            for (std::size_t i = 0; i < patterns_.size(); ++i) {
                const std::string maskFile = patterns_[i].Format(f);
                const cv::Mat mask = ReadGrey(maskFile);
                if (mask.empty())
                    return Fail("no readable mask for frame " + std::to_string(f) + " (\"" +
                                maskFile + "\")");
                if (!CountFrame(mask, truth, roi_, result_.methods[i].counts, &error))
                    return Fail("frame " + std::to_string(f) + ", " + maskFile + " against " +
                                truthFile + ": " + error);
            }
        }
        for (auto& m : result_.methods) m.scores = ScoresOf(m.counts);
        return true;
    }

    const EvaluateOptions& o_;
    const StopFlag& stop_;
    EvaluateResult result_;
    std::string roiPath_;
    cv::Mat roi_;
    std::vector<std::string> truthFiles_;
    std::vector<NumberPattern> patterns_;
};

}  // namespace

EvaluateResult RunEvaluate(const EvaluateOptions& options, const StopFlag& stop) {
    return Evaluation(options, stop).Go();
}

std::string ScoreTable(const EvaluateResult& result, const std::string& truth) {
    std::size_t labelWidth = 6;
    for (const auto& r : result.methods) labelWidth = std::max(labelWidth, r.label.size());
    std::ostringstream out;
    out << "Frames " << result.first << " to " << result.last << " of " << truth << "\n";
    out << std::left << std::setw(static_cast<int>(labelWidth)) << "method" << std::right
        << "  recall  specif.     FPR     FNR     PWC  precis.  F-meas.\n";
    for (const auto& r : result.methods) {
        const Scores& s = r.scores;
        out << std::left << std::setw(static_cast<int>(labelWidth)) << r.label << std::right;
        for (double v : {s.recall, s.specificity, s.fpr, s.fnr}) out << std::setw(8) << Number(v, 4);
        out << std::setw(8) << Number(s.pwc, 3);
        for (double v : {s.precision, s.f}) out << std::setw(9) << Number(v, 4);
        out << "\n";
    }
    return out.str();
}

std::string ScoreCsv(const EvaluateResult& result) {
    std::ostringstream csv;
    csv << "method,frames,tp,fp,fn,tn,recall,specificity,fpr,fnr,pwc,precision,f_measure\n";
    for (const auto& r : result.methods) {
        const Scores& s = r.scores;
        csv << CsvField(r.label) << "," << r.counts.frames << "," << r.counts.tp << ","
            << r.counts.fp << "," << r.counts.fn << "," << r.counts.tn;
        for (double v : {s.recall, s.specificity, s.fpr, s.fnr, s.pwc, s.precision, s.f})
            csv << "," << (std::isfinite(v) ? Number(v, 6) : std::string("nan"));
        csv << "\n";
    }
    return csv.str();
}

bool WriteScoreChart(const EvaluateResult& result, const std::string& truth,
                     const std::string& path, std::string* error) {
    std::vector<Bar> bars;
    for (const auto& r : result.methods) bars.push_back(Bar{r.label, r.scores.f});
    const std::string title = "F-measure on " + FolderName(truth) + ", frames " +
                              std::to_string(result.first) + "-" + std::to_string(result.last);
    return WriteImage(path, BarChart(bars, title), error);
}

}  // namespace corvane::tools
