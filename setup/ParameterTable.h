// The one list of the model's parameters: for each member of ModelParameters
// its names in every host, its default, the values it may take, its unit and
// a line of help. The command's options, help text and run record, the
// toolbox's corvaneParameters (through a test), the MATLAB/Octave detector and
// the Python module all read their names, defaults and ranges from here, and
// ValidateParameters is the one check every host and the C++ setup obey.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "ModelSetup.h"

namespace corvane {

enum class ParameterKind {
    Whole,  // a 32-bit integer member; values must be whole numbers
    Real,   // a double member
};

struct ParameterInfo {
    const char* name;        // canonical (toolbox) name, camelCase: "mapRows"
    const char* option;      // the command's option: "--map-rows"
    const char* pythonName;  // snake_case: "map_rows"
    const char* placeholder; // the option's value in the help text: "N", "V"
    ParameterKind kind;
    std::int32_t ModelParameters::*whole;  // set for Whole, else null
    double ModelParameters::*real;         // set for Real, else null
    // Allowed values: low .. high, each end inclusive or not; whole numbers
    // may further have to be odd.
    double low;
    bool lowInclusive;
    double high;
    bool highInclusive;
    bool odd;
    // Name of another parameter this one must be at least (or null): a rule
    // between two values, checked by ValidateParameters.
    const char* atLeast;
    const char* unit;  // "frames", "squared colour units", ...; "" for a pure number
    const char* help;  // one line, lower case, no final full stop
};

// The table, in the order of ModelParameters' members; iterate with
// `for (const ParameterInfo& p : ParameterTable())`.
struct ParameterList {
    const ParameterInfo* first;
    std::size_t count;
    const ParameterInfo* begin() const { return first; }
    const ParameterInfo* end() const { return first + count; }
    std::size_t size() const { return count; }
    const ParameterInfo& operator[](std::size_t i) const { return first[i]; }
};
ParameterList ParameterTable();

// The entry with this canonical name, command option or Python name (exact
// spelling), or null.
const ParameterInfo* FindParameter(const std::string& name);
const ParameterInfo* FindParameterByOption(const std::string& option);
const ParameterInfo* FindParameterByPythonName(const std::string& pythonName);

// The member's value, as a double (whole numbers are exact).
double GetParameter(const ModelParameters& parameters, const ParameterInfo& info);
// The default value.
double DefaultParameter(const ParameterInfo& info);

// What is wrong with a parameter: empty `message` when nothing is.
struct ParameterProblem {
    const ParameterInfo* parameter = nullptr;  // null for an unknown name
    std::string name;     // the name as given (canonical for ValidateParameters)
    double value = 0;     // the offending value
    std::string allowed;  // "a whole number from 1 to 8", ... (empty for an unknown name)
    std::string message;  // "mapRows must be a whole number from 1 to 8; it is 9"
    bool ok() const { return message.empty(); }
};

// The value's own range (finite, inside low..high, whole and odd where
// required); the rule between parameters (atLeast) is not looked at here.
ParameterProblem CheckParameterValue(const ParameterInfo& info, double value);

// Checks `value` and, when it is allowed, stores it in the member named
// `name` (canonical spelling); returns the problem otherwise, leaving
// `parameters` as it was. Rules between parameters are left to
// ValidateParameters, so that a host can set them in any order.
ParameterProblem SetParameter(ModelParameters& parameters, const std::string& name, double value);
ParameterProblem SetParameter(ModelParameters& parameters, const ParameterInfo& info, double value);

// The first problem of a whole set, in table order: every value in its
// range, then every rule between two values. Empty message: all are valid.
ParameterProblem ValidateParameters(const ModelParameters& parameters);

// Thrown by the model and matrix builders and by the Detector when given
// parameters that ValidateParameters rejects.
class InvalidParameters : public std::invalid_argument {
public:
    explicit InvalidParameters(ParameterProblem problem);
    const ParameterProblem& problem() const { return problem_; }

private:
    ParameterProblem problem_;
};

// Throws InvalidParameters with ValidateParameters' problem, if there is one.
void RequireValidParameters(const ModelParameters& parameters);

// The allowed values in words, as in ParameterProblem::allowed:
// "a whole number from 1 to 8", "an odd whole number from 1 to 31",
// "a number from 0 to 1", "a number above 0 and below 1",
// "a number above 0 and at most 65025".
std::string DescribeAllowed(const ParameterInfo& info);

// The hosts' thread option (Python's threads, MATLAB's Threads, the
// command's --threads): a whole number from 0 (every hardware thread) to the
// core's cap kMaxThreads, and its allowed values in words, "a whole number
// from 0 to 256 (0: every hardware thread)".
bool IsThreadCount(double value);
std::string DescribeThreadCounts();

// The shortest decimal text that reads back as exactly `value` ("0.05", "3",
// "1e-06"): defaults and values in help texts, messages and run records.
std::string FormatParameterValue(double value);

// The run record of a parameter set: one line "name value" per parameter, in
// table order, names as the command's options without the leading dashes
// ("map-rows 3"), values exact.
std::string DescribeParameters(const ModelParameters& parameters);

}  // namespace corvane
