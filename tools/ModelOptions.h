// The command's model options, read from the parameter table: every table
// entry is an option (--init-frames, --cap-factor, ...), and --map RxC sets
// the map's rows and columns at once. Nothing else is a model option.
#pragma once

#include <string>

#include "ModelSetup.h"

namespace corvane::tools {

// Whether `option` ("--threshold") sets a model parameter.
bool IsModelOption(const std::string& option);

// Sets the parameter of the model option `option` from the text `value`.
// False, with `parameters` as they were and the reason in `error`, for a value
// that is not a number or outside the parameter's range.
bool SetModelOption(const std::string& option, const std::string& value,
                    ModelParameters* parameters, std::string* error);

// ValidateParameters, in the command's words: false with the first problem,
// naming options rather than parameters, in `error`.
bool CheckModelOptions(const ModelParameters& parameters, std::string* error);

// The help lines of the model options, each with its meaning, allowed values,
// unit and default, wrapped to 79 columns.
std::string ModelOptionsHelp();

}  // namespace corvane::tools
