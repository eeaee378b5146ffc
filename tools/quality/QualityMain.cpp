// corvane-quality: runs Corvane and OpenCV's subtractors (MOG2, KNN, GSOC, GMG,
// CNT; LSBP when asked for) side by side on real sequences with ground truth,
// cold-start clips cut from them and generated proxies (Sequences.h), and
// prints one table (sequence, method, precision, recall, F-measure, false
// positive rate, milliseconds of CPU per frame) with a grouped bar chart of
// the F-measures. --jobs N runs N sequences at a time.
//
//   corvane-quality --data DIR [--quick] [--only a,b*] [--peers mog2,knn,...]
//                   [--chart F.png] [--csv F.csv] [--sheets DIR]
//                   [--variant NAME:key=value,...] [--no-baselines] [--jobs N]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "FrameSource.h"
#include "ParameterTable.h"
#include "Pictures.h"
#include "QualityChart.h"
#include "Scoring.h"
#include "Segmenter.h"
#include "Sequences.h"

namespace fs = std::filesystem;
using namespace corvane;
using namespace corvane::tools;
using namespace corvane::tools::quality;

namespace {

struct Contender {
    std::string label;
    Method method = Method::Corvane;
    ModelParameters parameters;
};

// key=value settings of a Corvane variant: each key is a command option
// without its dashes (threshold=0.3, flicker-cap=4), checked by the parameter
// table as the command checks it.
bool SetVariantParameter(ModelParameters& p, const std::string& key, const std::string& text,
                         std::string* error) {
    const ParameterInfo* info = FindParameterByOption("--" + key);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (info == nullptr || text.empty() || end != text.c_str() + text.size()) {
        *error = "unknown option or not a number: " + key + "=" + text;
        return false;
    }
    const ParameterProblem problem = SetParameter(p, *info, v);
    if (!problem.ok()) *error = problem.message;
    return problem.ok();
}

bool ParseVariant(const std::string& text, Contender* contender, std::string* error) {
    const std::size_t colon = text.find(':');
    contender->label = text.substr(0, colon);
    contender->method = Method::Corvane;
    if (colon == std::string::npos) return true;
    std::stringstream settings(text.substr(colon + 1));
    std::string pair;
    while (std::getline(settings, pair, ',')) {
        const std::size_t eq = pair.find('=');
        if (eq == std::string::npos) {
            *error = "cannot use \"" + pair + "\" in --variant " + text;
            return false;
        }
        if (!SetVariantParameter(contender->parameters, pair.substr(0, eq), pair.substr(eq + 1),
                                 error))
            return false;
    }
    const ParameterProblem problem = ValidateParameters(contender->parameters);
    if (!problem.ok()) *error = problem.message;
    return problem.ok();
}

// CPU time of the calling thread: the machine may be shared, and other
// threads of this run work at the same time.
double ThreadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

struct Result {
    std::string sequence, kind, method;
    ConfusionCounts counts;
    double seconds = 0;
    std::int64_t frames = 0;
};

std::string Fixed(double v, int decimals) {
    if (!std::isfinite(v)) return "n/a";
    std::ostringstream s;
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
}

// Runs every contender on one sequence, all on the same frames in one pass.
bool RunSequence(const Sequence& sequence, const std::vector<Contender>& contenders,
                 const std::string& sheets, std::vector<Result>& results, std::string* error) {
    std::vector<Segmenter> segmenters;
    std::vector<Result> own(contenders.size());
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        segmenters.emplace_back(contenders[i].method, contenders[i].parameters);
        own[i].sequence = sequence.name;
        own[i].kind = sequence.kind;
        own[i].method = contenders[i].label;
    }
    cv::Mat bgr, labels;
    if (sequence.frames > 0) {
        if (!sequence.frame(1, bgr, labels, error)) return false;
        for (auto& s : segmenters)
            if (!s.Start(bgr.rows, bgr.cols, error)) return false;
    }
    std::vector<std::int64_t> sheetFrames;
    for (int k = 1; k <= 4; ++k)
        sheetFrames.push_back(sequence.firstScored +
                              (sequence.lastScored - sequence.firstScored) * k / 4);
    std::vector<std::vector<SheetRow>> sheetRows(contenders.size());
    std::vector<double> frame;
    cv::Mat mask, probability;
    const cv::Mat noRoi;
    for (std::int64_t t = 1; t <= sequence.frames; ++t) {
        if (t > 1 && !sequence.frame(t, bgr, labels, error)) return false;
        ToModelFrame(bgr, frame);
        const bool scored = t >= sequence.firstScored && t <= sequence.lastScored;
        const bool sheet = !sheets.empty() &&
                           std::find(sheetFrames.begin(), sheetFrames.end(), t) != sheetFrames.end();
        for (std::size_t i = 0; i < segmenters.size(); ++i) {
            const double start = ThreadSeconds();
            if (!segmenters[i].Process(bgr, frame, mask, sheet ? &probability : nullptr, error))
                return false;
            own[i].seconds += ThreadSeconds() - start;
            ++own[i].frames;
            if (scored && !CountFrame(mask, labels, noRoi, own[i].counts, error)) return false;
            if (sheet)
                sheetRows[i].push_back(SheetRow{static_cast<long>(t), bgr.clone(),
                                                probability.clone(), mask.clone()});
        }
    }
    if (!sheets.empty()) {
        std::error_code ignored;
        fs::create_directories(sheets, ignored);
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            const std::string title = contenders[i].label + " on " + sequence.name;
            const std::string path =
                (fs::path(sheets) / (sequence.name + "-" + contenders[i].label + ".png")).string();
            cv::imwrite(path, ContactSheet(sheetRows[i], title));
        }
    }
    results.insert(results.end(), own.begin(), own.end());
    return true;
}

