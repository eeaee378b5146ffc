// The corvane command's words: its help text and the parsing of the
// arguments of `segment` and `evaluate` into the options of their runs.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "Evaluate.h"
#include "SegmentRun.h"

namespace corvane::tools {

// The text of `corvane --help`.
std::string HelpText();

struct SegmentCommand {
    SegmentOptions options;
    bool quiet = false;  // no progress bar
    bool skipComplete = false;  // leave an output that holds this run in full
};

// Parses the arguments of `corvane segment` (without the command's name).
// False, with the problem written to `err`, on bad usage.
bool ParseSegmentCommand(const std::vector<std::string>& args, SegmentCommand* command,
                         std::ostream& err);

// Parses model options alone (`corvane parameters`) into `parameters` and
// checks them as a whole; false, with the problem written to `err`, if not.
bool ParseModelOptions(const std::vector<std::string>& args, ModelParameters* parameters,
                       std::ostream& err);

struct EvaluateCommand {
    EvaluateOptions options;
    std::string csv;    // also write the scores as CSV here ("-": standard output)
    std::string chart;  // also write a bar chart here
};

// Parses the arguments of `corvane evaluate`, as ParseSegmentCommand.
bool ParseEvaluateCommand(const std::vector<std::string>& args, EvaluateCommand* command,
                          std::ostream& err);

}  // namespace corvane::tools
