#include "RunRecord.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include <opencv2/imgcodecs.hpp>
#include <sys/stat.h>

#include "FrameSource.h"
#include "ParameterTable.h"
#include "RunFiles.h"

namespace fs = std::filesystem;

namespace corvane::tools {

namespace {

constexpr const char* kResultLine = "result";
constexpr const char* kCheckPrefix = "check ";

// FNV-1a, 64 bits: enough to tell a damaged or edited record.
std::string Checksum(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, hash);
    return hex;
}

std::string RequestText(const SegmentOptions& run, const std::string& inputIdentity) {
    std::ostringstream text;
    text << "corvane segment\n"
         << "input " << run.input << "\n"
         << "input-files " << inputIdentity << "\n"
         << "method " << MethodName(run.method) << "\n"
         << "max-frames " << (run.maxFrames > 0 ? std::to_string(run.maxFrames) : "all") << "\n";
    if (run.method == Method::Corvane) text << DescribeParameters(run.parameters);
    // Only when given, so that the records of plain runs read as before. A
    // resumed run's masks depend on the model it went on from, which is
    // identified as the input is.
    if (!run.resume.empty())
        text << "resume " << run.resume << " " << InputIdentity({run.resume}) << "\n";
    if (!run.learnMask.empty()) text << "learn-mask " << run.learnMask << "\n";
    if (!run.saveModel.empty()) text << "save-model " << run.saveModel << "\n";
    return text.str();
}

bool ReadFile(const fs::path& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    *text = s.str();
    return static_cast<bool>(in) || in.eof();
}

// The second half read back; false for anything malformed.
bool ParseOutcome(const std::string& text, RunOutcome* outcome) {
    std::istringstream lines(text);
    std::string line;
    bool haveFrames = false, haveSize = false, haveAnnounced = false;
    while (std::getline(lines, line)) {
        long long a = 0, b = 0;
        char tail = 0;
        char name[256];
        unsigned long long bytes = 0;
        if (std::sscanf(line.c_str(), "frames %lld%c", &a, &tail) == 1 && a > 0) {
            outcome->frames = a;
            haveFrames = true;
        } else if (std::sscanf(line.c_str(), "size %lldx%lld%c", &a, &b, &tail) == 2 && a > 0 &&
                   b > 0 && a <= INT32_MAX && b <= INT32_MAX) {
            outcome->width = static_cast<std::int32_t>(a);
            outcome->height = static_cast<std::int32_t>(b);
            haveSize = true;
        } else if (line == "announced unknown") {
            outcome->announced = -1;
            haveAnnounced = true;
        } else if (std::sscanf(line.c_str(), "announced %lld%c", &a, &tail) == 1 && a > 0) {
            outcome->announced = a;
            haveAnnounced = true;
        } else if (std::sscanf(line.c_str(), "file %255s %llu%c", name, &bytes, &tail) == 2) {
            outcome->files.emplace_back(name, bytes);
        }
    }
    return haveFrames && haveSize && haveAnnounced;
}

bool No(std::string* why, const std::string& reason) {
    if (why != nullptr) *why = reason;
    return false;
}

}  // namespace

std::string InputIdentity(const std::vector<std::string>& files) {
    std::uintmax_t bytes = 0;
    long long latest = 0;
    for (const std::string& file : files) {
        struct stat info;
        if (stat(file.c_str(), &info) != 0) return "";
        bytes += static_cast<std::uintmax_t>(info.st_size);
        const long long modified =
            static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
        if (modified > latest) latest = modified;
    }
    return std::to_string(files.size()) + " bytes " + std::to_string(bytes) + " modified " +
           std::to_string(latest);
}

bool EndedShort(const SegmentOptions& run, const RunOutcome& outcome) {
    return outcome.announced > outcome.frames && (run.maxFrames < 0 || outcome.frames < run.maxFrames);
}

