#include "RunFiles.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace corvane::tools {

std::string FrameImageName(std::int64_t frameNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "%06lld.png", static_cast<long long>(frameNumber));
    return name;
}

namespace {

// 000001.png and on: six digits or more, then ".png".
bool IsFrameImageName(const std::string& name) {
    const std::size_t dot = name.size() >= 4 ? name.size() - 4 : 0;
    if (dot < 6 || name.compare(dot, 4, ".png") != 0) return false;
    for (std::size_t i = 0; i < dot; ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

enum class Kind { File, Folder, Other };

Kind KindOf(const fs::directory_entry& entry) {
    std::error_code ec;
    const fs::file_status status = entry.symlink_status(ec);
    if (ec) return Kind::Other;
    if (fs::is_regular_file(status)) return Kind::File;
    if (fs::is_directory(status)) return Kind::Folder;
    return Kind::Other;
}

bool IsTopLevelRunFile(const std::string& name) {
    return name == kRunRecord || name == kContactSheet || name == kWorkingMarker ||
           IsFrameImageName(name);
}

}  // namespace

FolderSurvey SurveyFolder(const fs::path& folder) {
    FolderSurvey survey;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (ec || !fs::exists(status)) {
        if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
            survey.error = ec.message();
        return survey;
    }
    survey.exists = true;
    survey.isFolder = fs::is_directory(status);
    if (!survey.isFolder) return survey;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        ++survey.entries;
        const std::string name = it->path().filename().string();
        const Kind kind = KindOf(*it);
        if (kind == Kind::File && IsTopLevelRunFile(name)) {
            survey.hasRunRecord = survey.hasRunRecord || name == kRunRecord;
            survey.hasMarker = survey.hasMarker || name == kWorkingMarker;
            continue;
        }
        if (kind == Kind::Folder && name == kProbabilityFolder) {
            std::error_code inner;
            for (fs::directory_iterator p(it->path(), inner), pend; !inner && p != pend;
                 p.increment(inner)) {
                const std::string image = p->path().filename().string();
                if (KindOf(*p) != Kind::File || !IsFrameImageName(image))
                    survey.foreign.push_back(name + "/" + image);
            }
            if (inner) survey.error = inner.message();
            continue;
        }
        survey.foreign.push_back(name);
    }
    if (ec) survey.error = ec.message();
    return survey;
}

bool HoldsOnlyRunOutput(const FolderSurvey& survey) {
    if (!survey.exists) return true;
    if (!survey.isFolder || !survey.error.empty() || !survey.foreign.empty()) return false;
    return survey.entries == 0 || survey.hasRunRecord || survey.hasMarker;
}

std::string ListForeign(const FolderSurvey& survey, std::size_t limit) {
    std::string list;
    for (std::size_t i = 0; i < survey.foreign.size() && i < limit; ++i)
        list += (i > 0 ? ", \"" : "\"") + survey.foreign[i] + "\"";
    if (survey.foreign.size() > limit)
        list += " and " + std::to_string(survey.foreign.size() - limit) + " more";
    return list;
}

bool RemoveRunFiles(const fs::path& folder, std::string* error) {
    error->clear();
    const auto note = [&](const fs::path& path, const std::error_code& ec) {
        if (error->empty()) *error = "cannot remove \"" + path.string() + "\": " + ec.message();
    };
    // The names first, then the removals: a folder is not changed while it
    // is being read.
    std::vector<fs::path> files, folders, last;  // last: the run record and the marker
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const Kind kind = KindOf(*it);
        if (kind == Kind::File && (name == kRunRecord || name == kWorkingMarker)) {
            last.push_back(it->path());
        } else if (kind == Kind::File && IsTopLevelRunFile(name)) {
            files.push_back(it->path());
        } else if (kind == Kind::Folder && name == kProbabilityFolder) {
            folders.push_back(it->path());
            std::error_code inner;
            for (fs::directory_iterator p(it->path(), inner), pend; !inner && p != pend;
                 p.increment(inner))
                if (KindOf(*p) == Kind::File && IsFrameImageName(p->path().filename().string()))
                    files.push_back(p->path());
            if (inner) note(it->path(), inner);
        }
    }
    if (ec) note(folder, ec);
    for (const fs::path& path : files) {
        std::error_code removeError;
        if (!fs::remove(path, removeError) && removeError) note(path, removeError);
    }
    for (const fs::path& path : folders) {
        std::error_code removeError;
        if (fs::is_empty(path, removeError)) fs::remove(path, removeError);
    }
    // Only once everything else of the run is gone: a folder that still holds
    // part of a run also still says whose it was.
    const FolderSurvey rest = SurveyFolder(folder);
    if (!rest.foreign.empty()) {
        if (error->empty())
            *error = "\"" + folder.string() + "\" holds files corvane did not write (" +
                     ListForeign(rest) + "); they were left in place";
        return false;
    }
    if (!error->empty()) return false;
    for (const fs::path& path : last) {
        std::error_code removeError;
        if (!fs::remove(path, removeError) && removeError) note(path, removeError);
    }
    std::error_code removeError;
    if (error->empty() && !fs::remove(folder, removeError) && removeError) note(folder, removeError);
    return error->empty();
}

namespace {

std::string FirstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::string ProcessStartTime(long pid) {
    // /proc/PID/stat: "pid (comm) state ppid ..."; comm may hold spaces and
    // parentheses, so the fields are counted from the last ')'. The start
    // time is field 22, the 20th after it.
    const std::string stat = FirstLine(("/proc/" + std::to_string(pid) + "/stat").c_str());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return "";
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int i = 0; i < 20 && (fields >> field); ++i) {
    }
    return fields ? field : "";
}

ProcessIdentity ThisProcess() {
    ProcessIdentity identity;
    identity.pid = static_cast<long>(getpid());
    identity.start = ProcessStartTime(identity.pid);
    identity.boot = FirstLine("/proc/sys/kernel/random/boot_id");
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) identity.host = host;
    return identity;
}

std::string MarkerText(const ProcessIdentity& owner, bool kept) {
    std::string text = "corvane working folder\n";
    text += "pid " + std::to_string(owner.pid) + "\n";
    text += "start " + owner.start + "\n";
    text += "boot " + owner.boot + "\n";
    text += "host " + owner.host + "\n";
    if (kept) text += "kept\n";
    return text;
}

bool ParseMarker(const std::string& text, ProcessIdentity* owner, bool* kept) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != "corvane working folder") return false;
    *owner = ProcessIdentity();
    *kept = false;
    bool hasPid = false;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "pid") {
            char* end = nullptr;
            owner->pid = std::strtol(value.c_str(), &end, 10);
            hasPid = !value.empty() && *end == '\0' && owner->pid > 0;
        } else if (key == "start") {
            owner->start = value;
        } else if (key == "boot") {
            owner->boot = value;
        } else if (key == "host") {
            owner->host = value;
        } else if (key == "kept") {
            *kept = true;
        }
    }
    return hasPid;
}

bool WriteMarker(const fs::path& folder, const ProcessIdentity& owner, bool kept,
                 std::string* error, FileCalls& calls) {
    return WriteFileChecked((folder / kWorkingMarker).string(), MarkerText(owner, kept), error,
                            calls);
}

}  // namespace corvane::tools
