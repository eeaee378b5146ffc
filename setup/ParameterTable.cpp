#include "ParameterTable.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <type_traits>
#include <utility>

#include "UpdateModel.h"

namespace corvane {

namespace {

using P = ModelParameters;
constexpr ParameterKind kWhole = ParameterKind::Whole;
constexpr ParameterKind kReal = ParameterKind::Real;
constexpr double kLargestWhole = 2147483647.0;
// The largest variance a colour channel of 0..255 can have is below 255^2.
constexpr double kLargestVariance = 65025.0;

// Map sides up to 8 keep the model of a 1280x720 video within about 2 GB
// (K = 64 neurons of four doubles per pixel); the median filter's side is
// bounded likewise by what makes sense on a mask.
constexpr ParameterInfo kTable[] = {
    {"mapRows", "--map-rows", "map_rows", "N", kWhole, &P::mapRows, nullptr, 1, true, 8, true,
     false, nullptr, "neurons", "rows of each pixel's map of neurons (K = rows x columns)"},
    {"mapColumns", "--map-columns", "map_columns", "N", kWhole, &P::mapColumns, nullptr, 1, true,
     8, true, false, nullptr, "neurons", "columns of each pixel's map of neurons"},
    {"initialFrames", "--init-frames", "initial_frames", "N", kWhole, &P::initialFrames, nullptr, 1,
     true, 100, true, false, nullptr, "frames",
     "while frame t <= N is segmented the model is built from the median and spread of frames 1..t (nothing is read ahead; frames 1..N are kept until frame N, 24 bytes a pixel each, 8 MB a 720x480 frame; the start's work grows with the square of N: N = 100 takes about a minute at 320x240)"},
    {"initialSpread", "--spread", "initial_spread", "D", kReal, nullptr, &P::initialSpread, 0, true,
     255, true, false, nullptr, "colour units",
     "starting neuron means spread evenly over the starting colour +-D"},
    {"initialVariance", "--initial-variance", "initial_variance", "V", kReal, nullptr,
     &P::initialVariance, 0, true, kLargestVariance, true, false, nullptr, "squared colour units",
     "least starting variance of a neuron"},
    {"maximumVariance", "--maximum-variance", "maximum_variance", "V", kReal, nullptr,
     &P::maximumVariance, 0, true, kLargestVariance, true, false, nullptr, "squared colour units",
     "cap on the neuron variances of a pixel steady in the leading frames"},
    {"varianceCapFactor", "--cap-factor", "variance_cap_factor", "F", kReal, nullptr,
     &P::varianceCapFactor, 0, true, 100, true, false, nullptr, "",
     "a pixel that varied in them gets F times its variance there as its cap"},
    {"maximumVarianceLimit", "--variance-limit", "maximum_variance_limit", "V", kReal, nullptr,
     &P::maximumVarianceLimit, 0, true, kLargestVariance, true, false, "maximumVariance",
     "squared colour units", "no cap on a neuron's variance above this"},
    {"minimumVariance", "--minimum-variance", "minimum_variance", "V", kReal, nullptr,
     &P::minimumVariance, 0, false, kLargestVariance, true, false, nullptr, "squared colour units",
     "variance floor inside the density (camera noise, compression)"},
    {"initialPrior", "--prior", "initial_prior", "P", kReal, nullptr, &P::initialPrior, 0, false, 1,
     false, false, nullptr, "probability", "starting foreground prior of every pixel"},
    {"stepSize", "--step-size", "step_size", "C", kReal, nullptr, &P::stepSize, 0, true, 1, true,
     false, nullptr, "per frame",
     "learning rate of the prior, the indicator variance and the covariances"},
    {"initialIndicatorVariance", "--indicator-variance", "initial_indicator_variance", "V", kReal,
     nullptr, &P::initialIndicatorVariance, 0, false, 0.25, true, false, nullptr, "",
     "starting variance of the foreground indicator, and its covariance with each neighbour"},
    {"learningRate", "--learning-rate", "learning_rate", "A", kReal, nullptr, &P::learningRate, 0,
     true, 1, true, false, nullptr, "per frame", "learning rate of the winning neuron"},
    {"neighborhoodWidth", "--width", "neighborhood_width", "S", kReal, nullptr,
     &P::neighborhoodWidth, 0, true, 100, true, false, nullptr, "map cells",
     "width of the learning rate's spread over the map, 0 = the winner alone"},
    {"calibrationFrames", "--calibration-frames", "calibration_frames", "N", kWhole,
     &P::calibrationFrames, nullptr, 0, true, kLargestWhole, true, false, nullptr, "frames",
     "frames at the start that learn faster, 0 = none"},
    {"calibrationRate", "--calibration-rate", "calibration_rate", "R", kReal, nullptr,
     &P::calibrationRate, 0, true, 100, true, false, nullptr, "",
     "learning rate during them: max(learning rate, R / frame number)"},
    {"maskThreshold", "--threshold", "mask_threshold", "T", kReal, nullptr, &P::maskThreshold, 0,
     true, 1, true, false, nullptr, "probability",
     "foreground where the smoothed probability exceeds T"},
    {"medianSize", "--median", "median_size", "K", kWhole, &P::medianSize, nullptr, 1, true, 31,
     true, true, nullptr, "pixels", "K x K median filter on the mask, 1 = none"},
    {"medianShare", "--median-share", "median_share", "S", kReal, nullptr, &P::medianShare, 0, true,
     1, true, false, nullptr, "share of the image",
     "the median filter grows with the frame: the largest odd side from K to 31 whose window holds at most S of the frame's pixels, 0 = always K"},
    {"priorFloor", "--prior-floor", "prior_floor", "P", kReal, nullptr, &P::priorFloor, 0, true,
     1, false, false, nullptr, "probability",
     "between frames the prior is kept at least P (no blindness after long quiet)"},
    {"priorCeiling", "--prior-ceiling", "prior_ceiling", "P", kReal, nullptr, &P::priorCeiling, 0,
     false, 1, true, false, "priorFloor", "probability",
     "... and at most P (a pixel covered for long can return to background)"},
    {"flickerStep", "--flicker-step", "flicker_step", "S", kReal, nullptr, &P::flickerStep, 0, true,
     1, true, false, nullptr, "",
     "the running median of each pixel's frame-to-frame change moves by the ratio 1 + S per frame; 0 = off"},
    {"flickerCapFactor", "--flicker-cap", "flicker_cap_factor", "F", kReal, nullptr,
     &P::flickerCapFactor, 0, true, 1000, true, false, nullptr, "",
     "a flickering pixel's variance cap is raised to F times its flicker above the noise"},
    {"neighborRadius", "--neighbor-radius", "neighbor_radius", "R", kWhole, &P::neighborRadius,
     nullptr, 0, true, 3, true, false, nullptr, "pixels",
     "a pixel whose colour the backgrounds of pixels within R hold is background, 0 = no such test"},
    {"neighborMatch", "--neighbor-match", "neighbor_match", "M", kReal, nullptr,
     &P::neighborMatch, 0, false, 100, true, false, nullptr, "",
     "a neuron holds a colour within M times its variance (squared distance)"},
    {"neighborCount", "--neighbor-count", "neighbor_count", "N", kWhole, &P::neighborCount, nullptr,
     1, true, 48, true, false, nullptr, "pixels", "... held by N pixels (one, where the pixel is still)"},
    {"interiorGaps", "--interior-gaps", "interior_gaps", "N", kWhole, &P::interiorGaps, nullptr, 0,
     true, 48, true, false, nullptr, "pixels",
     "a pixel whose neighbours' window has at most N pixels at or below the threshold is inside an object"},
    {"interiorBlink", "--interior-blink", "interior_blink", "B", kReal, nullptr, &P::interiorBlink, 0,
     true, 1, true, false, nullptr, "blink rate",
     "inside an object a pixel blinking less than B stays foreground, 0 = the neighbour test everywhere"},
    {"absorbFrames", "--absorb-frames", "absorb_frames", "N", kWhole, &P::absorbFrames, nullptr, 0,
     true, 100000, true, false, nullptr, "frames",
     "a pixel still for N frames and explained by a neighbour takes the colour into its model, 0 = never"},
    {"staticShare", "--static-share", "static_share", "S", kReal, nullptr, &P::staticShare, 0, true,
     1, false, false, nullptr, "share of the frames",
     "a foreground pixel still for S of the frames so far is absorbed (ghosts), 0 = never"},
    {"holeShare", "--hole-share", "hole_share", "S", kReal, nullptr, &P::holeShare, 0, true, 1, true,
     false, nullptr, "share of the image", "holes in the foreground up to S of the image are filled, 0 = none"},
    {"closingSize", "--closing", "closing_size", "K", kWhole, &P::closingSize, nullptr, 1, true, 31,
     true, true, nullptr, "pixels",
     "K x K closing of the mask before its holes are filled (fills narrow notches), 1 = none"},
    {"blinkRate", "--blink-rate", "blink_rate", "R", kReal, nullptr, &P::blinkRate, 0, true, 1, true,
     false, nullptr, "per frame", "how fast each pixel's blink rate follows its decisions, 0 = no feedback"},
    {"blinkThreshold", "--blink-threshold", "blink_threshold", "G", kReal, nullptr,
     &P::blinkThreshold, 0, true, 100, true, false, nullptr, "probability",
     "a pixel's threshold rises by G times its blink rate"},
    {"shadows", "--shadows", "shadows", "B", kWhole, &P::shadows, nullptr, 0, true, 1, true, false,
     nullptr, "", "1: darker copies of the background are shadows, not foreground"},
    {"shadowLow", "--shadow-low", "shadow_low", "A", kReal, nullptr, &P::shadowLow, 0, true, 1,
     true, false, nullptr, "brightness ratio", "darkest shadow, as a share of the background"},
    {"shadowHigh", "--shadow-high", "shadow_high", "A", kReal, nullptr, &P::shadowHigh, 0, true,
     1, true, false, "shadowLow", "brightness ratio", "lightest shadow"},
    {"shadowDistortion", "--shadow-distortion", "shadow_distortion", "D", kReal, nullptr,
     &P::shadowDistortion, 0, true, 1000, true, false, nullptr, "",
     "a shadow's colour lies off its background's by less than D times the variance"},
    {"shadowValue", "--shadow-value", "shadow_value", "V", kWhole, &P::shadowValue, nullptr, 0,
     true, 254, true, false, nullptr, "",
     "the mask's value for a shadow (0: background; OpenCV's subtractors use 127)"},
};
constexpr std::size_t kCount = sizeof(kTable) / sizeof(kTable[0]);

// The number of members of an aggregate: the most initialisers it takes. A
// member added to ModelParameters without an entry here stops the build.
struct AnyValue {
    template <class U>
    operator U() const;
};
template <class T, class Indices, class = void>
struct TakesInitialisers : std::false_type {};
template <class T, std::size_t... I>
struct TakesInitialisers<T, std::index_sequence<I...>,
                         std::void_t<decltype(T{(void(I), AnyValue{})...})>> : std::true_type {};
template <class T, std::size_t n = 0>
constexpr std::size_t MemberCount() {
    if constexpr (TakesInitialisers<T, std::make_index_sequence<n + 1>>::value)
        return MemberCount<T, n + 1>();
    else
        return n;
}
static_assert(MemberCount<ModelParameters>() == kCount,
              "every member of ModelParameters needs its entry in the parameter table");

// "<name> must be <allowed>; it is <value>".
ParameterProblem OutOfRange(const ParameterInfo& info, double value, const std::string& allowed) {
    ParameterProblem problem;
    problem.parameter = &info;
    problem.name = info.name;
    problem.value = value;
    problem.allowed = allowed;
    problem.message = problem.name + " must be " + allowed + "; it is " + FormatParameterValue(value);
    return problem;
}

const ParameterInfo* FindBy(const char* ParameterInfo::*field, const std::string& text) {
    for (const ParameterInfo& info : kTable)
        if (text == info.*field) return &info;
    return nullptr;
}

}  // namespace

ParameterList ParameterTable() { return ParameterList{kTable, kCount}; }

const ParameterInfo* FindParameter(const std::string& name) {
    return FindBy(&ParameterInfo::name, name);
}
const ParameterInfo* FindParameterByOption(const std::string& option) {
    return FindBy(&ParameterInfo::option, option);
}
const ParameterInfo* FindParameterByPythonName(const std::string& pythonName) {
    return FindBy(&ParameterInfo::pythonName, pythonName);
}

double GetParameter(const ModelParameters& parameters, const ParameterInfo& info) {
    return info.kind == ParameterKind::Whole ? static_cast<double>(parameters.*info.whole)
                                             : parameters.*info.real;
}

double DefaultParameter(const ParameterInfo& info) { return GetParameter(ModelParameters(), info); }

std::string FormatParameterValue(double value) {
    char text[40];
    // Whole numbers in full ("900", not "9e+02").
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
        return text;
    }
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, value);
        if (!std::isfinite(value) || std::strtod(text, nullptr) == value) break;
    }
    return text;
}

