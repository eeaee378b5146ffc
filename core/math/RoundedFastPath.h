// The fast paths of the correctly rounded exp and log, written once over a
// lane type so that the scalar functions and every vector path perform the
// same IEEE operations in the same order on each lane. Each path returns an
// unevaluated sum h + l (|l| <= ulp(h)/2) whose relative error is below the
// path's tolerance; RoundIfDecided then tells whether every real number within
// that tolerance rounds to the same double. The rare arguments it cannot
// decide go to the exact path (RoundedExact.h).
//
// Included by one source file per instruction set; everything is inside an
// unnamed namespace so that no copy compiled for one instruction set can be
// picked by the linker for another.
#pragma once

#include "RoundedLanesScalar.h"
#include "RoundedTables.inc"

namespace corvane {
namespace rounded {
namespace {

// Largest error of h + l, including the slack the test itself needs (see
// RoundIfDecided): log's is the smaller of kLogToleranceOfResult * |h| and
// kLogToleranceAbsolute, exp's kExpTolerance * |h|. The error analyses are at
// LogApprox and ExpApprox; the test suite measures the actual errors against
// MPFR.
constexpr double kLogToleranceOfResult = 0x1p-63;
constexpr double kLogToleranceAbsolute = 0x1p-72;
constexpr double kExpTolerance = 0x1p-68;

// 2^27 + 1: Veltkamp's constant, splits a double into two 26-bit halves.
constexpr double kSplitter = 134217729.0;
// 1.5 * 2^52: adding it rounds a double of magnitude below 2^51 to an integer,
// which then sits in the low mantissa bits.
constexpr double kRoundingShift = 0x1.8p52;

// s + e = a + b exactly (Knuth's TwoSum; no condition on a and b).
template <class D>
inline void TwoSum(D a, D b, D& s, D& e) {
    s = a + b;
    const D bb = s - a;
    e = (a - (s - bb)) + (b - bb);
}

// s + e = a + b exactly when a is zero or |a| >= |b| (Dekker's Fast2Sum).
template <class D>
inline void FastTwoSum(D a, D b, D& s, D& e) {
    s = a + b;
    e = b - (s - a);
}

// a = hi + lo exactly with hi and lo of at most 26 significant bits each
// (Veltkamp), for |a| < 2^995.
template <class D>
inline void Split(D a, D& hi, D& lo) {
    const D c = a * D(kSplitter);
    hi = c - (c - a);
    lo = a - hi;
}

// Rounds h + l to nearest if every real number within tolerance * |h| of it
// rounds to the same double; decided says whether it does. The true value v
// is within err = tolerance * |h| of h + l, so it lies between h + (l - err)
// and h + (l + err) and rounds between their roundings; when the two agree,
// so does v. Forming l - err and l + err rounds by at most 2^-105 |h|, which
// the tolerances cover with room to spare. The test is symmetric: err may
// have either sign.
template <class L>
inline typename L::D RoundIfDecidedWithin(typename L::D h, typename L::D l, typename L::D err,
                                          typename L::M& decided) {
    using D = typename L::D;
    const D below = h + (l - err);
    const D above = h + (l + err);
    decided = Equal(below, above);
    return below;
}

template <class L>
inline typename L::D RoundIfDecided(typename L::D h, typename L::D l, double tolerance,
                                    typename L::M& decided) {
    using D = typename L::D;
    return RoundIfDecidedWithin<L>(h, l, h * D(tolerance), decided);
}

// |x|: the sign bit cleared.
template <class L>
inline typename L::D Magnitude(typename L::D x) {
    using U = typename L::U;
    return AsDouble(AsBits(x) & U(0x7fffffffffffffffULL));
}

// log(x) for a positive normal double x, as h + l, and err, a bound on the
// error of h + l (including the rounding test's own slack).
//
// x = 2^e * m with 1 <= m < 2. The top 8 bits of m choose a table row with
// a reciprocal r ~ 1/m of at most 9 fraction bits; then |m*r - 1| <= 2^-8 =
// 2^(1-9), so z = m*r - 1 is a double and the sum of the exact products below
// gives it exactly. Rows with m >= ~sqrt 2 use m/2 (the row's carry adds 1 to
// e) so that x just below 1 does not cancel against -ln 2, and the first and
// last rows have r = 1 and 1/2 so that x near 1 has no table term. Then
//     log x = (e + carry) ln 2 + [-ln r - carry ln 2] + log1p(z),
// the bracket from the table as a head (a multiple of 2^-42, like ln 2's
// head, so that the first sum is exact) and a tail, and
//     log1p(z) = z - z^2/2 + z^3 (1/3 - z/4 + z^2/5 - z^3/6 + z^4/7 - z^5/8),
// truncated after z^8.
//
// Error bound, in absolute terms. Most of the error comes from log1p(z) and
// is proportional to |z| <= 2^-8; the rest (the table's and ln 2's tails) is
// tiny and exists only where the table term or e + carry is not 0.
//  - truncation: the terms from z^9 on sum to at most |z|^9/9 / (1 - |z|) <=
//    2^-67.16 |z|;
//  - z^2 = squareHead + squareTail to within 2^-53 |squareTail| < 2^-78 |z|^2,
//    and z - squareHead/2 is exact (FastTwoSum, |z| > squareHead/2);
//  - cubic: |q| <= 0.335; its three roundings near 1/3 (q01, the sum with
//    zz * q23, the last sum) are 2^-55 each, the coefficients' own below
//    2^-55, the rest damped by |z| <= 2^-8: 2^-51.6 relative; square, its
//    product with z and with q round by 2^-53 each: 2^-50.7 of |cubic| <=
//    0.335 * 2^-16 |z|, i.e. 2^-68.3 |z|;
//  - low's two roundings, on values below 2^-17.5 |z|: 2^-69.5 |z|;
//  - w's product exponent * ln2 tail (|ln2 tail| < 2^-43, |e + carry| <=
//    1075) rounds by 2^-85.9; its three additions act on values below
//    |v| + |low| + |exponent * ln2 tail| + |table tail| <= 2^-43.5 +
//    2^-17.5 |z| + 2^-32.9 + 2^-43: 2^-68.9 |z| + 2^-84.2;
//  - the table term's head + tail is within 2^-96 of it, ln 2's head + tail
//    within 2^-96, times |e + carry| <= 1075: 2^-85.9; exponent * ln2 head
//    + table head and the FastTwoSums are exact (|s| > |a| unless s = 0);
//  - the rounding test's l -+ err: 2^-105 |h| (below 2^-95.4); a subnormal
//    argument's extra -52 ln 2 (LogCorrectlyRounded): below 2^-88.
// Total below 2^-66.2 |z| + 2^-83.4 <= 2^-74.2, the constant 0 where the
// table term and e + carry are 0 (only 2^-105 |h| is left of it there).
// In terms of R = log x (|h| >= |R| (1 - 2^-52)):
//  - where the table term and e + carry are 0 (x within 2^-8 of 1),
//    R = log1p(z) and |z| <= 1.002 |R|: below 2^-66.1 |R|;
//  - elsewhere |R| > 2^-9 (the generator checks it where the table term is
//    not 0; with e + carry != 0, |R| > 0.3): below 2^-74.2 < 2^-65.2 |R|.
// So the error is below both 2^-74.2 and 2^-65.2 |h|, and err = min(2^-63
// |h|, 2^-72) bounds it with a factor of 4 to spare, which the test suite
// requires of the measured error (the truncation alone comes within a few
// per cent of 2^-67.2 |z| for |z| near 2^-8). A bound of 2^-67 |h| alone, as
// before the series was shortened, sent one argument of the update in
// 11,000 to the exact path; where the update takes log (variances raised by
// the floor, log x > 3), err is below 2^-73.6 |R|, and hardly any argument
// needs it. Near 1 (x within about 3 % of it) the bound is wider than 2^-67
// |h| and more arguments go there than before.
template <class L>
inline void LogApprox(typename L::D x, typename L::D& h, typename L::D& l, typename L::D& err) {
    using D = typename L::D;
    using U = typename L::U;
    const U bits = AsBits(x);
    const U mantissa = bits & U(0x000fffffffffffffULL);
    const U oneBits = U(0x3ff0000000000000ULL);
    const U row = ShiftRight<44>(bits) & U(255);
    const D m = AsDouble(mantissa | oneBits);
    // m with its low 10 bits cleared: 43 bits, so mHead * r is exact, and so
    // is (m - mHead) * r (10 bits times 10 bits).
    const D mHead = AsDouble((mantissa & U(0x000ffffffffffc00ULL)) | oneBits);
    // The biased exponent as a double: 2^52 + biased - (2^52 + 1023), exact.
    const D e = AsDouble(ShiftRight<52>(bits) | U(0x4330000000000000ULL)) - D(0x1.00000000003ffp52);

    D r, carry, tableHead, tableTail;
    GatherLogRow(row, r, carry, tableHead, tableTail);
    const D exponent = e + carry;

    // mHead*r - 1 is exact (Sterbenz), and so is the sum: z is a double.
    const D z = (mHead * r - D(1.0)) + (m - mHead) * r;

    // z^2 = squareHead (exact, 26-bit halves) + squareTail (rounded).
    D zHi, zLo;
    Split(z, zHi, zLo);
    const D squareHead = zHi * zHi;
    const D squareTail = ((zHi + zHi) + zLo) * zLo;
    const D square = squareHead + squareTail;

    // q = 1/3 - z/4 + z^2/5 - z^3/6 + z^4/7 - z^5/8, in Estrin's order
    // (pairs, then powers of z^2) for a short dependency chain.
    const D zz = z * z;
    const D q01 = D(0x1.5555555555555p-2) + z * D(-0x1p-2);        // 1/3 - z/4
    const D q23 = D(0x1.999999999999ap-3) + z * D(-0x1.5555555555555p-3);  // 1/5 - z/6
    const D q45 = D(0x1.2492492492492p-3) + z * D(-0x1p-3);        // 1/7 - z/8
    const D q = (q01 + zz * q23) + (zz * zz) * q45;
    const D cubic = (square * z) * q;

    // log1p(z) = a + low: z - squareHead/2 exactly, then the small terms.
    D a, b;
    FastTwoSum(z, D(-0.5) * squareHead, a, b);
    const D low = (b - D(0.5) * squareTail) + cubic;

    // (e + carry) ln 2 + table term + log1p(z).
    const D s = exponent * D(kLn2Head) + tableHead;
    D u, v;
    FastTwoSum(s, a, u, v);
    const D w = ((v + low) + exponent * D(kLn2Tail)) + tableTail;
    FastTwoSum(u, w, h, l);
    err = Min(Magnitude<L>(h) * D(kLogToleranceOfResult), D(kLogToleranceAbsolute));
}

// exp(x) = 2^k * 2^(j/256) * exp(r) for |x| < 746, as (h + l) * 2^k with
// 0.7 < h < 2; bits holds the bit pattern from which k and j are read
// (ExpScale and the row index).
//
// n = round(x * 256/ln 2), j = n mod 256, k = floor(n/256); r = x - n ln2/256
// as rh + rl: n * head is exact (34-bit head, |n| < 2^19) and x - n * head is
// exact (Sterbenz); the tail's product is rounded but TwoSum keeps its sum
// exact. |r| <= 2^-9.5. exp(r) - 1 = rh + q with
//     q = rl + rh (rl + rh (1/2 + rh/6 + ... + rh^4/720)),
// the rest below |r|^7/5040 < 2^-78.8. The table holds 2^(j/256) as a 26-bit
// head, so head * rh is the exact sum of head * (the two 26-bit halves of rh).
//
// Error bound, relative to exp(x) (h + l is close to 2^(j/256) exp(r) >= 1):
//  - r: n * tail rounds by 2^-53 of |n * tail| < 2^-25.7 and tail is within
//    2^-97 of ln2/256 - head, times |n| < 2^18.1: r is off by < 2^-78.8;
//  - truncation: |r|^7/5040 < 2^-78.6;
//  - q < 2^-20.06; p ~ 1/2 is within 2^-52 of its value (its two additions
//    near 1/2 round by 2^-54 each, the rest is damped by |r| < 2^-9.5), the
//    four operations forming q round by 2^-53 each: 2^-50.4 of q, i.e.
//    2^-70.5;
//  - whole is within 2^-53 of 2^(j/256) and whole * q rounds by 2^-73:
//    2^-72 together;
//  - head + tail is within 2^-79 of 2^(j/256); head * rHi and head * rLo
//    are exact, FastTwoSum(head, .) too;
//  - low's first three additions act on values below 2^-25: 3 * 2^-79;
//    the last one on a value below 2^-18.9: 2^-72.
// Total below 2^-69.4; the measured largest error is about 2^-71.
template <class L>
inline void ExpApprox(typename L::D x, typename L::D& h, typename L::D& l, typename L::U& bits) {
    using D = typename L::D;
    using U = typename L::U;
    const D shifted = x * D(kExpStepsPerUnit) + D(kRoundingShift);
    const D n = shifted - D(kRoundingShift);
    bits = AsBits(shifted);
    const U row = bits & U(255);

    const D reduced = x - n * D(kExpStepHead);
    D rh, rl;
    TwoSum(reduced, -(n * D(kExpStepTail)), rh, rl);

    // p = 1/2 + r/6 + r^2/24 + r^3/120 + r^4/720, in Estrin's order.
    const D rr = rh * rh;
    const D p = (D(0.5) + rh * D(0x1.5555555555555p-3)) +
                rr * ((D(0x1.5555555555555p-5) + rh * D(0x1.1111111111111p-7)) +
                      rr * D(0x1.6c16c16c16c17p-10));
    const D q = rl + rh * (rl + rh * p);

    D head, tail, whole;
    GatherExpRow(row, head, tail, whole);
    D rHi, rLo;
    Split(rh, rHi, rLo);
    D s, e;
    FastTwoSum(head, head * rHi, s, e);
    const D low = ((((e + head * rLo) + tail) + tail * rh) + whole * q);
    FastTwoSum(s, low, h, l);
}

// 2^k as a double from ExpApprox's bits, for -1022 <= k <= 1023: the bits are
// those of 1.5 * 2^52 + n, whose low part shifted right by 8 and left by 52
// leaves k in the exponent field (the rest shifts out).
template <class L>
inline typename L::D ExpScale(typename L::U bits) {
    using U = typename L::U;
    return AsDouble(ShiftLeft<52>(ShiftRight<8>(bits)) + U(0x3ff0000000000000ULL));
}

}  // namespace
}  // namespace rounded
}  // namespace corvane
