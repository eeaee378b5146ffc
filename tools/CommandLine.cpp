#include "CommandLine.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "ModelOptions.h"
#include "RunFiles.h"
#include "UpdateModel.h"

namespace corvane::tools {

std::string HelpText() {
    std::ostringstream s;
    s << "corvane - background subtraction with a per-pixel self-organising map\n"
         "(corvane --version prints the version)\n"
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
         "  --method M            corvane (default), or one of OpenCV's subtractors at\n"
         "                        their defaults: mog2, knn, gsoc, gmg, cnt or lsbp;\n"
         "                        shadows (127) counted as background\n"
         "  --probability         also write the foreground probability as 8-bit images,\n"
         "                        OUTDIR/probability/000001.png, ... (corvane only)\n"
         "  --sheet N             also write OUTDIR/contact-sheet.png: N frames spread\n"
         "                        over the video, input | probability | mask\n"
         "  --max-frames N        stop after N frames\n"
         "  --allow-short         accept a video that ends before the length it announces\n"
         "                        (truncated, damaged, or a container whose count is an\n"
         "                        estimate): exit 0 instead of 3. The masks of every\n"
         "                        decoded frame are kept either way\n"
         "  --quiet               no progress bar (it is shown only on a terminal anyway)\n"
         "  --threads N           threads of the model update, 0 = every CPU this process\n"
         "                        may use [0]; the masks are the same for every count\n"
         "  --save-model FILE     also write the model after the last frame to FILE, a\n"
         "                        MATLAB MAT-file (variable model: the struct Corvane\n"
         "                        and CorvaneDetector take, with what the detector keeps\n"
         "                        between frames and its parameters); written whole or\n"
         "                        not at all\n"
         "  --resume FILE         go on from the model in FILE (saved by --save-model,\n"
         "                        Python's save or MATLAB) with its parameters; model\n"
         "                        options given too change those. The masks of a video\n"
         "                        cut in two and resumed are those of one run, bit for\n"
         "                        bit, once the first part is past --init-frames\n"
         "  --learn-mask PATTERN  a printf-style pattern of one image per frame, numbered\n"
         "                        from 1 as the masks: where a pixel is not 0 the model\n"
         "                        does not learn that frame's colour (its neurons,\n"
         "                        variances and prior stay, and it is never absorbed into\n"
         "                        the background); its mask is computed as usual\n"
         "  --skip-complete       leave OUTDIR as it is when it already holds this run in\n"
         "                        full: the same input (path, size and modification\n"
         "                        time), method, frame limit and model options, every\n"
         "                        file of its recorded size and the last mask decoding\n"
         "                        (for batches that are run again); the exit status is\n"
         "                        the earlier run's, 0 or 3\n"
         "  Model options (corvane; defaults in brackets):\n"
      << ModelOptionsHelp()
      << "\n"
         "corvane parameters [model options]\n"
         "  Checks the model options as segment does and prints one line per model\n"
         "  parameter: its Python name, its option and the value the options give it\n"
         "  (the default where none is given).\n"
         "\n"         "corvane evaluate MASKS... GROUNDTRUTH [options]\n"
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
         "3 segment: the input ended before the length it announced; the masks of\n"
         "every decoded frame are in OUTDIR and the run record says how many of how\n"
         "many (0 with --allow-short), 130 interrupted by Ctrl-C, 143 stopped by\n"
         "SIGTERM. Either stops the command after the current frame and removes the\n"
         "unfinished output; a second one stops it at once (a segment run then leaves\n"
         "OUTDIR.incomplete-PID, which the next run into OUTDIR removes), except a\n"
         "SIGTERM from the command's parent, which never hurries it.\n";
    return s.str();
}

namespace {

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
    // Walks every argument: positionals into `positional`, each option to
    // `onOption(option)`, which reads its value and returns false on a problem.
    template <class OnOption>
    bool Walk(std::vector<std::string>* positional, OnOption onOption) {
        while (!Done()) {
            if (!IsOption())
                positional->push_back(Take());
            else if (!onOption(Take()))
                return false;
        }
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

}  // namespace

bool ParseSegmentCommand(const std::vector<std::string>& args, SegmentCommand* command,
                         std::ostream& err) {
    Arguments a(args, err);
    std::vector<std::string> positional;
    SegmentOptions& o = command->options;
    bool modelOptionGiven = false;
    const bool parsed = a.Walk(&positional, [&](const std::string& option) {
        bool ok = true;
        long long number = 0;
        if (option == "--method") {
            std::string m;
            ok = a.Value(option, &m);
            if (ok && !ParseMethod(m, &o.method))
                ok = a.Fail("--method is corvane, mog2, knn, gsoc, gmg, cnt or lsbp, not \"" + m +
                            "\"");
        } else if (option == "--probability") {
            o.probability = true;
        } else if (option == "--quiet") {
            command->quiet = true;
        } else if (option == "--allow-short") {
            o.allowShort = true;
        } else if (option == "--skip-complete") {
            command->skipComplete = true;
        } else if (option == "--threads") {
            ok = a.Int(option, 0, kMaxThreads, &number);
            o.threads = static_cast<int>(number);
        } else if (option == "--sheet") {
            ok = a.Int(option, 1, kMaxSheetRows, &number);
            o.sheetRows = static_cast<int>(number);
        } else if (option == "--max-frames") {
            ok = a.Int(option, 1, std::numeric_limits<std::int32_t>::max(), &number);
            o.maxFrames = number;
        } else if (option == "--resume") {
            ok = a.Value(option, &o.resume);
        } else if (option == "--save-model") {
            ok = a.Value(option, &o.saveModel);
        } else if (option == "--learn-mask") {
            ok = a.Value(option, &o.learnMask);
        } else if (IsModelOption(option)) {
            std::string value, error;
            ok = a.Value(option, &value) &&
                 (SetModelOption(option, value, &o.parameters, &error) || a.Fail(error));
            if (ok) o.modelOptions.emplace_back(option, value);
            modelOptionGiven = true;
        } else {
            ok = a.Fail("unknown option " + option + " (see corvane --help)");
        }
        return ok;
    });
    if (!parsed) return false;
    if (positional.size() != 2)
        return a.Fail("usage: corvane segment INPUT OUTDIR [options] (see corvane --help)");
    o.input = positional[0];
    o.outdir = positional[1];
    if (o.method != Method::Corvane &&
        !(o.resume.empty() && o.saveModel.empty() && o.learnMask.empty()))
        return a.Fail("--method " + std::string(MethodName(o.method)) +
                      " runs OpenCV's subtractor; --resume, --save-model and --learn-mask "
                      "apply to corvane only");
    if (o.method != Method::Corvane && (o.probability || modelOptionGiven))
        return a.Fail("--method " + std::string(MethodName(o.method)) +
                      " runs OpenCV's subtractor at its defaults; model options and "
                      "--probability apply to corvane only");
    std::string problem;
    return CheckModelOptions(o.parameters, &problem) || a.Fail(problem);
}

bool ParseModelOptions(const std::vector<std::string>& args, ModelParameters* parameters,
                       std::ostream& err) {
    Arguments a(args, err);
    std::vector<std::string> positional;
    const bool parsed = a.Walk(&positional, [&](const std::string& option) {
        std::string value, error;
        if (!IsModelOption(option))
            return a.Fail("not a model option: " + option + " (see corvane --help)");
        return a.Value(option, &value) &&
               (SetModelOption(option, value, parameters, &error) || a.Fail(error));
    });
    if (!parsed) return false;
    if (!positional.empty()) return a.Fail("not a model option: \"" + positional[0] + "\"");
    std::string problem;
    return CheckModelOptions(*parameters, &problem) || a.Fail(problem);
}

bool ParseEvaluateCommand(const std::vector<std::string>& args, EvaluateCommand* command,
                          std::ostream& err) {
    Arguments a(args, err);
    EvaluateOptions& o = command->options;
    std::vector<std::string> positional;
    std::string labels;
    const bool parsed = a.Walk(&positional, [&](const std::string& option) {
        bool ok = true;
        if (option == "--roi") {
            ok = a.Value(option, &o.roi);
        } else if (option == "--csv") {
            ok = a.Value(option, &command->csv);
        } else if (option == "--chart") {
            ok = a.Value(option, &command->chart);
        } else if (option == "--labels") {
            ok = a.Value(option, &labels);
        } else if (option == "--frames") {
            ok = a.Int(option, 1, std::numeric_limits<std::int32_t>::max(), &o.first) &&
                 a.Int(option, 1, std::numeric_limits<std::int32_t>::max(), &o.last);
            if (ok && o.last < o.first) ok = a.Fail("--frames needs FIRST <= LAST");
        } else {
            ok = a.Fail("unknown option " + option + " (see corvane --help)");
        }
        return ok;
    });
    if (!parsed) return false;
    if (positional.size() < 2)
        return a.Fail("usage: corvane evaluate MASKS... GROUNDTRUTH [options] (see corvane --help)");
    o.truth = positional.back();
    positional.pop_back();
    o.masks = positional;
    if (!labels.empty()) {
        std::string part;
        std::istringstream s(labels);
        while (std::getline(s, part, ',')) o.labels.push_back(part);
        if (o.labels.size() != o.masks.size())
            return a.Fail("--labels names " + std::to_string(o.labels.size()) + " methods but " +
                          std::to_string(o.masks.size()) + " mask folders are given");
    }
    return true;
}

}  // namespace corvane::tools
