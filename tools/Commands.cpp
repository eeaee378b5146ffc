#include "Commands.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <limits>
#include <map>
#include <sstream>
#include <system_error>

#include <opencv2/imgcodecs.hpp>

#include "FrameSource.h"
#include "ModelOptions.h"
#include "ParameterTable.h"
#include "OutputFolder.h"
#include "Pictures.h"
#include "RunRecord.h"
#include "Scoring.h"
#include "Segmenter.h"

namespace fs = std::filesystem;

namespace corvane::tools {

namespace {
volatile std::sig_atomic_t stopRequested = 0;
}  // namespace

void RequestStop() { stopRequested = 1; }

std::string HelpText() {
    std::ostringstream s;
    s << "corvane - background subtraction with a per-pixel self-organising map\n"
         "\n"
         "corvane segment INPUT OUTDIR [options]\n"
         "  Segments every frame of INPUT: a video file, a printf-style image pattern\n"
         "  (e.g. input/in%06d.jpg; numbering starts at the first number from 0 to 9999\n"
         "  that exists) or a folder of images taken in name order. Writes one mask per\n"
         "  frame, OUTDIR/000001.png, 000002.png, ... (0 background, 255 foreground) and\n"
         "  the run record OUTDIR/" << kRunRecord << ".\n"
         "  The results are written into OUTDIR.incomplete-PID and renamed to OUTDIR only\n"
         "  when every frame is done, so OUTDIR never holds a partial run. A failed or\n"
         "  interrupted (Ctrl-C) run removes that folder; a run killed outright leaves\n"
         "  only it, and the next run into OUTDIR removes it. An existing OUTDIR is\n"
         "  replaced, in one step, only if it is empty or holds an earlier corvane run\n"
         "  and nothing else; only the files a run writes are deleted.\n"
         "  Frames enter the model as doubles 0..255, channels red, green, blue.\n"
         "\n"
         "  --method M            corvane (default), mog2 or knn: OpenCV's subtractors at\n"
         "                        their defaults, shadows (127) counted as background\n"
         "  --probability         also write the foreground probability as 8-bit images,\n"
         "                        OUTDIR/probability/000001.png, ... (corvane only)\n"
         "  --sheet N             also write OUTDIR/contact-sheet.png: N frames spread\n"
         "                        over the video, input | probability | mask\n"
         "  --max-frames N        stop after N frames\n"
         "  --allow-short         accept a video that ends before the length it announces\n"
         "                        (truncated or damaged); without it that is an error\n"
         "  --quiet               no progress bar (it is shown only on a terminal anyway)\n"
         "  --threads N           threads of the model update, 0 = every CPU this process\n"
         "                        may use [0]; the masks are the same for every count\n"
         "  --skip-complete       leave OUTDIR as it is, and exit 0, when it already holds\n"
         "                        this run in full: the same input, method, options and\n"
         "                        every file (for batches that are run again)\n"
         "  Model options (corvane; defaults in brackets):\n"
      << ModelOptionsHelp()
      << "\n"
         "corvane parameters [model options]\n"
         "  Checks the model options as segment does and prints one line per model\n"
         "  parameter: its Python name, its option and the value the options give it\n"
         "  (the default where none is given).\n"
         "\n"
         "corvane evaluate MASKS... GROUNDTRUTH [options]\n"
         "  Scores one or more mask folders (files 000001.png, ..., or a printf-style\n"
         "  pattern such as results/bin%06d.png numbered from 1; foreground where the\n"
         "  value is 128 or more) against label images: 255 moving (foreground), 0 static\n"
         "  and 50 shadow (background), 85 and 170 not scored; counts are summed over\n"
         "  all scored frames. GROUNDTRUTH is a folder of label images in name order, a\n"
         "  printf-style pattern, or a change-detection sequence folder (with\n"
         "  groundtruth/, ROI.bmp and temporalROI.txt, which then set --roi and --frames).\n"
         "  Prints recall, specificity, FPR, FNR, PWC, precision and F-measure.\n"
         "  --labels A,B,...      names of the mask folders [their folder names]\n"
         "  --roi FILE            image whose zero pixels are not scored\n"
         "  --frames FIRST LAST   score frames FIRST..LAST (1-based, inclusive) [all]\n"
         "  --csv FILE            also write the scores as CSV (- for standard output)\n"
         "  --chart FILE.png      also write a bar chart of the F-measures\n"
         "\n"
         "Exit status: 0 success, 1 failure (message on standard error), 2 bad usage,\n"
         "130 interrupted (Ctrl-C; the unfinished output is removed).\n";
    return s.str();
}

namespace {

// ---------------------------------------------------------------- arguments

bool ParseInt(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || v < low || v > high) return false;
    *value = v;
    return true;
}

// Walks the arguments; options may come before, between or after positionals.
class Arguments {
public:
    Arguments(const std::vector<std::string>& args, std::ostream& err) : args_(args), err_(err) {}

