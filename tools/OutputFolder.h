// An output folder that only appears once it is complete. Files go into a
// sibling working folder "OUTDIR.incomplete-PID"; Commit moves it to OUTDIR
// in one rename. A run that stops halfway leaves only the working folder,
// whose name says it is unfinished, and never a half-filled OUTDIR.
//
// An existing OUTDIR is replaced only when it is empty or was written by an
// earlier run (it holds the run record, kRunRecord); any other folder is left
// alone and Begin fails.
#pragma once

#include <string>

namespace corvane::tools {

constexpr const char* kRunRecord = "corvane-run.txt";

class OutputFolder {
public:
    OutputFolder() = default;
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;
    // Removes the working folder if the run was not committed.
    ~OutputFolder();

    // Checks OUTDIR and creates the working folder (and OUTDIR's parents).
    bool Begin(const std::string& outdir, std::string* error);
    // The folder to write into until Commit.
    const std::string& WorkingPath() const { return working_; }
    // Moves the working folder to OUTDIR, replacing an earlier run's output.
    bool Commit(std::string* error);
    // Removes the working folder and everything in it.
    void Abandon();

private:
    std::string outdir_;
    std::string working_;
    bool active_ = false;
};

}  // namespace corvane::tools