std::string DescribeAllowed(const ParameterInfo& info) {
    const std::string low = FormatParameterValue(info.low);
    const std::string high = FormatParameterValue(info.high);
    if (info.kind == ParameterKind::Whole)
        return std::string(info.odd ? "an odd" : "a") + " whole number from " + low + " to " + high;
    if (info.lowInclusive && info.highInclusive) return "a number from " + low + " to " + high;
    return std::string("a number ") + (info.lowInclusive ? "of at least " : "above ") + low +
           " and " + (info.highInclusive ? "at most " : "below ") + high;
}

ParameterProblem CheckParameterValue(const ParameterInfo& info, double value) {
    const bool inside = std::isfinite(value) &&
                        (info.lowInclusive ? value >= info.low : value > info.low) &&
                        (info.highInclusive ? value <= info.high : value < info.high);
    const bool whole = info.kind != ParameterKind::Whole || value == std::trunc(value);
    const bool odd = !info.odd || std::fmod(value, 2.0) != 0.0;
    if (inside && whole && odd) return ParameterProblem();
    return OutOfRange(info, value, DescribeAllowed(info));
}

ParameterProblem SetParameter(ModelParameters& parameters, const ParameterInfo& info, double value) {
    ParameterProblem problem = CheckParameterValue(info, value);
    if (!problem.ok()) return problem;
    if (info.kind == ParameterKind::Whole)
        parameters.*info.whole = static_cast<std::int32_t>(value);
    else
        parameters.*info.real = value;
    return problem;
}

