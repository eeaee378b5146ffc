// An output folder that only appears once it is complete. Files go into a
// sibling working folder "OUTDIR.incomplete-PID", marked with the owning
// process (kWorkingMarker); Commit puts it in OUTDIR's place in one step, so
// OUTDIR holds either the earlier output or the new one at every moment, and
// a run that stops halfway leaves only the working folder, never a
// half-filled OUTDIR.
//
// An existing OUTDIR is replaced only while it is empty or holds an earlier
// run's output and nothing else (see RunFiles.h): checked at Begin and again
// right before the swap, and the earlier output is then removed file by file,
// the run's own files only.
//
// Begin also clears away what killed runs left next to OUTDIR: working
// folders whose process is gone, and an earlier output that a crash left
// moved aside (it is put back when OUTDIR is missing).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "FileWrites.h"
#include "RunFiles.h"

namespace corvane::tools {

// The moves that put a finished folder in place, each returning 0 or an errno
// value: swap two folders, move without replacing anything, move. The
// system's are renameat2(2) with RENAME_EXCHANGE and RENAME_NOREPLACE (called
// through syscall(2), which every glibc has) and rename(2). Tests put in
// moves that fail.
struct FolderMoves {
    int (*exchange)(const char* a, const char* b);
    int (*moveNoReplace)(const char* from, const char* to);
    int (*move)(const char* from, const char* to);
};

FolderMoves SystemFolderMoves();

class OutputFolder {
public:
    // `files`: what the marker is written and the folders synced through.
    explicit OutputFolder(FolderMoves moves = SystemFolderMoves(),
                          FileCalls& files = SystemFileCalls());
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;
    // Removes the working folder if the run was not committed.
    ~OutputFolder();

    // Checks OUTDIR, clears killed runs' leftovers beside it and creates the
    // working folder (and OUTDIR's parents).
    bool Begin(const std::string& outdir, std::string* error);
    // The folder to write into until Commit.
    const std::string& WorkingPath() const { return working_; }
    // Syncs the working folder (the files in it were synced as written), puts
    // it in OUTDIR's place, syncs OUTDIR's parent and removes the earlier
    // output: after a power cut OUTDIR holds the earlier output or the whole
    // new one. When the working folder cannot be synced the run fails and the
    // folder is removed like any unfinished one. On a failure to move it the
    // finished results stay in the working folder, which the message names
    // and which is then never cleared as abandoned.
    bool Commit(std::string* error);
    // After a successful Commit: what was left behind that the user should
    // hear of (an earlier output that could not be removed in full); empty
    // when nothing was.
    const std::string& Notice() const { return notice_; }
    // Removes the working folder (the run's files in it).
    void Abandon();

private:
    bool Fail(const std::string& message, std::string* error);
    bool ReplaceInTwoSteps(std::string* error);
    void Placed(const std::filesystem::path& earlier);

    FolderMoves moves_;
    FileCalls* files_;
    ProcessIdentity self_;
    std::string outdir_;
    std::string working_;
    std::string notice_;
    bool active_ = false;
};

// Clears what killed runs left next to `target`: a folder named
// TARGET.incomplete-PID or TARGET.old-PID whose process `PID` is gone, that
// holds nothing but a run's files and says it is a run's (working marker or
// run record). An .old folder (an earlier output moved aside) is moved back
// to TARGET when TARGET is missing; everything else is removed. Folders of a
// live process, of another host, kept results and anything holding other
// files are left alone. Returns one line per folder cleared.
std::vector<std::string> ClearAbandonedFolders(const std::filesystem::path& target,
                                               const ProcessIdentity& self, const FolderMoves& moves);

}  // namespace corvane::tools
