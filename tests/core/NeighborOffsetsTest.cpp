#include <cstdint>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "NeighborOffsets.h"

namespace corvane {
namespace {

using Pair = std::pair<std::int64_t, std::int64_t>;  // (earlier pixel, later pixel)

// The 8-adjacent pairs of an H x W image, from 2-D coordinates.
std::set<Pair> AdjacentPairs(int H, int W) {
    std::set<Pair> pairs;
    for (int c = 0; c < W; ++c)
        for (int r = 0; r < H; ++r)
            for (int dc = -1; dc <= 1; ++dc)
                for (int dr = -1; dr <= 1; ++dr) {
                    const int r2 = r + dr, c2 = c + dc;
                    if ((dr == 0 && dc == 0) || r2 < 0 || r2 >= H || c2 < 0 || c2 >= W) continue;
                    const std::int64_t a = std::int64_t(c) * H + r, b = std::int64_t(c2) * H + r2;
                    pairs.insert({std::min(a, b), std::max(a, b)});
                }
    return pairs;
}

TEST(NeighborOffsets, BackwardAndForwardLinksEachEnumerateTheAdjacentPairs) {
    for (int H = 1; H <= 6; ++H) {
        for (int W = 1; W <= 6; ++W) {
            SCOPED_TRACE(testing::Message() << "H=" << H << " W=" << W);
            const std::set<Pair> expected = AdjacentPairs(H, W);
            std::multiset<Pair> backward, forward;
            NeighborOffsets offsets;
            for (int p = 0; p < H * W; ++p) {
                ComputeBackwardOffsets(offsets, p, H);
                ComputeForwardOffsets(offsets, p, H, W);
                for (int k = 0; k < 4; ++k) {
                    if (const int o = offsets.slot[k]) {
                        ASSERT_LT(o, 0);
                        backward.insert({p + o, p});
                        // The opposite forward slot of the neighbour leads back here.
                        NeighborOffsets there;
                        ComputeForwardOffsets(there, p + o, H, W);
                        EXPECT_EQ(p + o + there.slot[4 + k], p);
                    }
                    if (const int o = offsets.slot[4 + k]) {
                        ASSERT_GT(o, 0);
                        forward.insert({p, p + o});
                    }
                }
            }
            // Multisets: a pair found twice, or a wrapped pair, fails the comparison.
            EXPECT_EQ(backward, std::multiset<Pair>(expected.begin(), expected.end()));
            EXPECT_EQ(forward, std::multiset<Pair>(expected.begin(), expected.end()));
        }
    }
}

TEST(NeighborOffsets, SlotsOfTypicalPixels) {
    NeighborOffsets offsets;
    // H = 2: pixel 3 is the last row of column 1, so it has no below-left.
    ComputeBackwardOffsets(offsets, 3, 2);
    EXPECT_EQ(offsets.slot[0], -1);
    EXPECT_EQ(offsets.slot[1], -3);
    EXPECT_EQ(offsets.slot[2], -2);
    EXPECT_EQ(offsets.slot[3], 0);
    // H = 1: only left and right, no diagonals.
    ComputeBackwardOffsets(offsets, 4, 1);
    ComputeForwardOffsets(offsets, 4, 1, 9);
    const std::int32_t row[8] = {0, 0, -1, 0, 0, 0, 1, 0};
    for (int s = 0; s < 8; ++s) EXPECT_EQ(offsets.slot[s], row[s]) << "slot " << s;
    // Slots are cleared, not merely set: a reused record forgets older pixels.
    ComputeBackwardOffsets(offsets, 0, 5);
    ComputeForwardOffsets(offsets, 24, 5, 5);
    for (int s = 0; s < 8; ++s) EXPECT_EQ(offsets.slot[s], 0) << "slot " << s;
}

}  // namespace
}  // namespace corvane
