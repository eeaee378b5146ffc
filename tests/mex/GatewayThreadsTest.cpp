// CORVANE_THREADS as users write it.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "GatewayThreads.h"

namespace corvane::gateway {
namespace {

int Parsed(const char* text) {
    int threads = -1;
    const GatewayError error = ParseThreadSetting(text, &threads);
    EXPECT_FALSE(error.raised()) << text << ": " << error.message;
    return threads;
}

TEST(ThreadSetting, UnsetOrBlankMeansEveryThreadAndNumbersAreTaken) {
    EXPECT_EQ(Parsed(nullptr), 0);
    EXPECT_EQ(Parsed(""), 0);
    EXPECT_EQ(Parsed("  "), 0);
    EXPECT_EQ(Parsed("0"), 0);
    EXPECT_EQ(Parsed("1"), 1);
    EXPECT_EQ(Parsed(" 8\n"), 8);
    EXPECT_EQ(Parsed("0003"), 3);
    EXPECT_EQ(Parsed(std::to_string(kMaxThreads).c_str()), kMaxThreads);
}

TEST(ThreadSetting, AnythingElseIsAnErrorThatQuotesTheValue) {
    const std::string oneTooMany = std::to_string(kMaxThreads + 1);
    for (const char* text : {"-1", oneTooMany.c_str(), "1025", "99999999999999999999", "2.5", "two", "2 threads",
                             "+4", "0x10", "1e3"}) {
        int threads = 7;
        const GatewayError error = ParseThreadSetting(text, &threads);
        EXPECT_STREQ(error.identifier, "Corvane:badThreads") << text;
        EXPECT_NE(std::strstr(error.message, "CORVANE_THREADS"), nullptr) << text;
        EXPECT_EQ(threads, 7) << text << ": the count must stay as it was";
    }
    int threads = 0;
    const GatewayError long_ = ParseThreadSetting(
        "a very long value that goes on and on well past what the message quotes", &threads);
    EXPECT_NE(std::strstr(long_.message, "...\""), nullptr) << long_.message;
}

TEST(ThreadSetting, IsReadFromTheEnvironmentAtEveryCall) {
    int threads = -1;
    ASSERT_EQ(setenv("CORVANE_THREADS", "3", 1), 0);
    EXPECT_FALSE(ThreadsFromEnvironment(&threads).raised());
    EXPECT_EQ(threads, 3);
    ASSERT_EQ(setenv("CORVANE_THREADS", "many", 1), 0);
    EXPECT_TRUE(ThreadsFromEnvironment(&threads).raised());
    ASSERT_EQ(unsetenv("CORVANE_THREADS"), 0);
    EXPECT_FALSE(ThreadsFromEnvironment(&threads).raised());
    EXPECT_EQ(threads, 0);
}

}  // namespace
}  // namespace corvane::gateway
