// One lane: the scalar instance of the fast paths in RoundedFastPath.h.
#pragma once

#include <cstdint>
#include <cstring>

#include "RoundedTables.inc"

namespace corvane {
namespace rounded {
namespace {

struct ScalarLanes {
    using D = double;
    using U = std::uint64_t;
    using M = bool;
};

inline std::uint64_t AsBits(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}
inline double AsDouble(std::uint64_t u) {
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}
template <int n>
inline std::uint64_t ShiftRight(std::uint64_t u) {
    return u >> n;
}
template <int n>
inline std::uint64_t ShiftLeft(std::uint64_t u) {
    return u << n;
}
inline bool Equal(double a, double b) { return a == b; }
// a < b ? a : b, as the vector minimum instructions (b when either is NaN).
inline double Min(double a, double b) { return a < b ? a : b; }

inline void GatherLogRow(std::uint64_t i, double& reciprocal, double& carry, double& head,
                         double& tail) {
    const LogRow& row = kLogRows[i];
    reciprocal = row.reciprocal;
    carry = row.carry;
    head = row.head;
    tail = row.tail;
}
inline void GatherExpRow(std::uint64_t j, double& head, double& tail, double& whole) {
    const ExpRow& row = kExpRows[j];
    head = row.head;
    tail = row.tail;
    whole = row.whole;
}

}  // namespace
}  // namespace rounded
}  // namespace corvane
