// The command's model options come from the parameter table alone: every
// entry, and any entry added later, is an option in the help, the parser, the
// validation and the run record, without a line written for it here or in
// the command.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandLine.h"
#include "ModelOptions.h"
#include "ParameterTable.h"
#include "ToolsTestSupport.h"

namespace corvane::tools::test {
namespace {

// A valid value other than the default: above it (halfway to the top for
// numbers), so that "at least" rules between parameters keep holding.
double OtherValue(const ParameterInfo& info) {
    const double d = DefaultParameter(info);
    if (info.kind == ParameterKind::Whole) return d + (info.odd ? 2 : 1);
    return (d + info.high) / 2;
}

// Runs of white space as one space, so wrapped help reads as one line.
std::string Squeeze(const std::string& text) {
    std::istringstream in(text);
    std::string word, out;
    while (in >> word) out += (out.empty() ? "" : " ") + word;
    return out;
}

TEST(ModelOptionsTest, HelpListsEveryParameterWithItsRangeUnitAndDefault) {
    const std::string help = HelpText();
    for (const ParameterInfo& info : ParameterTable()) {
        SCOPED_TRACE(info.name);
        const std::string head = std::string("\n  ") + info.option + " " + info.placeholder;
        const std::size_t at = help.find(head);
        ASSERT_NE(at, std::string::npos);
        // This option's lines: up to the next line that starts an option.
        const std::size_t end = help.find("\n  -", at + 1);
        const std::string text = Squeeze(help.substr(at, end - at));
        EXPECT_NE(text.find(Squeeze(info.help)), std::string::npos) << text;
        EXPECT_NE(text.find(DescribeAllowed(info)), std::string::npos) << text;
        EXPECT_NE(text.find(info.unit), std::string::npos) << text;
        EXPECT_NE(text.find("[" + FormatParameterValue(DefaultParameter(info)) + "]"),
                  std::string::npos)
            << text;
    }
    for (std::istringstream lines(help); !lines.eof();) {
        std::string line;
        std::getline(lines, line);
        EXPECT_LE(line.size(), 80u) << line;  // an 80-column terminal
    }
}

TEST(ModelOptionsTest, EveryParameterIsAnOptionCheckedAgainstItsRange) {
    for (const ParameterInfo& info : ParameterTable()) {
        SCOPED_TRACE(info.name);
        EXPECT_TRUE(IsModelOption(info.option));
        ModelParameters parameters;
        std::string error;
        const double value = OtherValue(info);
        ASSERT_TRUE(SetModelOption(info.option, FormatParameterValue(value), &parameters, &error))
            << error;
        EXPECT_EQ(GetParameter(parameters, info), value);

        for (const std::string& bad : {FormatParameterValue(info.high + 1), std::string("many")}) {
            EXPECT_FALSE(SetModelOption(info.option, bad, &parameters, &error)) << bad;
            EXPECT_EQ(error, "option " + std::string(info.option) + " needs " +
                                 DescribeAllowed(info) + ", not \"" + bad + "\"");
            EXPECT_EQ(GetParameter(parameters, info), value);
        }
    }
    for (const char* other : {"--quiet", "--method", "--sheet", "--max-frames", "--frobnicate"})
        EXPECT_FALSE(IsModelOption(other)) << other;
}

TEST(ModelOptionsTest, MapSetsRowsAndColumnsWithinTheirRanges) {
    ModelParameters parameters;
    std::string error;
    ASSERT_TRUE(SetModelOption("--map", "2x5", &parameters, &error)) << error;
    EXPECT_EQ(parameters.mapRows, 2);
    EXPECT_EQ(parameters.mapColumns, 5);
    for (const char* bad : {"9x3", "3x0", "3by3", "3x", "x3", "2.5x2"}) {
        EXPECT_FALSE(SetModelOption("--map", bad, &parameters, &error)) << bad;
        EXPECT_NE(error.find("a whole number from 1 to 8"), std::string::npos) << error;
        EXPECT_EQ(parameters.mapRows, 2);
        EXPECT_EQ(parameters.mapColumns, 5);
    }
}

TEST(ModelOptionsTest, RulesBetweenOptionsNameBothOptions) {
    ModelParameters parameters;
    std::string error;
    ASSERT_TRUE(SetModelOption("--maximum-variance", "1000", &parameters, &error));
    EXPECT_FALSE(CheckModelOptions(parameters, &error));
    EXPECT_EQ(error, "option --variance-limit needs at least --maximum-variance (1000), not 900");
    ASSERT_TRUE(SetModelOption("--variance-limit", "1000", &parameters, &error));
    EXPECT_TRUE(CheckModelOptions(parameters, &error)) << error;
}

// One run with every parameter away from its default: the run record lists
// every one with the value given, and the OpenCV methods refuse each.
TEST(ModelOptionsTest, EveryOptionReachesTheRunRecordAndOnlyTheModel) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "in");
    WriteSceneImages(folder / "in", "f%03d.png", 1, 3);
    const std::string input = folder / "in/f%03d.png", out = folder / "out";
    std::vector<std::string> args{"segment", input, out, "--quiet"};
    ModelParameters expected;
    std::string err;
    for (const ParameterInfo& info : ParameterTable()) {
        const std::string value = FormatParameterValue(OtherValue(info));
        args.insert(args.end(), {info.option, value});
        ASSERT_TRUE(SetParameter(expected, info, OtherValue(info)).ok());
        EXPECT_EQ(Corvane({"segment", input, out, "--method", "mog2", info.option, value}, nullptr,
                          &err),
                  2)
            << info.option;
        EXPECT_NE(err.find("model options"), std::string::npos) << err;
    }
    ASSERT_EQ(Corvane(args, nullptr, &err), 0) << err;
    std::ifstream in(folder / "out/corvane-run.txt");
    std::stringstream record;
    record << in.rdbuf();
    EXPECT_NE(record.str().find("\n" + DescribeParameters(expected)), std::string::npos)
        << record.str();
    for (const ParameterInfo& info : ParameterTable())
        EXPECT_NE(record.str().find(std::string("\n") + (info.option + 2) + " " +
                                    FormatParameterValue(OtherValue(info)) + "\n"),
                  std::string::npos)
            << info.name;
}

}  // namespace
}  // namespace corvane::tools::test
