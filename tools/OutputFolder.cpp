#include "OutputFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace corvane::tools {

namespace {

// renameat2(2) flags (the kernel's values; older C libraries lack the names).
constexpr unsigned kRenameNoReplace = 1u << 0;
constexpr unsigned kRenameExchange = 1u << 1;

int RenameAt2(const char* from, const char* to, unsigned flags) {
#ifdef SYS_renameat2
    if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, flags) == 0) return 0;
    return errno;
#else
    (void)from;
    (void)to;
    (void)flags;
    return ENOSYS;
#endif
}

int SystemExchange(const char* a, const char* b) { return RenameAt2(a, b, kRenameExchange); }
int SystemMoveNoReplace(const char* from, const char* to) {
    return RenameAt2(from, to, kRenameNoReplace);
}
int SystemMove(const char* from, const char* to) {
    return std::rename(from, to) == 0 ? 0 : errno;
}

// The filesystem or kernel does not offer this kind of rename at all.
bool Refused(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

std::string Quote(const fs::path& path) { return "\"" + path.string() + "\""; }

std::string ReadMarker(const fs::path& folder) {
    std::ifstream in(folder / kWorkingMarker);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether the process that named `folder` after itself (`pid`) is gone.
bool OwnerIsGone(const fs::path& folder, const FolderSurvey& survey, long pid,
                 const ProcessIdentity& self) {
    if (survey.hasMarker) {
        ProcessIdentity owner;
        bool kept = false;
        if (!ParseMarker(ReadMarker(folder), &owner, &kept) || owner.pid != pid || kept)
            return false;
        if (owner.host != self.host) return false;  // may be running there
        if (!owner.boot.empty() && !self.boot.empty() && owner.boot != self.boot) return true;
        const std::string start = ProcessStartTime(pid);
        if (!start.empty()) return !owner.start.empty() && start != owner.start;
        // No /proc entry: gone, unless /proc itself cannot tell.
        return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    }
    // An earlier output moved aside, without a marker: only the id to go by.
    // A reused id keeps the folder, which errs on the safe side.
    if (pid == self.pid) return true;  // this process did not make it yet
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// "TARGET.incomplete-123" -> 123 when `name` is `stem` + `tag` + digits.
long PidFromName(const std::string& name, const std::string& stem, const char* tag) {
    const std::string prefix = stem + tag;
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 9 ||
        name.compare(0, prefix.size(), prefix) != 0)
        return 0;
    long pid = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    return pid;
}

}  // namespace

FolderMoves SystemFolderMoves() { return FolderMoves{SystemExchange, SystemMoveNoReplace, SystemMove}; }

std::vector<std::string> ClearAbandonedFolders(const fs::path& target, const ProcessIdentity& self,
                                               const FolderMoves& moves) {
    std::vector<std::string> cleared;
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string stem = target.filename().string();
    std::vector<std::pair<fs::path, bool>> candidates;  // path, moved-aside earlier output
    std::error_code ec;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (PidFromName(name, stem, ".incomplete-") > 0)
            candidates.emplace_back(it->path(), false);
        else if (PidFromName(name, stem, ".old-") > 0)
            candidates.emplace_back(it->path(), true);
    }
    for (const auto& [folder, movedAside] : candidates) {
        const std::string name = folder.filename().string();
        const long pid = PidFromName(name, stem, movedAside ? ".old-" : ".incomplete-");
        const FolderSurvey survey = SurveyFolder(folder);
        if (!survey.isFolder || !HoldsOnlyRunOutput(survey)) continue;
        if (survey.entries > 0 && !survey.hasMarker && !survey.hasRunRecord) continue;
        if (!OwnerIsGone(folder, survey, pid, self)) continue;
        std::error_code exists;
        if (movedAside && survey.hasRunRecord && !fs::exists(fs::symlink_status(target, exists))) {
            int result = moves.moveNoReplace(folder.c_str(), target.c_str());
            if (Refused(result)) result = moves.move(folder.c_str(), target.c_str());
            if (result == 0) {
                cleared.push_back("put the earlier output back from " + Quote(folder));
                continue;
            }
        }
        std::string error;
        if (RemoveRunFiles(folder, &error)) cleared.push_back("removed " + Quote(folder));
    }
    return cleared;
}

