#include "SegmentRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <memory>
#include <system_error>

#include <opencv2/imgcodecs.hpp>

#include "FrameSource.h"
#include "ModelFile.h"
#include "ModelOptions.h"
#include "OutputFolder.h"
#include "ParameterTable.h"
#include "Pictures.h"
#include "RunFiles.h"
#include "RunRecord.h"

namespace fs = std::filesystem;

namespace corvane::tools {

namespace {

std::string MaskName(std::int64_t frameNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "%06lld.png", static_cast<long long>(frameNumber));
    return name;
}

// Whether OUTDIR holds the input: replacing OUTDIR would delete the frames
// being read.
bool OutputHoldsInput(const std::string& input, const std::string& outdir) {
    std::error_code ec;
    fs::path inputPath = fs::path(input);
    if (input.find('%') != std::string::npos && !fs::exists(inputPath, ec))
        inputPath = inputPath.parent_path();  // a pattern: its folder
    const fs::path in = fs::weakly_canonical(fs::absolute(inputPath, ec), ec);
    const fs::path out = fs::weakly_canonical(fs::absolute(outdir, ec), ec);
    const auto mismatch = std::mismatch(out.begin(), out.end(), in.begin(), in.end());
    return !ec && mismatch.first == out.end();
}

// Whether `path` lies inside the folder `outdir` (or is it).
bool InsideOutput(const std::string& path, const std::string& outdir) {
    std::error_code ec;
    const fs::path inside = fs::weakly_canonical(fs::absolute(path, ec), ec);
    const fs::path out = fs::weakly_canonical(fs::absolute(outdir, ec), ec);
    const auto mismatch = std::mismatch(out.begin(), out.end(), inside.begin(), inside.end());
    return !ec && mismatch.first == out.end();
}

// The frames shown on a contact sheet of `rows` rows: spread evenly over
// `total` frames, ending at the last (every 100th when the length is unknown).
std::vector<std::int64_t> SheetFrames(int rows, std::int64_t total) {
    std::vector<std::int64_t> frames;
    for (std::int64_t k = 1; k <= rows; ++k) {
        const std::int64_t f = total > 0 ? std::max<std::int64_t>(1, total * k / rows) : 100 * k;
        if (frames.empty() || frames.back() != f) frames.push_back(f);
    }
    return frames;
}

// One run: the state the frame loop and the finishing steps share.
class Run {
public:
    Run(const SegmentOptions& options, const StopFlag& stop, const SegmentProgress& progress,
        FileCalls& files)
        : o_(options), stop_(stop), progress_(progress), files_(files), start_(Clock::now()),
          folder_(SystemFolderMoves(), files) {}

    SegmentResult Go() {
        try {
            if (Open() && Segment() && Finish()) result_.status = RunStatus::Done;
        } catch (const std::exception& e) {
            Fail(e.what());
        }
        result_.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        return result_;
    }

private:
    using Clock = std::chrono::steady_clock;

    bool Fail(const std::string& message) {
        result_.status = RunStatus::Failed;
        result_.message = message;
        return false;
    }

    bool Open() {
        std::string error;
        if (OutputHoldsInput(o_.input, o_.outdir))
            return Fail("the output folder \"" + o_.outdir + "\" holds the input \"" + o_.input +
                        "\"; choose another output folder");
        // The run replaces the output folder whole: a model saved into it
        // would go with the folder it replaces.
        if (!o_.saveModel.empty() && InsideOutput(o_.saveModel, o_.outdir))
            return Fail("the model file \"" + o_.saveModel + "\" is inside the output folder \"" +
                        o_.outdir + "\", which the run replaces; save it elsewhere");
        if (!source_.Open(o_.input, &error) || !folder_.Begin(o_.outdir, &error)) return Fail(error);
        work_ = folder_.WorkingPath();
        inputIdentity_ = InputIdentity(source_.Files());
        if (inputIdentity_.empty()) return Fail("cannot read the input \"" + o_.input + "\"");
        if (o_.probability) {
            std::error_code ec;
            fs::create_directory(work_ / "probability", ec);
            if (ec)
                return Fail("cannot create " + (work_ / "probability").string() + ": " +
                            ec.message());
        }
        parameters_ = o_.parameters;
        if (!o_.resume.empty()) {
            if (!ReadModelFile(o_.resume, &saved_, &error)) return Fail("cannot resume: " + error);
            // The saved parameters, with the options given on top of them.
            if (saved_.hasParameters) {
                parameters_ = saved_.parameters;
                for (const auto& [option, value] : o_.modelOptions)
                    if (!SetModelOption(option, value, &parameters_, &error)) return Fail(error);
                if (!CheckModelOptions(parameters_, &error)) return Fail(error);
            }
        }
        if (!o_.learnMask.empty() && !learnMasks_.Parse(o_.learnMask, &error))
            return Fail("--learn-mask: " + error);
        total_ = source_.FrameCount();
        if (o_.maxFrames > 0 && (total_ < 0 || total_ > o_.maxFrames)) total_ = o_.maxFrames;
        sheetFrames_ = SheetFrames(o_.sheetRows, total_);
        return true;
    }

