// The corvane command: `segment`, `evaluate` and `help`, callable in-process
// so the tests can run it. The words are read in CommandLine.h, the runs are
// SegmentRun.h and Evaluate.h.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace corvane::tools {

// `segment`'s status when the input ended before the length it announced:
// the masks of every decoded frame are in OUTDIR, but a script must not take
// it for a complete run without looking (--allow-short makes it 0).
constexpr int kExitShortInput = 3;

// Runs the command with `args` (without the program name). Results go to
// `out`, messages to `err`. `terminal` enables the progress bar on `err`.
// Returns the process exit status: 0 success, 1 failure, 2 bad usage,
// kExitShortInput for a segmented input shorter than it announced (its masks
// written), 128 + the signal when stopped by RequestStop.
int RunCorvane(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool terminal);

// Asks a running `segment` or `evaluate` to stop after the current frame,
// remove its unfinished output and return 128 + `signal`. Returns whether a
// stop had been asked for already. Safe to call from a signal handler.
bool RequestStop(int signal);

}  // namespace corvane::tools