OutputFolder::OutputFolder(FolderMoves moves, FileCalls& files)
    : moves_(moves), files_(&files), self_(ThisProcess()) {}

OutputFolder::~OutputFolder() { Abandon(); }

bool OutputFolder::Begin(const std::string& outdir, std::string* error) {
    notice_.clear();
    std::error_code ec;
    fs::path target = fs::path(outdir).lexically_normal();
    if (target.has_filename() == false) target = target.parent_path();  // "out/" -> "out"
    if (target.empty() || target == "." || target == "..") {
        *error = "the output folder \"" + outdir + "\" must name a folder of its own";
        return false;
    }
    // A link to a folder: the folder it names is replaced, next to itself.
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::canonical(target, ec);
        if (ec) {
            *error = "the output \"" + outdir + "\" is a symbolic link to nothing usable: " +
                     ec.message();
            return false;
        }
        target = resolved;
    }
    const FolderSurvey survey = SurveyFolder(target);
    if (survey.exists && !survey.isFolder) {
        *error = "the output \"" + outdir + "\" exists and is not a folder";
        return false;
    }
    if (!survey.error.empty()) {
        *error = "cannot read the output folder \"" + outdir + "\": " + survey.error;
        return false;
    }
    if (!HoldsOnlyRunOutput(survey)) {
        *error = "the output folder \"" + outdir + "\" exists and holds files that corvane did "
                 "not write" + (survey.foreign.empty() ? "" : " (" + ListForeign(survey) + ")") +
                 "; choose a new folder or empty it";
        return false;
    }
    const fs::path parent = target.parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent, ec);
        if (ec) {
            *error = "cannot create the folder \"" + parent.string() + "\": " + ec.message();
            return false;
        }
    }
    ClearAbandonedFolders(target, self_, moves_);
    fs::path working = target;
    working += ".incomplete-" + std::to_string(self_.pid);
    if (fs::exists(fs::symlink_status(working, ec))) {
        *error = "cannot create the working folder " + Quote(working) +
                 ": it already exists (the kept results of an earlier run with this process "
                 "id, or files corvane did not write); move it away";
        return false;
    }
    if (!fs::create_directory(working, ec) || ec) {
        *error = "cannot create the output folder next to \"" + outdir + "\": " +
                 (ec ? ec.message() : std::string("it already exists"));
        return false;
    }
    std::string markerError;
    if (!WriteMarker(working, self_, false, &markerError, *files_)) {
        fs::remove_all(working, ec);
        *error = "cannot write into the working folder " + Quote(working) + ": " + markerError;
        return false;
    }
    outdir_ = target.string();
    working_ = working.string();
    active_ = true;
    return true;
}

bool OutputFolder::Fail(const std::string& message, std::string* error) {
    // The results are finished: keep them, marked so that no later run
    // clears them as abandoned.
    std::string ignored;
    WriteMarker(working_, self_, true, &ignored, *files_);
    *error = message + " (the results are in \"" + working_ + "\")";
    active_ = false;
    return false;
}

void OutputFolder::Placed(const fs::path& earlier) {
    std::error_code ec;
    fs::remove(fs::path(outdir_) / kWorkingMarker, ec);
    active_ = false;
    // The new name, and the marker's removal, on the disk too.
    const fs::path parent = fs::path(outdir_).has_parent_path() ? fs::path(outdir_).parent_path()
                                                                : fs::path(".");
    std::string error;
    if (!SyncFolder(outdir_, &error, *files_) || !SyncFolder(parent.string(), &error, *files_))
        notice_ = "the output is in place but may not survive a power cut: " + error;
    if (earlier.empty()) return;
    if (!RemoveRunFiles(earlier, &error))
        notice_ += std::string(notice_.empty() ? "" : "; ") + "the earlier output of \"" +
                   outdir_ + "\" was moved to " + Quote(earlier) + " but not removed: " + error;
}

