// The run record a `corvane segment` run leaves in its output folder, and the
// check a rerun makes (--skip-complete) to leave an output alone that already
// holds the same run in full.
//
// The record has two halves. The first says what was asked: the input as
// given and what it is now (size and modification time of each file it
// reads, summed up), the method, the frame limit and (for corvane) every
// model parameter; the threads, which do not change the masks, are left
// out. The second says what was done: the frames segmented, the frames the
// input announced, the size, whether a shorter input was accepted, and every
// file written with its size. A checksum of the whole text ends it, so a
// record that was cut short or edited is not trusted.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "SegmentRun.h"

namespace corvane::tools {

// What identifies the input files as they are now: their count, total size
// and latest modification time (nanoseconds). Empty when one cannot be read.
std::string InputIdentity(const std::vector<std::string>& files);

// What a run did.
struct RunOutcome {
    std::int64_t frames = 0;     // masks written
    std::int64_t announced = -1; // frames the input announced; -1: it did not say
    std::int32_t width = 0, height = 0;
    // Every file written, relative to the output folder ("000001.png",
    // "probability/000001.png", ...), with its size in bytes.
    std::vector<std::pair<std::string, std::uintmax_t>> files;
};

// Whether the outcome is a short input: it ended before the length it
// announced, without a frame limit that explains it.
bool EndedShort(const SegmentOptions& run, const RunOutcome& outcome);

// The record's text.
std::string RunRecordText(const SegmentOptions& run, const std::string& inputIdentity,
                          const RunOutcome& outcome);

// Whether run.outdir holds a finished run of `run`: a committed output folder
// (a run record, no working marker, nothing corvane did not write) whose
// record is intact, asked for the same as `run` of the input as it is now,
// and lists exactly the files the folder holds, each of its recorded size,
// the last mask decoding to an image of the recorded size. Sets `outcome` to
// the recorded one when it does; otherwise `why` (when given) says what did
// not match.
bool HoldsFinishedRun(const SegmentOptions& run, RunOutcome* outcome, std::string* why = nullptr);

}  // namespace corvane::tools
