#include <cctype>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ModelSetup.h"
#include "ParameterTable.h"
#include "UpdateModel.h"

namespace corvane::test {
namespace {

std::string SnakeCase(const std::string& camel) {
    std::string snake;
    for (char c : camel) {
        if (std::isupper(static_cast<unsigned char>(c))) {
            snake += '_';
            snake += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            snake += c;
        }
    }
    return snake;
}

// A valid value other than the default, for every entry: above the default
// (halfway to the top for numbers), so that "at least" rules keep holding.
double OtherValue(const ParameterInfo& info) {
    const double d = DefaultParameter(info);
    if (info.kind == ParameterKind::Whole) return d + (info.odd ? 2 : 1);
    return (d + info.high) / 2;
}

TEST(ParameterTableTest, EveryEntryIsNamedOnceInEveryHostAndItsDefaultIsAllowed) {
    std::set<std::string> names, options, pythonNames;
    for (const ParameterInfo& info : ParameterTable()) {
        SCOPED_TRACE(info.name);
        EXPECT_TRUE(names.insert(info.name).second);
        EXPECT_TRUE(options.insert(info.option).second);
        EXPECT_TRUE(pythonNames.insert(info.pythonName).second);
        EXPECT_EQ(std::string(info.option).rfind("--", 0), 0u);
        EXPECT_EQ(info.pythonName, SnakeCase(info.name));
        EXPECT_EQ(FindParameter(info.name), &info);
        EXPECT_EQ(FindParameterByOption(info.option), &info);
        EXPECT_EQ(FindParameterByPythonName(info.pythonName), &info);
        EXPECT_TRUE(CheckParameterValue(info, DefaultParameter(info)).ok());
        EXPECT_NE(std::string(info.help), "");
        // Whole numbers: an int32 member and whole, inclusive ends inside int32.
        const bool whole = info.kind == ParameterKind::Whole;
        EXPECT_EQ(info.whole != nullptr, whole);
        EXPECT_EQ(info.real != nullptr, !whole);
        if (whole) {
            EXPECT_TRUE(info.lowInclusive && info.highInclusive);
            EXPECT_EQ(info.low, std::trunc(info.low));
            EXPECT_LE(info.high, double(std::numeric_limits<std::int32_t>::max()));
            EXPECT_GE(info.low, double(std::numeric_limits<std::int32_t>::min()));
        }
        EXPECT_FALSE(info.odd && !whole);
        if (info.atLeast != nullptr) {
            EXPECT_NE(FindParameter(info.atLeast), nullptr);
        }
    }
    EXPECT_TRUE(ValidateParameters(ModelParameters()).ok());
    EXPECT_EQ(FindParameter("MapRows"), nullptr);  // exact spelling only
}

// Each entry reads and writes its own member and no other.
TEST(ParameterTableTest, EachEntrySetsExactlyItsOwnMember) {
    for (const ParameterInfo& info : ParameterTable()) {
        SCOPED_TRACE(info.name);
        ModelParameters parameters;
        const double value = OtherValue(info);
        ASSERT_TRUE(SetParameter(parameters, info.name, value).ok());
        for (const ParameterInfo& other : ParameterTable())
            EXPECT_EQ(GetParameter(parameters, other),
                      &other == &info ? value : DefaultParameter(other))
                << other.name;
    }
}

TEST(ParameterTableTest, ValuesAtAndJustOutsideEachEndOfEveryRange) {
    for (const ParameterInfo& info : ParameterTable()) {
        SCOPED_TRACE(info.name);
        const bool whole = info.kind == ParameterKind::Whole;
        const double below = whole ? info.low - 1 : std::nextafter(info.low, -HUGE_VAL);
        const double above = whole ? info.high + 1 : std::nextafter(info.high, HUGE_VAL);
        const double inLow = whole ? info.low : std::nextafter(info.low, HUGE_VAL);
        const double inHigh = whole ? info.high : std::nextafter(info.high, -HUGE_VAL);
        EXPECT_EQ(CheckParameterValue(info, info.low).ok(), info.lowInclusive);
        EXPECT_EQ(CheckParameterValue(info, info.high).ok(), info.highInclusive);
        EXPECT_TRUE(CheckParameterValue(info, inLow).ok());
        EXPECT_TRUE(CheckParameterValue(info, inHigh).ok());
        for (double bad : {below, above, std::numeric_limits<double>::quiet_NaN(), HUGE_VAL,
                           -HUGE_VAL}) {
            ModelParameters parameters;
            const ParameterProblem problem = SetParameter(parameters, info.name, bad);
            EXPECT_FALSE(problem.ok()) << bad;
            EXPECT_EQ(problem.parameter, &info);
            EXPECT_EQ(problem.allowed, DescribeAllowed(info));
            EXPECT_EQ(GetParameter(parameters, info), DefaultParameter(info)) << "changed by " << bad;
        }
        if (whole) {
            EXPECT_FALSE(CheckParameterValue(info, inLow + 0.5).ok());
        }
        if (info.odd) {
            EXPECT_FALSE(CheckParameterValue(info, inLow + 1).ok());
        }
    }
}

TEST(ParameterTableTest, ProblemsNameTheParameterItsRangeAndTheValue) {
    ModelParameters parameters;
    ParameterProblem problem = SetParameter(parameters, "medianSize", 4);
    EXPECT_EQ(problem.message, "medianSize must be an odd whole number from 1 to 31; it is 4");
    problem = SetParameter(parameters, "initialPrior", 1);
    EXPECT_EQ(problem.message, "initialPrior must be a number above 0 and below 1; it is 1");
    problem = SetParameter(parameters, "noSuchThing", 1);
    EXPECT_EQ(problem.parameter, nullptr);
    EXPECT_EQ(problem.message, "unknown parameter \"noSuchThing\"");

    // The first problem in table order; then the rule between two values.
    parameters.stepSize = -0.5;
    parameters.medianSize = 2;
    EXPECT_EQ(ValidateParameters(parameters).name, "stepSize");
    parameters = ModelParameters();
    parameters.maximumVariance = 1000;  // above the default limit of 900
    problem = ValidateParameters(parameters);
    EXPECT_EQ(problem.name, "maximumVarianceLimit");
    EXPECT_EQ(problem.value, 900);
    EXPECT_EQ(problem.message,
              "maximumVarianceLimit must be at least maximumVariance (1000); it is 900");
    parameters.maximumVarianceLimit = 1000;
    EXPECT_TRUE(ValidateParameters(parameters).ok());
}

TEST(ParameterTableTest, BuildersRefuseWhatValidationRefuses) {
    const std::vector<double> frame(3 * 4, 100.0);  // 2 x 2
    ModelParameters bad;
    bad.stepSize = 1.5;
    EXPECT_THROW(BuildInitialModel(bad, frame.data(), 2, 2), InvalidParameters);
    EXPECT_THROW(BuildNeighborhoodMatrix(bad), InvalidParameters);
    EXPECT_THROW(NeighborhoodMatrixForFrame(bad, 1), InvalidParameters);
    try {
        BuildInitialModelFromFrames(bad, {frame.data()}, 2, 2);
        ADD_FAILURE() << "no exception";
    } catch (const InvalidParameters& e) {
        EXPECT_EQ(e.problem().name, "stepSize");
        EXPECT_NE(std::string(e.what()).find("stepSize must be"), std::string::npos);
    }
    const ModelParameters good;
    EXPECT_THROW(BuildInitialModel(good, frame.data(), 0, 2), std::invalid_argument);
    EXPECT_THROW(BuildInitialModel(good, frame.data(), 2, -1), std::invalid_argument);
    EXPECT_THROW(BuildInitialModelFromFrames(good, {frame.data()}, 65536, 65536),
                 std::invalid_argument);
    FrameStatistics wrongSize;
    wrongSize.median.assign(3 * 4, 0.0);
    wrongSize.variance.assign(3, 0.0);
    EXPECT_THROW(BuildInitialModelFromStatistics(good, wrongSize, 2, 2), std::invalid_argument);
}

// The calibration rate may put the winner's rate for a frame above the range
// of learningRate; that is a valid schedule, not an invalid parameter.
TEST(ParameterTableTest, CalibrationRatesAboveTheLearningRateRangeAreScheduled) {
    ModelParameters parameters;
    parameters.mapRows = parameters.mapColumns = 1;
    parameters.calibrationFrames = 3;
    parameters.calibrationRate = 4;  // frame 1: rate 4, frame 2: 2, frame 3: 4/3
    ASSERT_TRUE(ValidateParameters(parameters).ok());
    EXPECT_EQ(NeighborhoodMatrixForFrame(parameters, 1), std::vector<double>{4.0});
    EXPECT_EQ(NeighborhoodMatrixForFrame(parameters, 2), std::vector<double>{2.0});
    EXPECT_EQ(NeighborhoodMatrixForFrame(parameters, 4), std::vector<double>{0.02});
}

TEST(ParameterTableTest, ValuesAreWrittenShortAndReadBackExactly) {
    EXPECT_EQ(FormatParameterValue(0.05), "0.05");
    EXPECT_EQ(FormatParameterValue(2147483647), "2147483647");
    EXPECT_EQ(FormatParameterValue(1e-6), "1e-06");
    for (double v : {1.0 / 3.0, 0.1 + 0.2, 4.9406564584124654e-324, 65024.999999999993, -2.5})
        EXPECT_EQ(std::strtod(FormatParameterValue(v).c_str(), nullptr), v) << v;
}

TEST(ThreadCounts, AreWholeNumbersFromZeroToTheCoresCap) {
    EXPECT_TRUE(IsThreadCount(0));
    EXPECT_TRUE(IsThreadCount(kMaxThreads));
    EXPECT_FALSE(IsThreadCount(kMaxThreads + 1));
    EXPECT_FALSE(IsThreadCount(-1));
    EXPECT_FALSE(IsThreadCount(1.5));
    EXPECT_FALSE(IsThreadCount(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(DescribeThreadCounts(),
              "a whole number from 0 to " + std::to_string(kMaxThreads) +
                  " (0: every hardware thread)");
}

}  // namespace
}  // namespace corvane::test
