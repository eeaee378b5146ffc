#include "OutputFolder.h"

#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace corvane::tools {

OutputFolder::~OutputFolder() { Abandon(); }

bool OutputFolder::Begin(const std::string& outdir, std::string* error) {
    std::error_code ec;
    fs::path target = fs::path(outdir).lexically_normal();
    if (target.has_filename() == false) target = target.parent_path();  // "out/" -> "out"
    if (target.empty() || target == "." || target == "..") {
        *error = "the output folder \"" + outdir + "\" must name a folder of its own";
        return false;
    }
    if (fs::exists(target, ec)) {
        if (!fs::is_directory(target, ec)) {
            *error = "the output \"" + outdir + "\" exists and is not a folder";
            return false;
        }
        const bool empty = fs::is_empty(target, ec);
        if (ec) {
            *error = "cannot read the output folder \"" + outdir + "\": " + ec.message();
            return false;
        }
        if (!empty && !fs::is_regular_file(target / kRunRecord, ec)) {
            *error = "the output folder \"" + outdir +
                     "\" exists and holds files that corvane did not write; "
                     "choose a new folder or empty it";
            return false;
        }
    }
    const fs::path parent = target.parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent, ec);
        if (ec) {
            *error = "cannot create the folder \"" + parent.string() + "\": " + ec.message();
            return false;
        }
    }
    fs::path working = target;
    working += ".incomplete-" + std::to_string(static_cast<long>(getpid()));
    fs::remove_all(working, ec);
    if (!fs::create_directory(working, ec) || ec) {
        *error = "cannot create the output folder next to \"" + outdir + "\": " +
                 (ec ? ec.message() : std::string("it already exists"));
        return false;
    }
    outdir_ = target.string();
    working_ = working.string();
    active_ = true;
    return true;
}

bool OutputFolder::Commit(std::string* error) {
    if (!active_) {
        *error = "nothing to commit";
        return false;
    }
    std::error_code ec;
    const fs::path target(outdir_);
    fs::path old;
    if (fs::exists(target, ec)) {
        old = target;
        old += ".old-" + std::to_string(static_cast<long>(getpid()));
        fs::remove_all(old, ec);
        fs::rename(target, old, ec);
        if (ec) {
            *error = "cannot replace \"" + outdir_ + "\": " + ec.message();
            return false;
        }
    }
    fs::rename(working_, target, ec);
    if (ec) {
        const std::string reason = ec.message();
        if (!old.empty()) fs::rename(old, target, ec);
        *error = "cannot move the results into \"" + outdir_ + "\": " + reason +
                 " (they are in \"" + working_ + "\")";
        active_ = false;  // keep the finished work where it is
        return false;
    }
    if (!old.empty()) fs::remove_all(old, ec);
    active_ = false;
    return true;
}

void OutputFolder::Abandon() {
    if (!active_) return;
    std::error_code ec;
    fs::remove_all(working_, ec);
    active_ = false;
}

}  // namespace corvane::tools
