// The corvane command: `segment`, `evaluate` and `help`, callable in-process
// so the tests can run it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace corvane::tools {

// Runs the command with `args` (without the program name). Results go to
// `out`, messages to `err`. `terminal` enables the progress bar on `err`.
// Returns the process exit status: 0 success, 1 failure, 2 bad usage.
int RunCorvane(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool terminal);

// Asks a running `segment` to stop after the current frame, remove its
// unfinished output and return 130. Safe to call from a signal handler.
void RequestStop();

// The text of `corvane --help`.
std::string HelpText();

}  // namespace corvane::tools
