// Two lanes in SSE2 registers: the instance of RoundedFastPath.h for the SSE2
// block path. Every operation is the IEEE operation of the scalar lane.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "RoundedTables.inc"

namespace corvane {
namespace rounded {
namespace {

struct Sse2D {
    __m128d v;
    Sse2D() = default;
    explicit Sse2D(double c) : v(_mm_set1_pd(c)) {}
    explicit Sse2D(__m128d x) : v(x) {}
};
struct Sse2U {
    __m128i v;
    Sse2U() = default;
    explicit Sse2U(std::uint64_t c) : v(_mm_set1_epi64x(static_cast<long long>(c))) {}
    explicit Sse2U(__m128i x) : v(x) {}
};

inline Sse2D operator+(Sse2D a, Sse2D b) { return Sse2D(_mm_add_pd(a.v, b.v)); }
inline Sse2D operator-(Sse2D a, Sse2D b) { return Sse2D(_mm_sub_pd(a.v, b.v)); }
inline Sse2D operator*(Sse2D a, Sse2D b) { return Sse2D(_mm_mul_pd(a.v, b.v)); }
// Negation flips the sign bit, as the scalar -x does.
inline Sse2D operator-(Sse2D a) { return Sse2D(_mm_xor_pd(a.v, _mm_set1_pd(-0.0))); }
inline Sse2U operator&(Sse2U a, Sse2U b) { return Sse2U(_mm_and_si128(a.v, b.v)); }
inline Sse2U operator|(Sse2U a, Sse2U b) { return Sse2U(_mm_or_si128(a.v, b.v)); }
inline Sse2U operator+(Sse2U a, Sse2U b) { return Sse2U(_mm_add_epi64(a.v, b.v)); }

inline Sse2U AsBits(Sse2D x) { return Sse2U(_mm_castpd_si128(x.v)); }
inline Sse2D AsDouble(Sse2U u) { return Sse2D(_mm_castsi128_pd(u.v)); }
template <int n>
inline Sse2U ShiftRight(Sse2U u) {
    return Sse2U(_mm_srli_epi64(u.v, n));
}
template <int n>
inline Sse2U ShiftLeft(Sse2U u) {
    return Sse2U(_mm_slli_epi64(u.v, n));
}
// All-ones lanes where a == b.
inline Sse2D Equal(Sse2D a, Sse2D b) { return Sse2D(_mm_cmpeq_pd(a.v, b.v)); }

struct Sse2Lanes {
    using D = Sse2D;
    using U = Sse2U;
    using M = Sse2D;
    static D Load(const double* p) { return D(_mm_loadu_pd(p)); }
    static void Store(double* p, D x) { _mm_storeu_pd(p, x.v); }
    // The first `lanes` (here 1) elements; the other lane reads as 0.
    static D LoadFirst(const double* p, int) { return D(_mm_load_sd(p)); }
    static void StoreFirst(double* p, D x, int) { _mm_store_sd(p, x.v); }
    static constexpr int kWidth = 2;
};

inline void Indices(Sse2U i, std::uint64_t (&out)[2]) {
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), i.v);
    out[0] = lanes[0];
    out[1] = lanes[1];
}

inline void GatherLogRow(Sse2U index, Sse2D& reciprocal, Sse2D& carry, Sse2D& head,
                         Sse2D& tail) {
    std::uint64_t i[2];
    Indices(index, i);
    const double* a = &kLogRows[i[0]].reciprocal;
    const double* b = &kLogRows[i[1]].reciprocal;
    const __m128d a01 = _mm_load_pd(a), a23 = _mm_load_pd(a + 2);
    const __m128d b01 = _mm_load_pd(b), b23 = _mm_load_pd(b + 2);
    reciprocal = Sse2D(_mm_unpacklo_pd(a01, b01));
    carry = Sse2D(_mm_unpackhi_pd(a01, b01));
    head = Sse2D(_mm_unpacklo_pd(a23, b23));
    tail = Sse2D(_mm_unpackhi_pd(a23, b23));
}

inline void GatherExpRow(Sse2U index, Sse2D& head, Sse2D& tail, Sse2D& whole) {
    std::uint64_t j[2];
    Indices(index, j);
    const double* a = &kExpRows[j[0]].head;
    const double* b = &kExpRows[j[1]].head;
    const __m128d a01 = _mm_load_pd(a), a23 = _mm_load_pd(a + 2);
    const __m128d b01 = _mm_load_pd(b), b23 = _mm_load_pd(b + 2);
    head = Sse2D(_mm_unpacklo_pd(a01, b01));
    tail = Sse2D(_mm_unpackhi_pd(a01, b01));
    whole = Sse2D(_mm_unpacklo_pd(a23, b23));
}

// Lane masks (all ones or all zeros) and their combinations.
inline Sse2D Min(Sse2D a, Sse2D b) { return Sse2D(_mm_min_pd(a.v, b.v)); }
inline Sse2D LessEqual(Sse2D a, Sse2D b) { return Sse2D(_mm_cmple_pd(a.v, b.v)); }
inline Sse2D And(Sse2D a, Sse2D b) { return Sse2D(_mm_and_pd(a.v, b.v)); }
inline Sse2D Or(Sse2D a, Sse2D b) { return Sse2D(_mm_or_pd(a.v, b.v)); }
inline Sse2D Select(Sse2D mask, Sse2D a, Sse2D b) {
    return Sse2D(_mm_or_pd(_mm_and_pd(mask.v, a.v), _mm_andnot_pd(mask.v, b.v)));
}
inline int LaneBits(Sse2D mask) { return _mm_movemask_pd(mask.v); }

}  // namespace
}  // namespace rounded
}  // namespace corvane