bool OutputFolder::Commit(std::string* error) {
    if (!active_) {
        *error = "nothing to commit";
        return false;
    }
    notice_.clear();
    // Every file was synced as it was written; now the names in the folder.
    std::string syncError;
    const fs::path probability = fs::path(working_) / kProbabilityFolder;
    std::error_code ec;
    if ((fs::is_directory(fs::symlink_status(probability, ec)) &&
         !SyncFolder(probability.string(), &syncError, *files_)) ||
        !SyncFolder(working_, &syncError, *files_)) {
        *error = syncError + "; no output written";
        return false;  // still active: the destructor removes the working folder
    }
    const fs::path target(outdir_);
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Again, right before anything is replaced: files may have been put
        // into OUTDIR while the run lasted.
        const FolderSurvey survey = SurveyFolder(target);
        if (!HoldsOnlyRunOutput(survey))
            return Fail("\"" + outdir_ + "\" changed during the run and now holds " +
                            (survey.isFolder ? "files corvane did not write (" +
                                                   ListForeign(survey) + ")"
                                             : std::string("something that is not a folder")) +
                            "; it was left as it is",
                        error);
        if (!survey.exists) {
            int result = moves_.moveNoReplace(working_.c_str(), outdir_.c_str());
            // Without the no-replace move, a plain rename: it cannot replace
            // anything but an empty folder.
            if (Refused(result)) result = moves_.move(working_.c_str(), outdir_.c_str());
            if (result == 0) {
                Placed(fs::path());
                return true;
            }
            if (result == EEXIST || result == ENOTEMPTY) continue;  // appeared meanwhile
            return Fail("cannot move the results into \"" + outdir_ + "\": " + std::strerror(result),
                        error);
        }
        const int result = moves_.exchange(working_.c_str(), outdir_.c_str());
        if (result == 0) {
            Placed(fs::path(working_));  // the working path now holds the earlier output
            return true;
        }
        if (result == ENOENT) continue;  // removed meanwhile
        if (Refused(result)) return ReplaceInTwoSteps(error);
        return Fail("cannot replace \"" + outdir_ + "\": " + std::strerror(result), error);
    }
    return Fail("\"" + outdir_ + "\" kept changing while the results were put in place", error);
}

// Where the filesystem cannot swap two folders: the earlier output aside,
// then the results in. A crash between the two leaves OUTDIR missing and the
// earlier output in OUTDIR.old-PID, which the next run puts back.
bool OutputFolder::ReplaceInTwoSteps(std::string* error) {
    fs::path old(outdir_);
    old += ".old-" + std::to_string(self_.pid);
    int result = moves_.move(outdir_.c_str(), old.c_str());
    if (result != 0)
        return Fail("cannot move the earlier output of \"" + outdir_ + "\" aside to " + Quote(old) +
                        ": " + std::strerror(result),
                    error);
    result = moves_.move(working_.c_str(), outdir_.c_str());
    if (result != 0) {
        const std::string reason = std::strerror(result);
        const int back = moves_.move(old.c_str(), outdir_.c_str());
        if (back != 0)
            return Fail("cannot move the results into \"" + outdir_ + "\": " + reason +
                            "; nor could the earlier output be put back (" + std::strerror(back) +
                            "): it is in " + Quote(old),
                        error);
        return Fail("cannot move the results into \"" + outdir_ + "\": " + reason +
                        "; the earlier output is back in place",
                    error);
    }
    Placed(old);
    return true;
}

void OutputFolder::Abandon() {
    if (!active_) return;
    std::string error;
    RemoveRunFiles(working_, &error);
    active_ = false;
}

}  // namespace corvane::tools
