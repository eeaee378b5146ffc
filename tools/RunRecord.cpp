#include "RunRecord.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "ParameterTable.h"
#include "RunFiles.h"

namespace fs = std::filesystem;

namespace corvane::tools {

std::string RunRecordText(const SegmentOptions& run, std::int64_t frames, std::int32_t width,
                          std::int32_t height) {
    std::ostringstream record;
    record << "corvane segment\n"
           << "input " << run.input << "\n"
           << "method " << MethodName(run.method) << "\n"
           << "frames " << frames << "\n"
           << "size " << width << "x" << height << "\n";
    if (run.method == Method::Corvane) record << DescribeParameters(run.parameters);
    return record.str();
}

namespace {

// "frames N" and "size WxH" read back; false for anything else.
bool ReadCounts(const std::string& record, std::int64_t* frames, std::int32_t* width,
                std::int32_t* height) {
    std::istringstream lines(record);
    std::string line;
    bool haveFrames = false, haveSize = false;
    while (std::getline(lines, line)) {
        long long a = 0, b = 0;
        char tail = 0;
        if (std::sscanf(line.c_str(), "frames %lld%c", &a, &tail) == 1 && a > 0) {
            *frames = a;
            haveFrames = true;
        } else if (std::sscanf(line.c_str(), "size %lldx%lld%c", &a, &b, &tail) == 2 && a > 0 &&
                   b > 0 && a <= INT32_MAX && b <= INT32_MAX) {
            *width = static_cast<std::int32_t>(a);
            *height = static_cast<std::int32_t>(b);
            haveSize = true;
        }
    }
    return haveFrames && haveSize;
}

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(path, ec));
}

}  // namespace

bool HoldsFinishedRun(const SegmentOptions& run, std::int64_t* frames) {
    const fs::path outdir(run.outdir);
    const FolderSurvey survey = SurveyFolder(outdir);
    if (!survey.isFolder || !survey.hasRunRecord || survey.hasMarker ||
        !HoldsOnlyRunOutput(survey))
        return false;
    std::ifstream in(outdir / kRunRecord);
    std::stringstream text;
    text << in.rdbuf();
    std::int64_t count = 0;
    std::int32_t width = 0, height = 0;
    // The record is compared whole, rebuilt from these options: whatever a
    // later version adds to it takes part in the comparison by itself.
    if (!in || !ReadCounts(text.str(), &count, &width, &height) ||
        text.str() != RunRecordText(run, count, width, height))
        return false;
    if (run.maxFrames > 0 && count != run.maxFrames) return false;
    if (run.sheetRows > 0 && !IsFile(outdir / kContactSheet)) return false;
    for (std::int64_t f = 1; f <= count; ++f) {
        if (!IsFile(outdir / FrameImageName(f))) return false;
        if (run.probability && !IsFile(outdir / kProbabilityFolder / FrameImageName(f)))
            return false;
    }
    *frames = count;
    return true;
}

}  // namespace corvane::tools
