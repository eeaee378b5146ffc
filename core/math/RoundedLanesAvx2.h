// Four lanes in AVX2 registers: the instance of RoundedFastPath.h for the
// AVX2 block path. Only for a source file compiled with -mavx2 (and never
// -mfma: every operation is the IEEE operation of the scalar lane).
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "RoundedTables.inc"

namespace corvane {
namespace rounded {
namespace {

struct Avx2D {
    __m256d v;
    Avx2D() = default;
    explicit Avx2D(double c) : v(_mm256_set1_pd(c)) {}
    explicit Avx2D(__m256d x) : v(x) {}
};
struct Avx2U {
    __m256i v;
    Avx2U() = default;
    explicit Avx2U(std::uint64_t c) : v(_mm256_set1_epi64x(static_cast<long long>(c))) {}
    explicit Avx2U(__m256i x) : v(x) {}
};

inline Avx2D operator+(Avx2D a, Avx2D b) { return Avx2D(_mm256_add_pd(a.v, b.v)); }
inline Avx2D operator-(Avx2D a, Avx2D b) { return Avx2D(_mm256_sub_pd(a.v, b.v)); }
inline Avx2D operator*(Avx2D a, Avx2D b) { return Avx2D(_mm256_mul_pd(a.v, b.v)); }
inline Avx2D operator-(Avx2D a) { return Avx2D(_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0))); }
inline Avx2U operator&(Avx2U a, Avx2U b) { return Avx2U(_mm256_and_si256(a.v, b.v)); }
inline Avx2U operator|(Avx2U a, Avx2U b) { return Avx2U(_mm256_or_si256(a.v, b.v)); }
inline Avx2U operator+(Avx2U a, Avx2U b) { return Avx2U(_mm256_add_epi64(a.v, b.v)); }

inline Avx2U AsBits(Avx2D x) { return Avx2U(_mm256_castpd_si256(x.v)); }
inline Avx2D AsDouble(Avx2U u) { return Avx2D(_mm256_castsi256_pd(u.v)); }
template <int n>
inline Avx2U ShiftRight(Avx2U u) {
    return Avx2U(_mm256_srli_epi64(u.v, n));
}
template <int n>
inline Avx2U ShiftLeft(Avx2U u) {
    return Avx2U(_mm256_slli_epi64(u.v, n));
}
inline Avx2D Equal(Avx2D a, Avx2D b) { return Avx2D(_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)); }

struct Avx2Lanes {
    using D = Avx2D;
    using U = Avx2U;
    using M = Avx2D;
    static D Load(const double* p) { return D(_mm256_loadu_pd(p)); }
    static void Store(double* p, D x) { _mm256_storeu_pd(p, x.v); }
    // The first `lanes` (1 to 3) elements; the other lanes read as 0 and are
    // neither read nor written in memory.
    static __m256i FirstLanes(int lanes) {
        return _mm256_cmpgt_epi64(_mm256_set1_epi64x(lanes), _mm256_set_epi64x(3, 2, 1, 0));
    }
    static D LoadFirst(const double* p, int lanes) {
        return D(_mm256_maskload_pd(p, FirstLanes(lanes)));
    }
    static void StoreFirst(double* p, D x, int lanes) {
        _mm256_maskstore_pd(p, FirstLanes(lanes), x.v);
    }
    static constexpr int kWidth = 4;
};

inline void Indices(Avx2U i, std::uint64_t (&out)[4]) {
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), i.v);
    for (int k = 0; k < 4; ++k) out[k] = lanes[k];
}

// Four 32-byte table rows in, their four columns out.
inline void Transpose(const double* r0, const double* r1, const double* r2, const double* r3,
                      __m256d& c0, __m256d& c1, __m256d& c2, __m256d& c3) {
    const __m256d a = _mm256_load_pd(r0), b = _mm256_load_pd(r1);
    const __m256d c = _mm256_load_pd(r2), d = _mm256_load_pd(r3);
    const __m256d ab0 = _mm256_unpacklo_pd(a, b), ab1 = _mm256_unpackhi_pd(a, b);
    const __m256d cd0 = _mm256_unpacklo_pd(c, d), cd1 = _mm256_unpackhi_pd(c, d);
    c0 = _mm256_permute2f128_pd(ab0, cd0, 0x20);
    c1 = _mm256_permute2f128_pd(ab1, cd1, 0x20);
    c2 = _mm256_permute2f128_pd(ab0, cd0, 0x31);
    c3 = _mm256_permute2f128_pd(ab1, cd1, 0x31);
}

inline void GatherLogRow(Avx2U index, Avx2D& reciprocal, Avx2D& carry, Avx2D& head,
                         Avx2D& tail) {
    std::uint64_t i[4];
    Indices(index, i);
    Transpose(&kLogRows[i[0]].reciprocal, &kLogRows[i[1]].reciprocal, &kLogRows[i[2]].reciprocal,
              &kLogRows[i[3]].reciprocal, reciprocal.v, carry.v, head.v, tail.v);
}

inline void GatherExpRow(Avx2U index, Avx2D& head, Avx2D& tail, Avx2D& whole) {
    std::uint64_t j[4];
    Indices(index, j);
    __m256d unused;
    Transpose(&kExpRows[j[0]].head, &kExpRows[j[1]].head, &kExpRows[j[2]].head,
              &kExpRows[j[3]].head, head.v, tail.v, whole.v, unused);
}

inline Avx2D Min(Avx2D a, Avx2D b) { return Avx2D(_mm256_min_pd(a.v, b.v)); }
inline Avx2D LessEqual(Avx2D a, Avx2D b) { return Avx2D(_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ)); }
inline Avx2D And(Avx2D a, Avx2D b) { return Avx2D(_mm256_and_pd(a.v, b.v)); }
inline Avx2D Or(Avx2D a, Avx2D b) { return Avx2D(_mm256_or_pd(a.v, b.v)); }
inline Avx2D Select(Avx2D mask, Avx2D a, Avx2D b) {
    return Avx2D(_mm256_blendv_pd(b.v, a.v, mask.v));
}
inline int LaneBits(Avx2D mask) { return _mm256_movemask_pd(mask.v); }

}  // namespace
}  // namespace rounded
}  // namespace corvane
