#include "DetectorOptions.h"

#include <cctype>
#include <cmath>

#include "ParameterTable.h"

namespace corvane::gateway {
namespace {

bool SameIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

GatewayError BadParameter(const std::string& message) {
    return MakeError("Corvane:badParameter", "%s", message.c_str());
}

// "Threads, mapRows, mapColumns, ...".
std::string KnownNames() {
    std::string names = "Threads";
    for (const ParameterInfo& info : ParameterTable()) names += std::string(", ") + info.name;
    return names;
}

// One real number, or the reason it is not.
bool OneRealNumber(const OptionPair& pair, const char* name, GatewayError* error) {
    const OptionValue& v = pair.value;
    if (!v.numeric || v.isComplex || v.count != 1) {
        *error = MakeError("Corvane:badParameter",
                           "option '%s' must be one real number; it is %s%s with %lld elements",
                           name, v.isComplex ? "complex " : "", v.className,
                           static_cast<long long>(v.count));
        return false;
    }
    return true;
}

}  // namespace

GatewayError ApplyOptions(const std::vector<OptionPair>& pairs, DetectorSettings* settings) {
    GatewayError error;
    for (const OptionPair& pair : pairs) {
        if (SameIgnoringCase(pair.name, "Threads")) {
            if (!OneRealNumber(pair, "Threads", &error)) return error;
            const double threads = pair.value.value;
            if (!IsThreadCount(threads)) {
                return MakeError("Corvane:badParameter", "Threads must be %s; it is %s",
                                 DescribeThreadCounts().c_str(),
                                 FormatParameterValue(threads).c_str());
            }
            settings->threads = static_cast<int>(threads);
            continue;
        }
        const ParameterInfo* info = nullptr;
        for (const ParameterInfo& candidate : ParameterTable())
            if (SameIgnoringCase(pair.name, candidate.name)) info = &candidate;
        if (info == nullptr) {
            return BadParameter("unknown option '" + pair.name + "'; the options are " +
                                KnownNames() + " (any case)");
        }
        if (!OneRealNumber(pair, info->name, &error)) return error;
        const ParameterProblem problem = SetParameter(settings->parameters, *info, pair.value.value);
        if (!problem.ok()) return BadParameter(problem.message);
        const std::string name = info->name;
        settings->mapRowsGiven |= name == "mapRows";
        settings->mapColumnsGiven |= name == "mapColumns";
    }
    const ParameterProblem problem = ValidateParameters(settings->parameters);
    if (!problem.ok()) return BadParameter(problem.message);
    return error;
}

GatewayError OptionCountError(int count) {
    return MakeError("Corvane:badParameter",
                     "options come in name/value pairs (a parameter struct may come first); "
                     "%d arguments were given after the start",
                     count);
}

GatewayError OptionNameError(int position, const char* className) {
    return MakeError("Corvane:badParameter",
                     "option argument %d should be an option name, but it is of class %s",
                     position, className);
}

std::vector<std::pair<const char*, double>> ParameterValues(const ModelParameters& parameters) {
    std::vector<std::pair<const char*, double>> values;
    for (const ParameterInfo& info : ParameterTable())
        values.emplace_back(info.name, GetParameter(parameters, info));
    return values;
}

}  // namespace corvane::gateway