std::string RunRecordText(const SegmentOptions& run, const std::string& inputIdentity,
                          const RunOutcome& outcome) {
    std::ostringstream text;
    text << RequestText(run, inputIdentity) << kResultLine << "\n"
         << "frames " << outcome.frames << "\n"
         << "announced "
         << (outcome.announced > 0 ? std::to_string(outcome.announced) : "unknown") << "\n"
         << "size " << outcome.width << "x" << outcome.height << "\n"
         << "allow-short " << (run.allowShort ? "yes" : "no") << "\n";
    for (const auto& [name, bytes] : outcome.files) text << "file " << name << " " << bytes << "\n";
    const std::string body = text.str();
    return body + kCheckPrefix + Checksum(body) + "\n";
}

bool HoldsFinishedRun(const SegmentOptions& run, RunOutcome* outcome, std::string* why) {
    const fs::path outdir(run.outdir);
    const FolderSurvey survey = SurveyFolder(outdir);
    if (!survey.isFolder || !survey.hasRunRecord || survey.hasMarker ||
        !HoldsOnlyRunOutput(survey))
        return No(why, "it holds no finished run");
    std::string text;
    if (!ReadFile(outdir / kRunRecord, &text)) return No(why, "its run record cannot be read");
    // The checksum line last, over everything before it.
    const std::size_t check = text.rfind(kCheckPrefix);
    if (check == std::string::npos || (check > 0 && text[check - 1] != '\n') ||
        text.compare(check, std::string::npos,
                     kCheckPrefix + Checksum(text.substr(0, check)) + "\n") != 0)
        return No(why, "its run record is damaged or was changed");
    const std::string body = text.substr(0, check);
    const std::size_t result = body.find(std::string("\n") + kResultLine + "\n");
    if (result == std::string::npos) return No(why, "its run record is damaged or was changed");
    // What was asked, compared whole against these options and the input as
    // it is now: whatever a later version adds takes part by itself.
    FrameSource source;
    std::string error;
    if (!source.Open(run.input, &error)) return No(why, error);
    const std::string identity = InputIdentity(source.Files());
    if (identity.empty() || body.substr(0, result + 1) != RequestText(run, identity))
        return No(why, "it holds another run (other options, or the input changed since)");
    RunOutcome found;
    if (!ParseOutcome(body.substr(result + 1), &found))
        return No(why, "its run record is damaged or was changed");
    // Exactly the files this run writes, each of its recorded size.
    std::map<std::string, std::uintmax_t> listed(found.files.begin(), found.files.end());
    std::vector<std::string> expected;
    for (std::int64_t f = 1; f <= found.frames; ++f) {
        expected.push_back(FrameImageName(f));
        if (run.probability) expected.push_back(std::string(kProbabilityFolder) + "/" + FrameImageName(f));
    }
    if (run.sheetRows > 0) expected.push_back(kContactSheet);
    if (listed.size() != expected.size() || found.files.size() != expected.size())
        return No(why, "its run record lists other files than this run writes");
    std::int64_t present = 0;
    for (const std::string& name : expected) {
        const auto it = listed.find(name);
        if (it == listed.end()) return No(why, "its run record does not list " + name);
        std::error_code ec;
        const fs::path path = outdir / name;
        if (!fs::is_regular_file(fs::symlink_status(path, ec)) || fs::file_size(path, ec) != it->second ||
            ec)
            return No(why, name + " is missing or not of its recorded size");
        ++present;
    }
    // Nothing else of a run: a frame image beyond the last, a probability
    // folder this run does not write.
    const std::int64_t entries = present - (run.probability ? found.frames : 0) + 1 /* record */ +
                                 (run.probability ? 1 : 0);
    if (survey.entries != entries) return No(why, "it holds files of another run");
    if (run.probability) {
        std::int64_t images = 0;
        std::error_code ec;
        for (fs::directory_iterator it(outdir / kProbabilityFolder, ec), end; !ec && it != end;
             it.increment(ec))
            ++images;
        if (ec || images != found.frames) return No(why, "it holds files of another run");
    }
    // The last mask decodes, to the recorded size.
    cv::Mat last;
    try {
        last = cv::imread((outdir / FrameImageName(found.frames)).string(), cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception&) {
        last.release();
    }
    if (last.empty() || last.cols != found.width || last.rows != found.height)
        return No(why, FrameImageName(found.frames) + " does not decode to a " +
                           std::to_string(found.width) + "x" + std::to_string(found.height) +
                           " mask");
    *outcome = found;
    return true;
}

}  // namespace corvane::tools
