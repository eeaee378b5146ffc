// Eight lanes in AVX-512 registers: the instance of RoundedFastPath.h for the
// AVX-512 block path. Only for a source file compiled with -mavx512f. GCC
// enables FMA along with AVX-512F; -ffp-contract=off (every target) keeps it
// from fusing anything, so every operation is the IEEE operation of the
// scalar lane.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "RoundedTables.inc"

namespace corvane {
namespace rounded {
namespace {

struct Avx512D {
    __m512d v;
    Avx512D() = default;
    explicit Avx512D(double c) : v(_mm512_set1_pd(c)) {}
    explicit Avx512D(__m512d x) : v(x) {}
};
struct Avx512U {
    __m512i v;
    Avx512U() = default;
    explicit Avx512U(std::uint64_t c) : v(_mm512_set1_epi64(static_cast<long long>(c))) {}
    explicit Avx512U(__m512i x) : v(x) {}
};
struct Avx512M {
    __mmask8 k;
};

inline Avx512D operator+(Avx512D a, Avx512D b) { return Avx512D(_mm512_add_pd(a.v, b.v)); }
inline Avx512D operator-(Avx512D a, Avx512D b) { return Avx512D(_mm512_sub_pd(a.v, b.v)); }
inline Avx512D operator*(Avx512D a, Avx512D b) { return Avx512D(_mm512_mul_pd(a.v, b.v)); }
inline Avx512D operator-(Avx512D a) {
    return Avx512D(_mm512_castsi512_pd(
        _mm512_xor_si512(_mm512_castpd_si512(a.v), _mm512_set1_epi64(static_cast<long long>(0x8000000000000000ULL)))));
}
inline Avx512U operator&(Avx512U a, Avx512U b) { return Avx512U(_mm512_and_si512(a.v, b.v)); }
inline Avx512U operator|(Avx512U a, Avx512U b) { return Avx512U(_mm512_or_si512(a.v, b.v)); }
inline Avx512U operator+(Avx512U a, Avx512U b) { return Avx512U(_mm512_add_epi64(a.v, b.v)); }

inline Avx512U AsBits(Avx512D x) { return Avx512U(_mm512_castpd_si512(x.v)); }
inline Avx512D AsDouble(Avx512U u) { return Avx512D(_mm512_castsi512_pd(u.v)); }
template <int n>
inline Avx512U ShiftRight(Avx512U u) {
    return Avx512U(_mm512_srli_epi64(u.v, n));
}
template <int n>
inline Avx512U ShiftLeft(Avx512U u) {
    return Avx512U(_mm512_slli_epi64(u.v, n));
}
inline Avx512M Equal(Avx512D a, Avx512D b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ)}; }

struct Avx512Lanes {
    using D = Avx512D;
    using U = Avx512U;
    using M = Avx512M;
    static D Load(const double* p) { return D(_mm512_loadu_pd(p)); }
    static void Store(double* p, D x) { _mm512_storeu_pd(p, x.v); }
    // The first `lanes` (1 to 7) elements; the other lanes read as 0 and are
    // neither read nor written in memory.
    static D LoadFirst(const double* p, int lanes) {
        return D(_mm512_maskz_loadu_pd(static_cast<__mmask8>((1u << lanes) - 1), p));
    }
    static void StoreFirst(double* p, D x, int lanes) {
        _mm512_mask_storeu_pd(p, static_cast<__mmask8>((1u << lanes) - 1), x.v);
    }
    static constexpr int kWidth = 8;
};

// Eight 32-byte table rows in (row k for lane k), their four columns out.
// Loading whole rows and transposing them in registers takes fewer cycles
// than one gather instruction per column.
inline void TransposeAt(const double* table, const std::uint64_t* lanes, __m512d& c0, __m512d& c1,
                        __m512d& c2, __m512d& c3) {
    // Lanes k and k + 2 (k = 0, 1, 4, 5) share a register, one per 256-bit
    // half, so that the unpacks below leave lane pairs in 128-bit blocks
    // that one block shuffle puts in order.
    auto pair = [&](int k) {
        return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_load_pd(table + lanes[k])),
                                  _mm256_load_pd(table + lanes[k + 2]), 1);
    };
    const __m512d z0 = pair(0), z1 = pair(1), z2 = pair(4), z3 = pair(5);
    // a: fields 0 and 2 of lanes 0, 1 | 2, 3; c: the same of lanes 4, 5 | 6, 7;
    // b, d: fields 1 and 3.
    const __m512d a = _mm512_unpacklo_pd(z0, z1), b = _mm512_unpackhi_pd(z0, z1);
    const __m512d c = _mm512_unpacklo_pd(z2, z3), d = _mm512_unpackhi_pd(z2, z3);
    c0 = _mm512_shuffle_f64x2(a, c, 0x88);
    c1 = _mm512_shuffle_f64x2(b, d, 0x88);
    c2 = _mm512_shuffle_f64x2(a, c, 0xDD);
    c3 = _mm512_shuffle_f64x2(b, d, 0xDD);
}

inline void Transpose(const double* table, Avx512U row, __m512d& c0, __m512d& c1, __m512d& c2,
                      __m512d& c3) {
    // The row offsets (in doubles) moved to general registers lane by lane:
    // storing the vector and reading it back would wait for the store.
    const __m512i offsets = _mm512_slli_epi64(row.v, 2);
    const __m256i low = _mm512_castsi512_si256(offsets);
    const __m256i high = _mm512_extracti64x4_epi64(offsets, 1);
    const __m128i q0 = _mm256_castsi256_si128(low), q1 = _mm256_extracti128_si256(low, 1);
    const __m128i q2 = _mm256_castsi256_si128(high), q3 = _mm256_extracti128_si256(high, 1);
    const std::uint64_t lanes[8] = {
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(q0)), static_cast<std::uint64_t>(_mm_extract_epi64(q0, 1)),
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(q1)), static_cast<std::uint64_t>(_mm_extract_epi64(q1, 1)),
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(q2)), static_cast<std::uint64_t>(_mm_extract_epi64(q2, 1)),
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(q3)), static_cast<std::uint64_t>(_mm_extract_epi64(q3, 1))};
    TransposeAt(table, lanes, c0, c1, c2, c3);
}

inline void GatherLogRow(Avx512U row, Avx512D& reciprocal, Avx512D& carry, Avx512D& head,
                         Avx512D& tail) {
    Transpose(&kLogRows[0].reciprocal, row, reciprocal.v, carry.v, head.v, tail.v);
}

inline void GatherExpRow(Avx512U row, Avx512D& head, Avx512D& tail, Avx512D& whole) {
    __m512d unused;
    Transpose(&kExpRows[0].head, row, head.v, tail.v, whole.v, unused);
}

inline Avx512D Min(Avx512D a, Avx512D b) { return Avx512D(_mm512_min_pd(a.v, b.v)); }
inline Avx512M LessEqual(Avx512D a, Avx512D b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LE_OQ)}; }
inline Avx512M And(Avx512M a, Avx512M b) { return {static_cast<__mmask8>(a.k & b.k)}; }
inline Avx512M Or(Avx512M a, Avx512M b) { return {static_cast<__mmask8>(a.k | b.k)}; }
inline Avx512D Select(Avx512M mask, Avx512D a, Avx512D b) {
    return Avx512D(_mm512_mask_blend_pd(mask.k, b.v, a.v));
}
inline int LaneBits(Avx512M mask) { return mask.k; }

}  // namespace
}  // namespace rounded
}  // namespace corvane
