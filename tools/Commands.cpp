#include "Commands.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <filesystem>
#include <iomanip>

#include "CommandLine.h"
#include "FileWrites.h"
#include "OutputFolder.h"
#include "ParameterTable.h"
#include "RunRecord.h"
#include "Evaluate.h"
#include "SegmentRun.h"
#include "StopFlag.h"

namespace fs = std::filesystem;

namespace corvane::tools {

namespace {

StopFlag stopFlag;

// The progress bar on standard error: frames done, of how many, and the speed.
class Progress {
public:
    Progress(std::ostream& err, bool enabled)
        : err_(err), enabled_(enabled), start_(Clock::now()), last_(start_) {}

    // `total`: the frames expected, -1 when unknown (or to keep the last).
    void Update(std::int64_t done, std::int64_t total, bool final = false) {
        if (!enabled_) return;
        if (total > 0) total_ = total;
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
    std::int64_t total_ = -1;
    Clock::time_point start_, last_;
};

void PrintWarnings(const std::vector<std::string>& warnings, std::ostream& err) {
    for (const auto& w : warnings) err << "corvane: warning: " << w << "\n";
}

int Segment(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            bool terminal) {
    SegmentCommand command;
    if (!ParseSegmentCommand(args, &command, err)) return 2;
    const SegmentOptions& o = command.options;
    RunOutcome finished;
    if (command.skipComplete && HoldsFinishedRun(o, &finished)) {
        // What killed runs left beside OUTDIR goes, as a segmenting run would
        // clear it.
        ClearAbandonedFolders(fs::path(o.outdir).lexically_normal(), ThisProcess(),
                              SystemFolderMoves());
        out << "corvane: " << o.outdir << " already holds this run (" << finished.frames
            << " masks); left as it is\n";
        if (!EndedShort(o, finished)) return 0;
        err << "corvane: warning: the input announced " << finished.announced
            << " frames but only " << finished.frames << " could be decoded"
            << (o.allowShort ? "\n" : " (exit status 3; --allow-short makes it 0)\n");
        return o.allowShort ? 0 : kExitShortInput;
    }
    Progress progress(err, terminal && !command.quiet);
    const SegmentResult result = RunSegment(o, stopFlag, [&](std::int64_t done, std::int64_t total) {
        progress.Update(done, total);
    });
    if (result.frames > 0) progress.Update(result.frames, -1, true);
    switch (result.status) {
        case RunStatus::Interrupted:
            err << "corvane: interrupted after " << result.frames << " frames; no output written\n";
            return stopFlag.ExitStatus();
        case RunStatus::Failed:
            err << "corvane: " << result.message << "\n";
            return 1;
        case RunStatus::Done:
            break;
    }
    PrintWarnings(result.warnings, err);
    out << "corvane: " << result.frames << " masks (" << result.width << "x" << result.height
        << ", " << MethodName(o.method) << ") in " << o.outdir << "\n";
    if (!result.sheet.empty()) out << "corvane: contact sheet " << result.sheet << "\n";
    out << "corvane: " << result.frames << " frames in " << std::fixed << std::setprecision(2)
        << result.seconds << " s ("
        << std::setprecision(1)
        << (result.seconds > 0 ? static_cast<double>(result.frames) / result.seconds : 0.0)
        << " frames/s)\n"
        << std::defaultfloat;
    return result.endedShort && !o.allowShort ? kExitShortInput : 0;
}

// The model parameters the options give, one line each: Python name, option,
// value (what a batch reads to turn Python keywords into options).
int Parameters(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ModelParameters parameters;
    if (!ParseModelOptions(args, &parameters, err)) return 2;
    for (const ParameterInfo& info : ParameterTable())
        out << info.pythonName << " " << info.option << " "
            << FormatParameterValue(GetParameter(parameters, info)) << "\n";
    return 0;
}

int Evaluate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    EvaluateCommand command;
    if (!ParseEvaluateCommand(args, &command, err)) return 2;
    const EvaluateResult result = RunEvaluate(command.options, stopFlag);
    if (result.status == RunStatus::Interrupted) {
        err << "corvane: interrupted; no scores written\n";
        return stopFlag.ExitStatus();
    }
    if (result.status == RunStatus::Failed) {
        err << "corvane: " << result.message << "\n";
        return 1;
    }
    const std::string& truth = command.options.truth;
    out << ScoreTable(result, truth);
    if (command.csv == "-") {
        out << ScoreCsv(result);
    } else if (!command.csv.empty()) {
        // Written aside and renamed: a full disk leaves the earlier file, or
        // none, never a part of the scores.
        std::string error;
        if (!ReplaceFileChecked(command.csv, ScoreCsv(result), &error)) {
            err << "corvane: " << error << "\n";
            return 1;
        }
    }
    if (!command.chart.empty()) {
        std::string error;
        if (!WriteScoreChart(result, truth, command.chart, &error)) {
            err << "corvane: " << error << "\n";
            return 1;
        }
        out << "Bar chart: " << command.chart << "\n";
    }
    return 0;
}

}  // namespace

bool RequestStop(int signal) {
    const bool again = stopFlag.Requested();
    stopFlag.Request(signal);
    return again;
}

int RunCorvane(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool terminal) {
    if (args.empty()) {
        err << "corvane: usage: corvane segment|evaluate|parameters ... (see corvane --help)\n";
        return 2;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << HelpText();
        return 0;
    }
    if (command == "--version" || command == "-V") {
        out << "corvane " << CORVANE_VERSION << "\n";
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