    bool Done() const { return next_ >= args_.size(); }
    bool IsOption() const { return args_[next_].size() > 2 && args_[next_].compare(0, 2, "--") == 0; }
    std::string Take() { return args_[next_++]; }

    bool Value(const std::string& option, std::string* value) {
        if (Done()) return Fail("option " + option + " needs a value");
        *value = Take();
        return true;
    }
    bool Int(const std::string& option, long long low, long long high, long long* value) {
        std::string text;
        if (!Value(option, &text)) return false;
        if (!ParseInt(text, low, high, value))
            return Fail("option " + option + " needs a whole number from " + std::to_string(low) +
                        " to " + std::to_string(high) + ", not \"" + text + "\"");
        return true;
    }
    bool Fail(const std::string& message) {
        err_ << "corvane: " << message << "\n";
        return false;
    }

private:
    const std::vector<std::string>& args_;
    std::ostream& err_;
    std::size_t next_ = 0;
};

// ---------------------------------------------------------------- progress

class Progress {
public:
    Progress(std::ostream& err, bool enabled, std::int64_t total)
        : err_(err), enabled_(enabled), total_(total), start_(Clock::now()), last_(start_) {}

    void Update(std::int64_t done, bool final = false) {
        if (!enabled_) return;
        const auto now = Clock::now();
        if (!final && now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double fps = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
        char line[160];
        if (total_ > 0) {
            const int width = 30;
            const std::int64_t shown = std::min(done, total_);
            const int filled = static_cast<int>(width * shown / total_);
            std::string bar(static_cast<std::size_t>(filled), '#');
            bar.append(static_cast<std::size_t>(width - filled), '.');
            std::snprintf(line, sizeof line, "\r[%s] %lld/%lld frames  %.1f fps ", bar.c_str(),
                          static_cast<long long>(done), static_cast<long long>(total_), fps);
        } else {
            std::snprintf(line, sizeof line, "\r%lld frames  %.1f fps ",
                          static_cast<long long>(done), fps);
        }
        err_ << line << (final ? "\n" : "") << std::flush;
    }

private:
    using Clock = std::chrono::steady_clock;
    std::ostream& err_;
    bool enabled_;
    std::int64_t total_;
    Clock::time_point start_, last_;
};

// ---------------------------------------------------------------- segment

std::string MaskName(std::int64_t frameNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "%06lld.png", static_cast<long long>(frameNumber));
    return name;
}

bool WriteImage(const std::string& path, const cv::Mat& image, std::string* error) {
    bool written = false;
    try {
        written = cv::imwrite(path, image);
    } catch (const cv::Exception&) {
        written = false;
    }
    if (!written) *error = "cannot write \"" + path + "\"";
    return written;
}

int Segment(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            bool terminal) {
    stopRequested = 0;
    Arguments a(args, err);
    std::vector<std::string> positional;
    ModelParameters p;
    Method method = Method::Corvane;
    bool probability = false, quiet = false, allowShort = false, skipComplete = false;
    long long sheetRows = 0, maxFrames = -1, threads = 0;
    bool modelOptionGiven = false;
    while (!a.Done()) {
        if (!a.IsOption()) {
            positional.push_back(a.Take());
            continue;
        }
        const std::string o = a.Take();
        bool ok = true;
        if (o == "--method") {
            std::string m;
            ok = a.Value(o, &m);
            if (ok && !ParseMethod(m, &method))
                ok = a.Fail("--method is corvane, mog2 or knn, not \"" + m + "\"");
        } else if (o == "--probability") {
            probability = true;
        } else if (o == "--quiet") {
            quiet = true;
        } else if (o == "--allow-short") {
            allowShort = true;
        } else if (o == "--skip-complete") {
            skipComplete = true;
        } else if (o == "--threads") {
            ok = a.Int(o, 0, 1024, &threads);
        } else if (o == "--sheet") {
            ok = a.Int(o, 1, 20, &sheetRows);
        } else if (o == "--max-frames") {
            ok = a.Int(o, 1, std::numeric_limits<std::int32_t>::max(), &maxFrames);
        } else if (IsModelOption(o)) {
            std::string value, error;
            ok = a.Value(o, &value) &&
                 (SetModelOption(o, value, &p, &error) || a.Fail(error));
            modelOptionGiven = true;
        } else {
            ok = a.Fail("unknown option " + o + " (see corvane --help)");
        }
        if (!ok) return 2;
    }
    if (positional.size() != 2) {
        err << "corvane: usage: corvane segment INPUT OUTDIR [options] (see corvane --help)\n";
        return 2;
    }
    if (method != Method::Corvane && (probability || modelOptionGiven)) {
        err << "corvane: --method " << MethodName(method)
            << " runs OpenCV's subtractor at its defaults; model options and --probability "
               "apply to corvane only\n";
        return 2;
    }
    {
        std::string problem;
        if (!CheckModelOptions(p, &problem)) {
            err << "corvane: " << problem << "\n";
            return 2;
        }
    }
    const std::string& input = positional[0];
    const std::string& outdir = positional[1];
    RunRequest run;
    run.input = input;
    run.method = method;
    run.parameters = p;
    run.maxFrames = maxFrames;
    run.probability = probability;
    run.sheet = sheetRows > 0;
    if (skipComplete) {
        std::int64_t done = 0;
        if (HoldsFinishedRun(outdir, run, &done)) {
            out << "corvane: " << outdir << " already holds this run (" << done
                << " masks); left as it is\n";
            return 0;
        }
    }

    std::string error;
    {
        // Replacing OUTDIR must never delete the frames being read.
        std::error_code ec;
        fs::path inputPath = fs::path(input);
        if (input.find('%') != std::string::npos) inputPath = inputPath.parent_path();
        const fs::path in = fs::weakly_canonical(fs::absolute(inputPath, ec), ec);
        const fs::path outPath = fs::weakly_canonical(fs::absolute(outdir, ec), ec);
        const auto mismatch = std::mismatch(outPath.begin(), outPath.end(), in.begin(), in.end());
        if (!ec && mismatch.first == outPath.end()) {
            err << "corvane: the output folder \"" << outdir << "\" holds the input \"" << input
                << "\"; choose another output folder\n";
            return 1;
        }
    }
    FrameSource source;
    if (!source.Open(input, &error)) {
        err << "corvane: " << error << "\n";
        return 1;
    }
    OutputFolder folder;
    if (!folder.Begin(outdir, &error)) {
        err << "corvane: " << error << "\n";
        return 1;
    }
    const fs::path work(folder.WorkingPath());
    if (probability) {
        std::error_code ec;
        fs::create_directory(work / "probability", ec);
        if (ec) {
            err << "corvane: cannot create " << (work / "probability").string() << ": "
                << ec.message() << "\n";
            return 1;
        }
    }

    std::int64_t total = source.FrameCount();
    if (maxFrames > 0 && (total < 0 || total > maxFrames)) total = maxFrames;
    // Frames shown on the contact sheet: spread evenly, ending at the last.
    std::vector<std::int64_t> sheetFrames;
    for (long long k = 1; k <= sheetRows; ++k) {
        const std::int64_t f = total > 0 ? std::max<std::int64_t>(1, total * k / sheetRows) : 100 * k;
        if (sheetFrames.empty() || sheetFrames.back() != f) sheetFrames.push_back(f);
    }
    std::vector<SheetRow> sheet;

    Segmenter segmenter(method, p);
    segmenter.SetThreads(static_cast<int>(threads));
    // The leading frames the model starts from; they are segmented too.
    std::vector<cv::Mat> pending;
    cv::Mat bgr;
    while (static_cast<std::int32_t>(pending.size()) < segmenter.InitialFrameCount() &&
           (maxFrames < 0 || static_cast<long long>(pending.size()) < maxFrames) &&
           source.Read(bgr, &error))
        pending.push_back(bgr.clone());
    if (!error.empty()) {
        err << "corvane: " << error << "\n";
        return 1;
    }
    if (pending.empty()) {
        err << "corvane: \"" << input << "\" holds no frames\n";
        return 1;
    }
    const std::int32_t H = pending.front().rows, W = pending.front().cols;
    if (!segmenter.Start(pending, &error)) {
        err << "corvane: " << error << "\n";
        return 1;
    }

    Progress progress(err, terminal && !quiet, total);
    std::int64_t frameNumber = 0;
    std::size_t pendingNext = 0;
    std::vector<double> frame;
    cv::Mat mask, prob;
    for (;;) {
        if (stopRequested) {
            progress.Update(frameNumber, true);
            err << "corvane: interrupted after " << frameNumber << " frames; no output written\n";
            return 130;
        }
        if (maxFrames > 0 && frameNumber >= maxFrames) break;
        if (pendingNext < pending.size()) {
            bgr = pending[pendingNext];
            pending[pendingNext++].release();
        } else if (!source.Read(bgr, &error)) {
            if (!error.empty()) {
                progress.Update(frameNumber, true);
                err << "corvane: " << error << " (stopped after " << frameNumber
                    << " frames; no output written)\n";
                return 1;
            }
            break;
        }
        if (method == Method::Corvane) ToModelFrame(bgr, frame);
        ++frameNumber;
        if (!segmenter.Process(bgr, frame, mask, probability || sheetRows > 0 ? &prob : nullptr,
                               &error)) {
            err << "corvane: frame " << frameNumber << ": " << error << "\n";
            return 1;
        }
        if (!WriteImage((work / MaskName(frameNumber)).string(), mask, &error) ||
            (probability && !WriteImage((work / "probability" / MaskName(frameNumber)).string(),
                                        prob, &error))) {
            err << "corvane: " << error << "\n";
            return 1;
        }
        if (std::find(sheetFrames.begin(), sheetFrames.end(), frameNumber) != sheetFrames.end())
            sheet.push_back(SheetRow{static_cast<long>(frameNumber), bgr.clone(), prob.clone(),
                                     mask.clone()});
        progress.Update(frameNumber);
    }
    progress.Update(frameNumber, true);
    // A video that ends before the length its container announces is truncated
    // or damaged: its masks would look like a complete run of a shorter video.
    if (source.FrameCount() > frameNumber && (maxFrames < 0 || frameNumber < maxFrames)) {
        if (!allowShort) {
            err << "corvane: the input announced " << source.FrameCount() << " frames but only "
                << frameNumber << " could be decoded (truncated or damaged?); no output "
                << "written (--allow-short keeps the frames that were decoded)\n";
            return 1;
        }
        err << "corvane: warning: the input announced " << source.FrameCount()
            << " frames but only " << frameNumber << " could be decoded\n";
    }
    // A video may hold fewer frames than it announced; show its last frame then.
    if (sheetRows > 0 && sheet.size() < sheetFrames.size() && !mask.empty() &&
        (sheet.empty() || sheet.back().frameNumber != frameNumber))
        sheet.push_back(SheetRow{static_cast<long>(frameNumber), bgr.clone(), prob.clone(),
                                 mask.clone()});
    if (sheetRows > 0) {
        const std::string title = std::string(MethodName(method)) + " on " +
                                  fs::path(input).filename().string() + " (" +
                                  std::to_string(W) + "x" + std::to_string(H) + ", " +
                                  std::to_string(frameNumber) + " frames)";
        if (!WriteImage((work / "contact-sheet.png").string(), ContactSheet(sheet, title), &error)) {
            err << "corvane: " << error << "\n";
            return 1;
        }
    }
    {
        std::ofstream record(work / kRunRecord);
        record << RunRecordText(run, frameNumber, W, H);
        if (!record.flush()) {
            err << "corvane: cannot write the run record in " << work.string() << "\n";
            return 1;
        }
    }
    if (!folder.Commit(&error)) {
        err << "corvane: " << error << "\n";
        return 1;
    }
    if (!folder.Notice().empty()) err << "corvane: warning: " << folder.Notice() << "\n";
    out << "corvane: " << frameNumber << " masks (" << W << "x" << H << ", "
        << MethodName(method) << ") in " << outdir << "\n";
    if (sheetRows > 0) out << "corvane: contact sheet " << (fs::path(outdir) / "contact-sheet.png").string() << "\n";
    return 0;
}

// ---------------------------------------------------------------- parameters

int Parameters(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Arguments a(args, err);
    ModelParameters p;
    while (!a.Done()) {
        const std::string o = a.Take();
        std::string value, error;
        const bool ok = IsModelOption(o)
                            ? a.Value(o, &value) && (SetModelOption(o, value, &p, &error) || a.Fail(error))
                            : a.Fail("not a model option: \"" + o + "\" (see corvane --help)");
        if (!ok) return 2;
    }
    std::string problem;
    if (!CheckModelOptions(p, &problem)) {
        err << "corvane: " << problem << "\n";
        return 2;
    }
    for (const ParameterInfo& info : ParameterTable())
        out << info.pythonName << " " << info.option << " "
            << FormatParameterValue(GetParameter(p, info)) << "\n";
    return 0;
}

// ---------------------------------------------------------------- evaluate

struct MethodScores {
    std::string label;
    ConfusionCounts counts;
    Scores scores;
};

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
    try {
        return cv::imread(path, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream s(text);
    while (std::getline(s, part, ',')) parts.push_back(part);
    return parts;
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

int Evaluate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Arguments a(args, err);
    std::vector<std::string> positional;
    std::string roiPath, csvPath, chartPath, labelText;
    long long first = -1, last = -1;
    while (!a.Done()) {
        if (!a.IsOption()) {
            positional.push_back(a.Take());
            continue;
        }
        const std::string o = a.Take();
        bool ok = true;
        if (o == "--roi") {
            ok = a.Value(o, &roiPath);
        } else if (o == "--csv") {
            ok = a.Value(o, &csvPath);
        } else if (o == "--chart") {
            ok = a.Value(o, &chartPath);
        } else if (o == "--labels") {
            ok = a.Value(o, &labelText);
        } else if (o == "--frames") {
            ok = a.Int(o, 1, std::numeric_limits<std::int32_t>::max(), &first) &&
                 a.Int(o, 1, std::numeric_limits<std::int32_t>::max(), &last);
            if (ok && last < first) ok = a.Fail("--frames needs FIRST <= LAST");
        } else {
            ok = a.Fail("unknown option " + o + " (see corvane --help)");
        }
        if (!ok) return 2;
    }
    if (positional.size() < 2) {
        err << "corvane: usage: corvane evaluate MASKS... GROUNDTRUTH [options] "
               "(see corvane --help)\n";
        return 2;
    }
    const std::string truthInput = positional.back();
    positional.pop_back();
    std::vector<std::string> labels;
    if (!labelText.empty()) {
        labels = SplitCommas(labelText);
        if (labels.size() != positional.size()) {
            err << "corvane: --labels names " << labels.size() << " methods but "
                << positional.size() << " mask folders are given\n";
            return 2;
        }
    } else {
        for (const auto& m : positional) {
            fs::path path = fs::path(m).lexically_normal();
            if (!path.has_filename()) path = path.parent_path();
            labels.push_back(path.filename().string());
        }
    }

    std::string error;
    std::error_code ec;
    // The ground truth: a sequence folder, a folder of labels or a pattern.
    std::string labelSource = truthInput;
    const fs::path truthPath(truthInput);
    if (fs::is_directory(truthPath / "groundtruth", ec)) {
        labelSource = (truthPath / "groundtruth").string();
        if (roiPath.empty() && fs::exists(truthPath / "ROI.bmp", ec))
            roiPath = (truthPath / "ROI.bmp").string();
        if (first < 0 && fs::exists(truthPath / "temporalROI.txt", ec) &&
            !ReadTemporalRoi(truthPath / "temporalROI.txt", &first, &last, &error)) {
            err << "corvane: " << error << "\n";
            return 1;
        }
    }
    std::vector<std::string> truthFiles;
    if (labelSource.find('%') != std::string::npos) {
        NumberPattern pattern;
        if (!pattern.Parse(labelSource, &error)) {
            err << "corvane: " << error << "\n";
            return 1;
        }
        truthFiles = ListPatternFiles(pattern);
    } else if (fs::is_directory(labelSource, ec)) {
        truthFiles = ListImages(labelSource);
    } else {
        err << "corvane: the ground truth \"" << truthInput
            << "\" is not a folder or a pattern of label images\n";
        return 1;
    }
    if (truthFiles.empty()) {
        err << "corvane: no label images in \"" << labelSource << "\"\n";
        return 1;
    }
    if (first < 0) {
        first = 1;
        last = static_cast<long long>(truthFiles.size());
    }
    if (last > static_cast<long long>(truthFiles.size())) {
        err << "corvane: frames " << first << " to " << last << " are to be scored but \""
            << labelSource << "\" holds labels for " << truthFiles.size() << " frames\n";
        return 1;
    }
    cv::Mat roi;
    if (!roiPath.empty()) {
        roi = ReadGrey(roiPath);
        if (roi.empty()) {
            err << "corvane: cannot read the region of interest \"" << roiPath << "\"\n";
            return 1;
        }
    }
    // Masks: a folder of 000001.png, ... or a pattern such as res/bin%06d.png.
    std::vector<NumberPattern> maskPatterns(positional.size());
    for (std::size_t i = 0; i < positional.size(); ++i) {
        const std::string& m = positional[i];
        if (m.find('%') != std::string::npos) {
            if (!maskPatterns[i].Parse(m, &error)) {
                err << "corvane: " << error << "\n";
                return 1;
            }
        } else if (fs::is_directory(m, ec)) {
            maskPatterns[i].prefix = (fs::path(m) / "").string();
            maskPatterns[i].width = 6;
            maskPatterns[i].zeroPad = true;
            maskPatterns[i].suffix = ".png";
        } else {
            err << "corvane: the mask folder \"" << m << "\" does not exist\n";
            return 1;
        }
    }

    std::vector<MethodScores> results(positional.size());
    for (std::size_t i = 0; i < positional.size(); ++i) results[i].label = labels[i];
    for (long long f = first; f <= last; ++f) {
        const std::string& truthFile = truthFiles[static_cast<std::size_t>(f - 1)];
        const cv::Mat truth = ReadGrey(truthFile);
        if (truth.empty()) {
            err << "corvane: cannot read the labels \"" << truthFile << "\"\n";
            return 1;
        }
        for (std::size_t i = 0; i < positional.size(); ++i) {
            const std::string maskFile = maskPatterns[i].Format(f);
            const cv::Mat mask = ReadGrey(maskFile);
            if (mask.empty()) {
                err << "corvane: no readable mask for frame " << f << " (\"" << maskFile
                    << "\")\n";
                return 1;
            }
            if (!CountFrame(mask, truth, roi, results[i].counts, &error)) {
                err << "corvane: frame " << f << ", " << maskFile << " against " << truthFile
                    << ": " << error << "\n";
                return 1;
            }
        }
    }
    for (auto& r : results) r.scores = ScoresOf(r.counts);

    std::size_t labelWidth = 6;
    for (const auto& r : results) labelWidth = std::max(labelWidth, r.label.size());
    out << "Frames " << first << " to " << last << " of " << truthInput << "\n";
    out << std::left << std::setw(static_cast<int>(labelWidth)) << "method" << std::right
        << "  recall  specif.     FPR     FNR     PWC  precis.  F-meas.\n";
    for (const auto& r : results) {
        const Scores& s = r.scores;
        out << std::left << std::setw(static_cast<int>(labelWidth)) << r.label << std::right;
        for (double v : {s.recall, s.specificity, s.fpr, s.fnr})
            out << std::setw(8) << Number(v, 4);
        out << std::setw(8) << Number(s.pwc, 3);
        for (double v : {s.precision, s.f}) out << std::setw(9) << Number(v, 4);
        out << "\n";
    }

    if (!csvPath.empty()) {
        std::ostringstream csv;
        csv << "method,frames,tp,fp,fn,tn,recall,specificity,fpr,fnr,pwc,precision,f_measure\n";
        csv << std::setprecision(6);
        for (const auto& r : results) {
            const Scores& s = r.scores;
            csv << CsvField(r.label) << "," << r.counts.frames << "," << r.counts.tp << "," << r.counts.fp
                << "," << r.counts.fn << "," << r.counts.tn;
            for (double v : {s.recall, s.specificity, s.fpr, s.fnr, s.pwc, s.precision, s.f})
                csv << "," << (std::isfinite(v) ? Number(v, 6) : std::string("nan"));
            csv << "\n";
        }
        if (csvPath == "-") {
            out << csv.str();
        } else {
            std::ofstream file(csvPath);
            if (!(file << csv.str()) || !file.flush()) {
                err << "corvane: cannot write \"" << csvPath << "\"\n";
                return 1;
            }
        }
    }
    if (!chartPath.empty()) {
        std::vector<Bar> bars;
        for (const auto& r : results) bars.push_back(Bar{r.label, r.scores.f});
        fs::path name = fs::path(truthInput).lexically_normal();
        if (!name.has_filename()) name = name.parent_path();
        const std::string title = "F-measure on " + name.filename().string() + ", frames " +
                                  std::to_string(first) + "-" + std::to_string(last);
        if (!WriteImage(chartPath, BarChart(bars, title), &error)) {
            err << "corvane: " << error << "\n";
            return 1;
        }
        out << "Bar chart: " << chartPath << "\n";
    }
    return 0;
}

}  // namespace

int RunCorvane(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool terminal) {
    if (args.empty()) {
        err << "corvane: usage: corvane segment|evaluate ... (see corvane --help)\n";
        return 2;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << HelpText();
        return 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const auto& arg : rest)
        if (arg == "--help" || arg == "-h") {
            out << HelpText();
            return 0;
        }
    try {
        if (command == "segment") return Segment(rest, out, err, terminal);
        if (command == "evaluate") return Evaluate(rest, out, err);
        if (command == "parameters") return Parameters(rest, out, err);
    } catch (const std::exception& e) {
        err << "corvane: " << e.what() << "\n";
        return 1;
    }
    err << "corvane: unknown command \"" << command << "\" (segment, evaluate or parameters; see corvane --help)\n";
    return 2;
}

}  // namespace corvane::tools
