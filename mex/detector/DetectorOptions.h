// The options of CorvaneDetector(start, 'Name', value, ...): every parameter
// of the model's parameter table under the toolbox's names (corvaneParameters;
// any case), and Threads, the number of threads the update may use. Checked
// here against the table's ranges and rules, so the object accepts exactly
// what the corvane command and the toolbox accept.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "GatewayModel.h"
#include "GatewayThreads.h"
#include "ModelSetup.h"

namespace corvane::gateway {

// One option's value as the host sees it.
struct OptionValue {
    const char* className = "";
    bool numeric = false;   // a numeric or logical array
    bool isComplex = false;
    std::int64_t count = 0;
    double value = 0;       // its one element, as a double, when count is 1
};

struct OptionPair {
    std::string name;
    OptionValue value;
};

struct DetectorSettings {
    ModelParameters parameters;  // the table's defaults, then the options
    int threads = 0;             // 0: every hardware thread
    bool mapRowsGiven = false;
    bool mapColumnsGiven = false;
};

// Applies the pairs in order, then checks the whole set (the rules between
// parameters); Corvane:badParameter names the first problem.
GatewayError ApplyOptions(const std::vector<OptionPair>& pairs, DetectorSettings* settings);

// Corvane:badParameter for options that are not name/value pairs: `count`
// arguments after the start, or argument `position` (1-based, counted from
// the first option) that is of class `className` where a name belongs.
GatewayError OptionCountError(int count);
GatewayError OptionNameError(int position, const char* className);

// The parameters as name/value pairs in table order, for the object's
// Parameters property.
std::vector<std::pair<const char*, double>> ParameterValues(const ModelParameters& parameters);

}  // namespace corvane::gateway
