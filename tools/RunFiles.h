// The files a `corvane segment` run writes into its output folder, and how an
// output folder is told apart from one that holds anything else. Whatever
// removes or replaces a folder goes through these, so that a file corvane did
// not write is never deleted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FileWrites.h"

namespace corvane::tools {

// The names a run writes. Masks and probability images are named by frame
// number, FrameImageName (000001.png, ...: six digits or more).
constexpr const char* kRunRecord = "corvane-run.txt";
constexpr const char* kContactSheet = "contact-sheet.png";
constexpr const char* kProbabilityFolder = "probability";
// Marks a working folder while its run lasts; says which process owns it.
constexpr const char* kWorkingMarker = ".corvane-working";

std::string FrameImageName(std::int64_t frameNumber);

// What a folder holds, judged by name and kind (a symbolic link is never a
// run's file, whatever its name).
struct FolderSurvey {
    bool exists = false;
    bool isFolder = false;      // a real folder, not a link to one
    std::int64_t entries = 0;   // everything in it, foreign files included
    bool hasRunRecord = false;
    bool hasMarker = false;
    std::vector<std::string> foreign;  // names (probability/x for its files) a run never writes
    std::string error;                 // set when the folder could not be read
};

FolderSurvey SurveyFolder(const std::filesystem::path& folder);

// A folder that may be replaced or removed: it does not exist, is empty, or
// holds only a run's files along with its run record or working marker.
bool HoldsOnlyRunOutput(const FolderSurvey& survey);

// Up to `limit` foreign names, quoted and comma-separated, for messages.
std::string ListForeign(const FolderSurvey& survey, std::size_t limit = 3);

// Removes a run's files from `folder` (its run record last, so a folder left
// half-removed is still recognised as a run's) and the folder itself once
// empty. Anything else is left in place. Returns false, with the first
// problem in `error`, when something of the run could not be removed or
// something else remains (the folder is then kept).
bool RemoveRunFiles(const std::filesystem::path& folder, std::string* error);

// Who owns a working folder. A process id alone is not enough: ids are reused,
// so the start time (clock ticks after boot, from /proc) and the boot id tell
// a later process with the same id apart, and the host name keeps a run on
// another machine sharing the folder from being taken for a dead one.
struct ProcessIdentity {
    long pid = 0;
    std::string start;
    std::string boot;
    std::string host;
};

ProcessIdentity ThisProcess();
// The start time of process `pid` as ProcessIdentity::start has it; empty when
// no such process exists or /proc cannot tell.
std::string ProcessStartTime(long pid);

// The marker's text, and the identity read back from it. `kept` marks the
// finished results of a run that could not be moved into place: they are
// never removed as abandoned.
std::string MarkerText(const ProcessIdentity& owner, bool kept);
bool ParseMarker(const std::string& text, ProcessIdentity* owner, bool* kept);

// Writes the marker into `folder`, checked and synced. Returns false, with
// the reason in `error`, when it cannot be written.
bool WriteMarker(const std::filesystem::path& folder, const ProcessIdentity& owner, bool kept,
                 std::string* error, FileCalls& calls = SystemFileCalls());

}  // namespace corvane::tools
