// The detector object's options: the parameter table's names, ranges and
// rules, Threads, and the errors for everything else.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DetectorOptions.h"
#include "ParameterTable.h"

namespace corvane::gateway {
namespace {

OptionPair Number(const char* name, double value) {
    OptionPair pair;
    pair.name = name;
    pair.value.className = "double";
    pair.value.numeric = true;
    pair.value.count = 1;
    pair.value.value = value;
    return pair;
}

GatewayError Apply(std::vector<OptionPair> pairs, DetectorSettings* settings) {
    return ApplyOptions(pairs, settings);
}

TEST(DetectorOptions, DefaultsAreTheTablesAndNamesMatchInAnyCase) {
    DetectorSettings settings;
    ASSERT_FALSE(Apply({}, &settings).raised());
    for (const ParameterInfo& info : ParameterTable())
        EXPECT_EQ(GetParameter(settings.parameters, info), DefaultParameter(info)) << info.name;
    EXPECT_EQ(settings.threads, 0);

    ASSERT_FALSE(Apply({Number("LEARNINGRATE", 0.05), Number("medianSize", 3),
                        Number("threads", 2), Number("MapRows", 2)},
                       &settings)
                     .raised());
    EXPECT_EQ(settings.parameters.learningRate, 0.05);
    EXPECT_EQ(settings.parameters.medianSize, 3);
    EXPECT_EQ(settings.threads, 2);
    EXPECT_TRUE(settings.mapRowsGiven);
    EXPECT_FALSE(settings.mapColumnsGiven);
}

TEST(DetectorOptions, EveryParameterOfTheTableCanBeSetAndIsCheckedByIt) {
    for (const ParameterInfo& info : ParameterTable()) {
        DetectorSettings settings;
        // Just outside the allowed values, and not a number.
        const double outside = info.lowInclusive ? info.low - 1 : info.low;
        const GatewayError error = Apply({Number(info.name, outside)}, &settings);
        EXPECT_STREQ(error.identifier, "Corvane:badParameter") << info.name;
        EXPECT_NE(std::strstr(error.message, info.name), nullptr) << error.message;
        OptionPair text = Number(info.name, 0);
        text.value.numeric = false;
        text.value.className = "char";
        text.value.count = 4;
        EXPECT_STREQ(Apply({text}, &settings).identifier, "Corvane:badParameter") << info.name;
    }
}

TEST(DetectorOptions, RefusesUnknownNamesBadThreadsAndBrokenRules) {
    DetectorSettings settings;
    const GatewayError unknown = Apply({Number("learningrat", 0.1)}, &settings);
    EXPECT_STREQ(unknown.identifier, "Corvane:badParameter");
    EXPECT_NE(std::strstr(unknown.message, "learningrat"), nullptr);
    EXPECT_NE(std::strstr(unknown.message, "Threads"), nullptr) << "the message lists the options";
    for (double threads : {-1.0, 1.5, kMaxThreads + 1.0, 1025.0, 1e300}) {
        EXPECT_STREQ(Apply({Number("Threads", threads)}, &settings).identifier,
                     "Corvane:badParameter")
            << threads;
    }
    OptionPair several = Number("Threads", 2);
    several.value.count = 2;
    EXPECT_STREQ(Apply({several}, &settings).identifier, "Corvane:badParameter");
    OptionPair complexValue = Number("stepSize", 0.1);
    complexValue.value.isComplex = true;
    EXPECT_STREQ(Apply({complexValue}, &settings).identifier, "Corvane:badParameter");
    EXPECT_STREQ(Apply({Number("medianSize", 4)}, &settings).identifier, "Corvane:badParameter");
    // A rule between two parameters, checked once all are set.
    DetectorSettings fresh;
    EXPECT_STREQ(Apply({Number("maximumVarianceLimit", 50)}, &fresh).identifier,
                 "Corvane:badParameter");
    EXPECT_FALSE(Apply({Number("maximumVarianceLimit", 50), Number("maximumVariance", 50)}, &fresh)
                     .raised());
}

}  // namespace
}  // namespace corvane::gateway
