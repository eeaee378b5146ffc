// The 8-connected neighbours of a pixel as linear-index offsets, split into the
// four that come earlier in the column-major scan (backward) and the four that
// come later (forward). The backward slot numbers are also the slot numbers of
// Cov and of the correlation table.
#pragma once

#include <cstdint>

namespace corvane {

// Slot  kind      neighbour                 offset
//  0    backward  above        (r-1)        -1
//  1    backward  above-left   (r-1, c-1)   -H - 1
//  2    backward  left         (c-1)        -H
//  3    backward  below-left   (r+1, c-1)   1 - H
//  4    forward   below        (r+1)        +1
//  5    forward   below-right  (r+1, c+1)   H + 1
//  6    forward   right        (c+1)        H
//  7    forward   above-right  (r-1, c+1)   H - 1
// 0 marks an absent neighbour. Forward slot 4+k of p reaching n means backward
// slot k of n reaches p.
struct NeighborOffsets {
    std::int32_t slot[8];
};

constexpr int kBackwardSlots = 4;

// Sets slots 0..3 for pixel p of an image with H rows.
void ComputeBackwardOffsets(NeighborOffsets& offsets, std::int32_t p, std::int32_t H);

// Sets slots 4..7 for pixel p of an image with H rows and W columns.
void ComputeForwardOffsets(NeighborOffsets& offsets, std::int32_t p, std::int32_t H,
                           std::int32_t W);

}  // namespace corvane
