#include "ModelOptions.h"

#include <cstdlib>
#include <sstream>

#include "ParameterTable.h"

namespace corvane::tools {

namespace {

constexpr const char* kMapOption = "--map";

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return false;
    *value = v;
    return true;
}

// `text` (a number) into the parameter; the problem in the option's words.
bool SetFromText(const ParameterInfo& info, const std::string& option, const std::string& text,
                 ModelParameters* parameters, std::string* error) {
    double value = 0;
    if (ParseNumber(text, &value) && SetParameter(*parameters, info, value).ok()) return true;
    *error = "option " + option + " needs " + DescribeAllowed(info) + ", not \"" + text + "\"";
    return false;
}

// Writes `words` as lines of at most 79 columns (longer words stand alone):
// the first after `first` padded to `indent` columns (on a line of its own
// when it is longer), the others indented by `indent`.
void Wrap(std::ostringstream& out, const std::string& first, const std::string& words,
          std::size_t indent) {
    std::string line = first;
    if (line.size() + 1 > indent) {
        out << line << "\n";
        line.clear();
    }
    line.resize(indent, ' ');
    std::istringstream in(words);
    std::string word;
    bool empty = true;
    while (in >> word) {
        if (!empty && line.size() + 1 + word.size() > 79) {
            out << line << "\n";
            line.assign(indent, ' ');
            empty = true;
        }
        line += (empty ? "" : " ") + word;
        empty = false;
    }
    out << line << "\n";
}

}  // namespace

bool IsModelOption(const std::string& option) {
    return option == kMapOption || FindParameterByOption(option) != nullptr;
}

bool SetModelOption(const std::string& option, const std::string& value,
                    ModelParameters* parameters, std::string* error) {
    if (const ParameterInfo* info = FindParameterByOption(option))
        return SetFromText(*info, option, value, parameters, error);
    if (option != kMapOption) {
        *error = "unknown option " + option;
        return false;
    }
    // --map RxC: the map's rows and columns, each checked as its own option.
    const ParameterInfo& rows = *FindParameter("mapRows");
    const ParameterInfo& columns = *FindParameter("mapColumns");
    const std::size_t x = value.find('x');
    ModelParameters changed = *parameters;
    std::string ignored;
    if (x == std::string::npos ||
        !SetFromText(rows, option, value.substr(0, x), &changed, &ignored) ||
        !SetFromText(columns, option, value.substr(x + 1), &changed, &ignored)) {
        *error = "option --map needs ROWSxCOLUMNS, each " + DescribeAllowed(rows) +
                 ", e.g. 3x3, not \"" + value + "\"";
        return false;
    }
    *parameters = changed;
    return true;
}

bool CheckModelOptions(const ModelParameters& parameters, std::string* error) {
    const ParameterProblem problem = ValidateParameters(parameters);
    if (problem.ok()) return true;
    const ParameterInfo& info = *problem.parameter;
    std::string allowed = problem.allowed;
    // A rule between two parameters: name the other one's option.
    if (info.atLeast != nullptr && CheckParameterValue(info, problem.value).ok()) {
        const ParameterInfo& bound = *FindParameter(info.atLeast);
        allowed = std::string("at least ") + bound.option + " (" +
                  FormatParameterValue(GetParameter(parameters, bound)) + ")";
    }
    *error = "option " + std::string(info.option) + " needs " + allowed + ", not " +
             FormatParameterValue(problem.value);
    return false;
}

std::string ModelOptionsHelp() {
    const ModelParameters defaults;
    std::ostringstream s;
    const std::size_t indent = 24;
    Wrap(s, "  --map RxC",
         "the map of neurons per pixel, R x C: --map-rows R --map-columns C [" +
             FormatParameterValue(defaults.mapRows) + "x" +
             FormatParameterValue(defaults.mapColumns) + "]",
         indent);
    for (const ParameterInfo& info : ParameterTable()) {
        std::string text = std::string(info.help) + "; " + DescribeAllowed(info);
        if (info.atLeast != nullptr)
            text += std::string(", at least ") + FindParameter(info.atLeast)->option;
        if (*info.unit != '\0') text += std::string(" (") + info.unit + ")";
        text += " [" + FormatParameterValue(DefaultParameter(info)) + "]";
        Wrap(s, std::string("  ") + info.option + " " + info.placeholder, text, indent);
    }
    return s.str();
}

}  // namespace corvane::tools