    bool Segment() {
        segmenter_ = std::make_unique<Segmenter>(o_.method, parameters_);
        Segmenter& segmenter = *segmenter_;
        segmenter.SetThreads(o_.threads);
        std::string error;
        // The model starts from the frames as they are segmented, so only the
        // first is read ahead, for the video's size.
        if (!source_.Read(bgr_, &error))
            return Fail(error.empty() ? "\"" + o_.input + "\" holds no frames" : error);
        result_.height = bgr_.rows;
        result_.width = bgr_.cols;
        if (o_.resume.empty()) {
            if (!segmenter.Start(bgr_.rows, bgr_.cols, &error)) return Fail(error);
        } else {
            const ModelSizes sizes = SizesOf(saved_.model);
            if (sizes.H != bgr_.rows || sizes.W != bgr_.cols)
                return Fail("the model in \"" + o_.resume + "\" is of " +
                            std::to_string(sizes.W) + "x" + std::to_string(sizes.H) +
                            " frames; \"" + o_.input + "\" has " + std::to_string(bgr_.cols) +
                            "x" + std::to_string(bgr_.rows));
            if (!segmenter.Resume(saved_, &error))
                return Fail("cannot resume from \"" + o_.resume + "\": " + error);
            saved_ = SavedDetector();  // the detector holds its own copy
        }

        const bool wantProbability = o_.probability || o_.sheetRows > 0;
        std::vector<double> frame;
        std::int64_t& n = result_.frames;
        for (bool haveFrame = true;; haveFrame = false) {
            if (stop_.Requested()) {
                result_.status = RunStatus::Interrupted;
                return false;
            }
            if (o_.maxFrames > 0 && n >= o_.maxFrames) break;
            if (!haveFrame && !source_.Read(bgr_, &error)) {
                if (!error.empty())
                    return Fail(error + " (stopped after " + std::to_string(n) +
                                " frames; no output written)");
                break;
            }
            if (o_.method == Method::Corvane) ToModelFrame(bgr_, frame);
            ++n;
            if (!o_.learnMask.empty() && !ReadLearnMask(n, &error))
                return Fail(error + " (stopped after " + std::to_string(n - 1) +
                            " frames; no output written)");
            if (!segmenter.Process(bgr_, frame, o_.learnMask.empty() ? nullptr : keep_.data(),
                                   mask_, wantProbability ? &prob_ : nullptr, &error))
                return Fail("frame " + std::to_string(n) + ": " + error);
            if (!WriteImage((work_ / MaskName(n)).string(), mask_, &error, files_) ||
                (o_.probability &&
                 !WriteImage((work_ / "probability" / MaskName(n)).string(), prob_, &error, files_)))
                return Fail(error + " (stopped after " + std::to_string(n) +
                            " frames; no output written)");
            if (std::find(sheetFrames_.begin(), sheetFrames_.end(), n) != sheetFrames_.end())
                AddSheetRow();
            if (progress_) progress_(n, total_);
        }
        return true;
    }

    // The learn mask of frame n into keep_ (column-major, 1 where the model
    // keeps its colour): any channel not 0.
    bool ReadLearnMask(std::int64_t n, std::string* error) {
        const std::string path = learnMasks_.Format(n);
        std::error_code ec;
        const cv::Mat image = fs::is_regular_file(path, ec)
                                  ? cv::imread(path, cv::IMREAD_UNCHANGED)
                                  : cv::Mat();
        if (image.empty()) {
            *error = "frame " + std::to_string(n) + ": cannot read its learn mask \"" + path +
                     "\" (--learn-mask needs one image per frame)";
            return false;
        }
        if (image.rows != bgr_.rows || image.cols != bgr_.cols) {
            *error = "frame " + std::to_string(n) + ": its learn mask \"" + path + "\" is " +
                     std::to_string(image.cols) + "x" + std::to_string(image.rows) +
                     "; the frames are " + std::to_string(bgr_.cols) + "x" +
                     std::to_string(bgr_.rows);
            return false;
        }
        cv::Mat channels[4];
        cv::split(image, channels);
        cv::Mat any = channels[0] != 0;
        for (int ch = 1; ch < image.channels(); ++ch) any |= channels[ch] != 0;
        const std::int64_t H = bgr_.rows, W = bgr_.cols;
        keep_.resize(static_cast<std::size_t>(H * W));
        for (std::int64_t r = 0; r < H; ++r) {
            const std::uint8_t* row = any.ptr<std::uint8_t>(static_cast<int>(r));
            for (std::int64_t c = 0; c < W; ++c)
                keep_[static_cast<std::size_t>(c * H + r)] = row[c] != 0 ? 1 : 0;
        }
        return true;
    }

    void AddSheetRow() {
        sheet_.push_back(SheetRow{static_cast<long>(result_.frames), bgr_.clone(), prob_.clone(),
                                  mask_.clone()});
    }

