// The run record a `corvane segment` run leaves in its output folder (what
// was segmented, how, and the result's size), and the check a rerun makes to
// leave an output alone that already holds the same run in full.
#pragma once

#include <cstdint>
#include <string>

#include "SegmentRun.h"

namespace corvane::tools {

// The record's text: "corvane segment", the input, the method, the frames
// segmented, the size and (for corvane) every model parameter.
std::string RunRecordText(const SegmentOptions& run, std::int64_t frames, std::int32_t width,
                          std::int32_t height);

// Whether run.outdir holds a finished run of `run`: a committed output folder
// (a run record, no working marker, nothing corvane did not write) whose
// record matches these options in every line but the frame count and size
// (the threads, which do not change the masks, are not recorded), and every
// file that run writes (each mask 1..frames, and the probability images and
// contact sheet when asked for). A folder of fewer frames than
// --max-frames asks for does not count (the earlier run may have been cut
// shorter). Sets `frames` to the record's frame count when it does.
bool HoldsFinishedRun(const SegmentOptions& run, std::int64_t* frames);

}  // namespace corvane::tools
