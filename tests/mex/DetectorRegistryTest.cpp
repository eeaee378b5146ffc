// The object ids: every id checked, stale ones from an earlier load told
// apart from deleted ones and never reaching another detector.
#include <memory>
#include <set>

#include <gtest/gtest.h>

#include "DetectorRegistry.h"

namespace corvane::gateway {
namespace {

std::unique_ptr<DetectorState> NewState() {
    return std::make_unique<DetectorState>(ModelParameters());
}

TEST(DetectorRegistry, HandsOutDistinctIdsAndFindsEachDetector) {
    DetectorRegistry registry(0x1234);
    std::set<std::uint64_t> ids;
    std::set<DetectorState*> states;
    for (int i = 0; i < 50; ++i) {
        auto state = NewState();
        states.insert(state.get());
        ids.insert(registry.Add(std::move(state)));
    }
    EXPECT_EQ(ids.size(), 50u);
    EXPECT_EQ(ids.count(0), 0u);
    EXPECT_EQ(registry.size(), 50u);
    std::set<DetectorState*> found;
    for (std::uint64_t id : ids) {
        EXPECT_EQ(registry.Status(id), IdStatus::Live);
        found.insert(registry.Find(id));
    }
    EXPECT_EQ(found, states);
}

TEST(DetectorRegistry, ADeletedIdStaysDeletedAndIsNotReused) {
    DetectorRegistry registry(7);
    const std::uint64_t first = registry.Add(NewState());
    EXPECT_TRUE(registry.Remove(first));
    EXPECT_FALSE(registry.Remove(first));
    EXPECT_EQ(registry.Status(first), IdStatus::Deleted);
    EXPECT_EQ(registry.Find(first), nullptr);
    const std::uint64_t second = registry.Add(NewState());
    EXPECT_NE(second, first);
    EXPECT_EQ(registry.Status(first), IdStatus::Deleted);
    EXPECT_EQ(registry.size(), 1u);
}

TEST(DetectorRegistry, AnIdFromAnEarlierLoadNeverReachesTodaysDetector) {
    DetectorRegistry before(NewSession());
    const std::uint64_t old = before.Add(NewState());
    // The MEX file is unloaded and loaded again: a new registry, and its first
    // detector gets the same serial as the old one.
    DetectorRegistry after(NewSession());
    ASSERT_NE(after.session(), before.session());
    const std::uint64_t fresh = after.Add(NewState());
    EXPECT_EQ(fresh & 0xFFFFFFFFu, old & 0xFFFFFFFFu);
    EXPECT_EQ(after.Status(old), IdStatus::EarlierLoad);
    EXPECT_EQ(after.Find(old), nullptr);
    EXPECT_FALSE(after.Remove(old));
    EXPECT_EQ(after.Status(fresh), IdStatus::Live);
}

TEST(DetectorRegistry, IdsNeverHandedOutAreNotIds) {
    DetectorRegistry registry(99);
    EXPECT_EQ(registry.Status(0), IdStatus::NotAnId);
    const std::uint64_t id = registry.Add(NewState());
    EXPECT_EQ(registry.Status(id + 1), IdStatus::NotAnId);
    EXPECT_EQ(registry.Status(std::uint64_t{99} << 32), IdStatus::NotAnId);
    EXPECT_EQ(registry.Status(12345), IdStatus::NotAnId);  // session 0
}

TEST(DetectorRegistry, SessionsDifferFromLoadToLoad) {
    std::set<std::uint32_t> sessions;
    for (int i = 0; i < 200; ++i) sessions.insert(NewSession());
    EXPECT_EQ(sessions.count(0), 0u);
    EXPECT_GE(sessions.size(), 199u);
}

}  // namespace
}  // namespace corvane::gateway