void PrintHeader(std::ostream& out) {
    out << std::left << std::setw(18) << "sequence" << std::setw(14) << "method" << std::right
        << std::setw(10) << "precision" << std::setw(8) << "recall" << std::setw(8) << "F"
        << std::setw(9) << "FPR%" << std::setw(10) << "ms/frame" << "\n";
}

// F is n/a where nothing is foreground (a false-alarm sequence): there the
// false positive rate is the score.
void PrintRow(std::ostream& out, const Result& r) {
    const Scores s = ScoresOf(r.counts);
    const bool positives = r.counts.tp + r.counts.fn > 0;
    out << std::left << std::setw(18) << r.sequence << std::setw(14) << r.method << std::right
        << std::setw(10) << Fixed(s.precision, 3) << std::setw(8) << Fixed(s.recall, 3)
        << std::setw(8) << (positives ? Fixed(s.f, 3) : "n/a") << std::setw(9)
        << Fixed(100.0 * s.fpr, 3) << std::setw(10)
        << Fixed(1000.0 * r.seconds / static_cast<double>(r.frames), 3) << "\n"
        << std::flush;
}

// A name of --only: exact, or a prefix ending in '*'.
bool NameMatches(const std::string& pattern, const std::string& name) {
    if (!pattern.empty() && pattern.back() == '*')
        return name.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return pattern == name;
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream s(text);
    std::string part;
    while (std::getline(s, part, ',')) parts.push_back(part);
    return parts;
}