    bool Finish() {
        const std::int64_t n = result_.frames;
        result_.announced = source_.FrameCount();
        // A video that ends before the length its container announces may be
        // truncated or damaged, or its container's count only an estimate.
        // The masks of every decoded frame are kept either way; the record
        // and the exit status say the input was short.
        RunOutcome outcome;
        outcome.frames = n;
        outcome.announced = result_.announced;
        outcome.width = result_.width;
        outcome.height = result_.height;
        if (EndedShort(o_, outcome)) {
            result_.endedShort = true;
            result_.warnings.push_back(
                "the input announced " + std::to_string(result_.announced) + " frames but only " +
                std::to_string(n) + " could be decoded (truncated, damaged, or the count was an "
                "estimate); the masks of those " + std::to_string(n) + " are kept" +
                (o_.allowShort ? std::string() : " (exit status 3; --allow-short makes it 0)"));
        }
        std::string error;
        if (o_.sheetRows > 0) {
            // A video may hold fewer frames than it announced; show its last
            // frame then.
            if (sheet_.size() < sheetFrames_.size() && (sheet_.empty() || sheet_.back().frameNumber != n))
                AddSheetRow();
            const std::string title = std::string(MethodName(o_.method)) + " on " +
                                      fs::path(o_.input).filename().string() + " (" +
                                      std::to_string(result_.width) + "x" +
                                      std::to_string(result_.height) + ", " + std::to_string(n) +
                                      " frames)";
            if (!WriteImage((work_ / "contact-sheet.png").string(), ContactSheet(sheet_, title),
                            &error, files_))
                return Fail(error + "; no output written");
            result_.sheet = (fs::path(o_.outdir) / "contact-sheet.png").string();
        }
        for (std::int64_t f = 1; f <= n; ++f) {
            outcome.files.emplace_back(MaskName(f), 0);
            if (o_.probability)
                outcome.files.emplace_back(std::string(kProbabilityFolder) + "/" + MaskName(f), 0);
        }
        if (o_.sheetRows > 0) outcome.files.emplace_back(kContactSheet, 0);
        for (auto& [name, bytes] : outcome.files) {
            std::error_code ec;
            bytes = fs::file_size(work_ / name, ec);
            if (ec) return Fail("cannot read back \"" + (work_ / name).string() + "\": " +
                                ec.message() + "; no output written");
        }
        // The model last: when it is written the masks are too, and a model
        // that cannot be written leaves no output.
        if (!o_.saveModel.empty() && !SaveDetector(segmenter_->detector(), o_.saveModel, &error))
            return Fail("cannot save the model: " + error + "; no output written");
        if (!WriteFileChecked((work_ / kRunRecord).string(),
                              RunRecordText(o_, inputIdentity_, outcome), &error, files_))
            return Fail(error + "; no output written");
        if (!folder_.Commit(&error)) return Fail(error);
        if (!folder_.Notice().empty()) result_.warnings.push_back(folder_.Notice());
        return true;
    }

    const SegmentOptions& o_;
    const StopFlag& stop_;
    const SegmentProgress& progress_;
    FileCalls& files_;
    Clock::time_point start_;
    SegmentResult result_;
    FrameSource source_;
    OutputFolder folder_;
    fs::path work_;
    std::string inputIdentity_;
    std::int64_t total_ = -1;
    std::vector<std::int64_t> sheetFrames_;
    std::vector<SheetRow> sheet_;
    cv::Mat bgr_, mask_, prob_;
    ModelParameters parameters_;
    SavedDetector saved_;
    NumberPattern learnMasks_;
    std::vector<std::uint8_t> keep_;
    std::unique_ptr<Segmenter> segmenter_;
};

}  // namespace

std::string CheckSegmentOptions(const SegmentOptions& options) {
    if (options.input.empty()) return "no input given";
    if (options.outdir.empty()) return "no output folder given";
    if (options.sheetRows < 0 || options.sheetRows > kMaxSheetRows)
        return "the contact sheet takes 0 to " + std::to_string(kMaxSheetRows) + " rows, not " +
               std::to_string(options.sheetRows);
    if (options.maxFrames == 0 || options.maxFrames < -1)
        return "the frame limit is a positive number or -1 (every frame), not " +
               std::to_string(options.maxFrames);
    if (options.method != Method::Corvane && options.probability)
        return "probability images come from corvane only";
    if (options.method != Method::Corvane &&
        !(options.resume.empty() && options.saveModel.empty() && options.learnMask.empty()))
        return "--resume, --save-model and --learn-mask apply to corvane only";
    const ParameterProblem problem = ValidateParameters(options.parameters);
    return problem.ok() ? std::string() : problem.message;
}

SegmentResult RunSegment(const SegmentOptions& options, const StopFlag& stop,
                         const SegmentProgress& progress, FileCalls& files) {
    const std::string problem = CheckSegmentOptions(options);
    if (!problem.empty()) {
        SegmentResult result;
        result.message = problem;
        return result;
    }
    return Run(options, stop, progress, files).Go();
}

}  // namespace corvane::tools