ParameterProblem SetParameter(ModelParameters& parameters, const std::string& name, double value) {
    const ParameterInfo* info = FindParameter(name);
    if (info == nullptr) {
        ParameterProblem problem;
        problem.name = name;
        problem.value = value;
        problem.message = "unknown parameter \"" + name + "\"";
        return problem;
    }
    return SetParameter(parameters, *info, value);
}

ParameterProblem ValidateParameters(const ModelParameters& parameters) {
    for (const ParameterInfo& info : kTable) {
        ParameterProblem problem = CheckParameterValue(info, GetParameter(parameters, info));
        if (!problem.ok()) return problem;
    }
    for (const ParameterInfo& info : kTable) {
        if (info.atLeast == nullptr) continue;
        const double value = GetParameter(parameters, info);
        const double bound = GetParameter(parameters, *FindParameter(info.atLeast));
        if (value >= bound) continue;
        return OutOfRange(info, value,
                          std::string("at least ") + info.atLeast + " (" +
                              FormatParameterValue(bound) + ")");
    }
    return ParameterProblem();
}

InvalidParameters::InvalidParameters(ParameterProblem problem)
    : std::invalid_argument("invalid model parameters: " + problem.message),
      problem_(std::move(problem)) {}

void RequireValidParameters(const ModelParameters& parameters) {
    ParameterProblem problem = ValidateParameters(parameters);
    if (!problem.ok()) throw InvalidParameters(std::move(problem));
}

std::string DescribeParameters(const ModelParameters& parameters) {
    std::ostringstream s;
    for (const ParameterInfo& info : kTable)
        s << (info.option + 2) << " " << FormatParameterValue(GetParameter(parameters, info))
          << "\n";
    return s.str();
}

bool IsThreadCount(double value) {
    return value >= 0 && value <= kMaxThreads && value == std::trunc(value);
}

std::string DescribeThreadCounts() {
    return "a whole number from 0 to " + std::to_string(kMaxThreads) +
           " (0: every hardware thread)";
}

}  // namespace corvane
