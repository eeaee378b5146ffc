#include "NeighborOffsets.h"

namespace corvane {

// Both functions work on 1-based row r1 and column c1. With H = 1 the diagonal
// offsets 1 - H and H - 1 come out as 0, which reads as absent: a single-row
// image has no diagonal neighbours.

void ComputeBackwardOffsets(NeighborOffsets& offsets, std::int32_t p, std::int32_t H) {
    const std::int32_t r1 = p % H + 1;
    const std::int32_t c1 = p / H + 1;
    offsets.slot[0] = 0;
    offsets.slot[1] = 0;
    offsets.slot[2] = 0;
    offsets.slot[3] = 0;
    if (r1 > 1 && c1 > 1) {
        offsets.slot[0] = -1;
        offsets.slot[1] = -H - 1;
        offsets.slot[2] = -H;
        if (r1 < H) offsets.slot[3] = 1 - H;
    } else if (r1 == 1 && c1 > 1) {
        offsets.slot[2] = -H;
        offsets.slot[3] = 1 - H;
    } else if (c1 == 1 && r1 > 1) {
        offsets.slot[0] = -1;
    }
}

void ComputeForwardOffsets(NeighborOffsets& offsets, std::int32_t p, std::int32_t H,
                           std::int32_t W) {
    const std::int32_t r1 = p % H + 1;
    const std::int32_t c1 = p / H + 1;
    offsets.slot[4] = 0;
    offsets.slot[5] = 0;
    offsets.slot[6] = 0;
    offsets.slot[7] = 0;
    if (r1 < H && c1 < W) {
        offsets.slot[4] = 1;
        offsets.slot[5] = H + 1;  // W >= 2 here, so H + 1 <= N fits
        offsets.slot[6] = H;
        if (r1 > 1) offsets.slot[7] = H - 1;
    } else if (r1 == H && c1 < W) {
        offsets.slot[6] = H;
        offsets.slot[7] = H - 1;
    } else if (c1 == W && r1 < H) {
        offsets.slot[4] = 1;
    }
}

}  // namespace corvane