int Usage() {
    std::cerr << "usage: corvane-quality --data DIR [--quick] [--only NAME,PREFIX*,...]\n"
                 "                       [--peers mog2,knn,gsoc,gmg,cnt,lsbp] [--chart F.png]\n"
                 "                       [--csv F.csv] [--sheets DIR] [--variant NAME[:key=value,...]]...\n"
                 "                       [--no-baselines] [--jobs N]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    SequenceOptions options;
    std::string chartPath, csvPath, sheets, only;
    std::vector<Contender> contenders;
    bool baselines = true;
    std::string peers = "mog2,knn,gsoc,gmg,cnt";
    int jobs = 1;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--quick") {
            options.quick = true;
        } else if (a == "--no-baselines") {
            baselines = false;
        } else if (a == "--data" && hasValue) {
            options.data = args[++i];
        } else if (a == "--peers" && hasValue) {
            peers = args[++i];
        } else if (a == "--jobs" && hasValue) {
            jobs = std::max(1, std::atoi(args[++i].c_str()));
        } else if (a == "--chart" && hasValue) {
            chartPath = args[++i];
        } else if (a == "--csv" && hasValue) {
            csvPath = args[++i];
        } else if (a == "--sheets" && hasValue) {
            sheets = args[++i];
        } else if (a == "--only" && hasValue) {
            only = args[++i];
        } else if (a == "--variant" && hasValue) {
            Contender c;
            std::string error;
            if (!ParseVariant(args[++i], &c, &error)) {
                std::cerr << "corvane-quality: " << error << "\n";
                return 2;
            }
            contenders.push_back(c);
        } else {
            return Usage();
        }
    }
    if (contenders.empty()) contenders.push_back(Contender{"corvane", Method::Corvane, {}});
    if (baselines) {
        for (const std::string& name : SplitCommas(peers)) {
            Method method;
            if (!ParseMethod(name, &method) || method == Method::Corvane) {
                std::cerr << "corvane-quality: --peers names OpenCV's methods (mog2, knn, gsoc, "
                             "gmg, cnt, lsbp), not \"" << name << "\"\n";
                return 2;
            }
            contenders.push_back(Contender{name, method, {}});
        }
    }
    std::string skipped;
    std::vector<Sequence> sequences = AllSequences(options, &skipped);
    if (!skipped.empty()) std::cerr << "corvane-quality: " << skipped << "\n";
    if (!only.empty()) {
        const std::vector<std::string> wanted = SplitCommas(only);
        std::vector<Sequence> kept;
        for (const auto& s : sequences)
            for (const auto& w : wanted)
                if (NameMatches(w, s.name) || w == s.kind) {
                    kept.push_back(s);
                    break;
                }
        sequences = kept;
    }
    if (sequences.empty()) {
        std::cerr << "corvane-quality: no sequence to run\n";
        return 1;
    }

    // Sequences run on `jobs` threads, each sequence with all its methods on
    // one thread (so their times stay side by side); each is printed as it
    // finishes, and the whole table in order at the end.
    std::vector<std::vector<Result>> perSequence(sequences.size());
    std::vector<std::string> errors(sequences.size());
    std::atomic<std::size_t> next{0};
    std::mutex printing;
    auto work = [&]() {
        for (std::size_t i = next++; i < sequences.size(); i = next++) {
            if (!RunSequence(sequences[i], contenders, sheets, perSequence[i], &errors[i])) continue;
            const std::lock_guard<std::mutex> lock(printing);
            for (const auto& r : perSequence[i]) PrintRow(std::cerr, r);
        }
    };
    std::vector<std::thread> workers;
    for (int j = 1; j < jobs; ++j) workers.emplace_back(work);
    work();
    for (auto& w : workers) w.join();
    std::vector<Result> results;
    for (std::size_t i = 0; i < sequences.size(); ++i) {
        if (!errors[i].empty()) {
            std::cerr << "corvane-quality: " << sequences[i].name << ": " << errors[i] << "\n";
            return 1;
        }
        results.insert(results.end(), perSequence[i].begin(), perSequence[i].end());
    }
    PrintHeader(std::cout);
    for (const auto& r : results) PrintRow(std::cout, r);
    if (!csvPath.empty()) {
        std::ofstream csv(csvPath);
        csv << "sequence,kind,method,frames,tp,fp,fn,tn,precision,recall,f_measure,fpr,ms_per_frame\n";
        for (const auto& r : results) {
            const Scores s = ScoresOf(r.counts);
            csv << r.sequence << "," << r.kind << "," << r.method << "," << r.counts.frames << ","
                << r.counts.tp << "," << r.counts.fp << "," << r.counts.fn << "," << r.counts.tn
                << "," << Fixed(s.precision, 6) << "," << Fixed(s.recall, 6) << ","
                << Fixed(s.f, 6) << "," << Fixed(s.fpr, 8) << ","
                << Fixed(1000.0 * r.seconds / static_cast<double>(r.frames), 4) << "\n";
        }
        if (!csv.flush()) {
            std::cerr << "corvane-quality: cannot write \"" << csvPath << "\"\n";
            return 1;
        }
    }
    if (!chartPath.empty()) {
        std::vector<std::string> groups, series;
        for (const auto& s : sequences) groups.push_back(s.name);
        for (const auto& c : contenders) series.push_back(c.label);
        std::vector<std::vector<double>> values(groups.size(), std::vector<double>(series.size()));
        for (std::size_t g = 0; g < groups.size(); ++g)
            for (std::size_t k = 0; k < series.size(); ++k)
                values[g][k] = ScoresOf(results[g * series.size() + k].counts).f;
        if (!cv::imwrite(chartPath, GroupedBarChart(groups, series, values,
                                                    "F-measure per sequence, one run"))) {
            std::cerr << "corvane-quality: cannot write \"" << chartPath << "\"\n";
            return 1;
        }
        std::cout << "chart: " << chartPath << "\n";
    }
    return 0;
}
