#include "RoundedExact.h"

#include <cstring>

#include "RoundedTables.inc"

namespace corvane {
namespace rounded {
namespace {

thread_local std::uint64_t exactEvaluations = 0;
thread_local std::uint64_t undecided = 0;

constexpr int kWords = 8;           // 256 bits: 32 integer, 224 fraction
constexpr int kFractionBits = 224;

// A two's complement fixed-point number, value = integer(w) * 2^-224, with
// w[0] the most significant word.
struct Fixed {
    std::uint32_t w[kWords] = {};
};

Fixed FromWords(const std::uint32_t (&words)[kWords]) {
    Fixed f;
    for (int k = 0; k < kWords; ++k) f.w[k] = words[k];
    return f;
}

bool IsNegative(const Fixed& a) { return (a.w[0] & 0x80000000u) != 0; }


Fixed Add(const Fixed& a, const Fixed& b) {
    Fixed r;
    std::uint64_t carry = 0;
    for (int k = kWords - 1; k >= 0; --k) {
        const std::uint64_t sum = std::uint64_t(a.w[k]) + b.w[k] + carry;
        r.w[k] = static_cast<std::uint32_t>(sum);
        carry = sum >> 32;
    }
    return r;
}

Fixed Negate(const Fixed& a) {
    Fixed r;
    std::uint64_t carry = 1;
    for (int k = kWords - 1; k >= 0; --k) {
        const std::uint64_t sum = std::uint64_t(~a.w[k]) + carry;
        r.w[k] = static_cast<std::uint32_t>(sum);
        carry = sum >> 32;
    }
    return r;
}

Fixed Sub(const Fixed& a, const Fixed& b) { return Add(a, Negate(b)); }

Fixed Abs(const Fixed& a) { return IsNegative(a) ? Negate(a) : a; }

// a * b for non-negative a and b whose product is below 2^31, truncated.
Fixed Multiply(const Fixed& a, const Fixed& b) {
    std::uint32_t full[2 * kWords] = {};
    for (int i = kWords - 1; i >= 0; --i) {
        std::uint64_t carry = 0;
        for (int j = kWords - 1; j >= 0; --j) {
            const std::uint64_t t = std::uint64_t(a.w[i]) * b.w[j] + full[i + j + 1] + carry;
            full[i + j + 1] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        full[i] = static_cast<std::uint32_t>(carry);
    }
    // The product is integer(full) * 2^-448: drop the low 224 bits (7 words).
    Fixed r;
    for (int k = 0; k < kWords; ++k) r.w[k] = full[k + 1];
    return r;
}

// a * n for non-negative a, the product below 2^31.
Fixed MultiplySmall(const Fixed& a, std::uint32_t n) {
    Fixed r;
    std::uint64_t carry = 0;
    for (int k = kWords - 1; k >= 0; --k) {
        const std::uint64_t t = std::uint64_t(a.w[k]) * n + carry;
        r.w[k] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
    }
    return r;
}

// a / n for non-negative a, truncated.
Fixed DivideSmall(const Fixed& a, std::uint32_t n) {
    Fixed r;
    std::uint64_t rest = 0;
    for (int k = 0; k < kWords; ++k) {
        const std::uint64_t t = (rest << 32) | a.w[k];
        r.w[k] = static_cast<std::uint32_t>(t / n);
        rest = t % n;
    }
    return r;
}

// v * 2^(shift - 224) for a non-negative integer v, as a fixed-point number;
// bits that fall below 2^-224 are dropped (the callers' never do).
Fixed FromScaledInteger(std::uint64_t v, int shift) {
    Fixed r;
    // Bit b of v goes to bit b + shift of the 256-bit integer.
    for (int b = 0; b < 64; ++b) {
        if (((v >> b) & 1u) == 0) continue;
        const int position = b + shift;
        if (position < 0 || position >= 32 * kWords) continue;
        r.w[kWords - 1 - position / 32] |= 1u << (position % 32);
    }
    return r;
}

// The exact value of a double with |x| < 2^31 and no bits below 2^-224.
Fixed FromDouble(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t significand = bits & 0x000fffffffffffffULL;
    int exponent = biased - 1075;  // x = significand * 2^exponent
    if (biased == 0) {
        exponent = -1074;
    } else {
        significand |= 0x0010000000000000ULL;
    }
    const Fixed magnitude = FromScaledInteger(significand, exponent + kFractionBits);
    return (bits >> 63) ? Negate(magnitude) : magnitude;
}

int BitLength(const Fixed& a) {
    for (int k = 0; k < kWords; ++k) {
        if (a.w[k] == 0) continue;
        int b = 31;
        while (((a.w[k] >> b) & 1u) == 0) --b;
        return 32 * (kWords - 1 - k) + b + 1;
    }
    return 0;
}

bool Bit(const Fixed& a, int position) {
    if (position < 0 || position >= 32 * kWords) return false;
    return (a.w[kWords - 1 - position / 32] >> (position % 32)) & 1u;
}

// 2^e as a double, for -1074 <= e <= 1023.
double PowerOfTwo(int e) {
    std::uint64_t bits;
    if (e >= -1022) {
        bits = static_cast<std::uint64_t>(e + 1023) << 52;
    } else {
        bits = std::uint64_t(1) << (e + 1074);
    }
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The double nearest to a * 2^scale for non-negative a (ties to even), with
// subnormal results rounded on their own grid and overflow to +inf.
double RoundToDouble(const Fixed& a, int scale) {
    const int length = BitLength(a);
    if (length == 0) return 0.0;
    // a * 2^scale = integer(a) * 2^(scale - 224); its leading bit has weight
    // 2^(length - 1 + scale - 224).
    const int leading = length - 1 + scale - kFractionBits;
    int drop = length - 53;  // bits below the 53 kept
    if (leading < -1022) drop = -1074 - (scale - kFractionBits);  // keep down to 2^-1074
    std::uint64_t kept = 0;
    for (int b = 52; b >= 0; --b) {
        kept = (kept << 1) | (Bit(a, drop + b) ? 1u : 0u);
    }
    if (drop > 0) {
        const bool half = Bit(a, drop - 1);
        bool rest = false;
        for (int b = drop - 2; b >= 0 && !rest; --b) rest = Bit(a, b);
        if (half && (rest || (kept & 1u))) ++kept;  // to nearest, ties to even
    }
    // kept <= 2^53, exact as a double; the product is exact unless it overflows.
    const int weight = drop + scale - kFractionBits;
    const double value = static_cast<double>(kept);
    if (weight > 1023) return value * PowerOfTwo(1023) * PowerOfTwo(weight - 1023);
    return value * PowerOfTwo(weight);
}

// Rounds a * 2^scale, a >= 0, whose exact value is within `error` units of
// 2^-224 of a. When the ends of that interval round differently the
// evaluation would need more bits; the hardest cases of exp and log known
// need fewer than 130 of the 224, so this is not expected to happen. It is
// counted (the tests require the count to stay 0) and the nearest rounding
// of a is returned all the same.
double RoundWithin(const Fixed& a, int scale, std::uint32_t error) {
    const Fixed e = FromScaledInteger(error, 0);
    const double nearest = RoundToDouble(a, scale);
    if (RoundToDouble(Sub(a, e), scale) != RoundToDouble(Add(a, e), scale)) ++undecided;
    return nearest;
}

}  // namespace

std::uint64_t ExactEvaluationCount() { return exactEvaluations; }
std::uint64_t ExactUndecidedCount() { return undecided; }

double ExpExact(double x, std::int64_t n) {
    ++exactEvaluations;
    // |x| < 2^-54: exp(x) is within half an ulp of 1 on either side.
    if (x < 0x1p-54 && x > -0x1p-54) return 1.0;
    const std::int64_t j = n & 255;
    const std::int64_t k = (n - j) / 256;
    // r = x - n ln2/256, |r| < 2^-9.4; the step is rounded to 2^-225, so r is
    // off by at most |n| / 2 < 2^18 units.
    const Fixed step = FromWords(kExpStepFixed);
    const std::uint64_t steps = n < 0 ? std::uint64_t(-n) : std::uint64_t(n);
    Fixed nStep = MultiplySmall(step, static_cast<std::uint32_t>(steps));
    if (n < 0) nStep = Negate(nStep);
    const Fixed r = Sub(FromDouble(x), nStep);
    const bool negative = IsNegative(r);
    const Fixed magnitude = Abs(r);
    // exp(r) = sum r^i / i!, 24 terms: the rest is far below 2^-224.
    Fixed term = FromScaledInteger(1, kFractionBits);
    Fixed sum = term;
    for (std::uint32_t i = 1; i <= 24; ++i) {
        term = DivideSmall(Multiply(term, magnitude), i);
        sum = (negative && (i & 1u)) ? Sub(sum, term) : Add(sum, term);
    }
    const Fixed value = Multiply(FromWords(kExpRowsFixed[j]), sum);
    // Errors: r's 2^18 units make exp(r) off by 2^18.1; each term's
    // truncations add 2 units, the product doubles it all: below 2^20 units.
    return RoundWithin(value, static_cast<int>(k), 1u << 20);
}

double LogExact(double x, int exponentShift) {
    ++exactEvaluations;
    if (x == 1.0 && exponentShift == 0) return 0.0;  // the one exact case
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int row = static_cast<int>((bits >> 44) & 255);
    const std::uint64_t significand = (bits & 0x000fffffffffffffULL) | 0x0010000000000000ULL;
    const LogRow& entry = kLogRows[row];
    const int exponent =
        static_cast<int>(bits >> 52) - 1023 + exponentShift + static_cast<int>(entry.carry);
    // z = m r - 1 exactly: m = significand * 2^-52, r = R * 2^-9, and
    // significand * R < 2^63.
    const std::uint64_t reciprocal = static_cast<std::uint64_t>(entry.reciprocal * 512.0);
    const Fixed z = Sub(FromScaledInteger(significand * reciprocal, kFractionBits - 61),
                        FromScaledInteger(1, kFractionBits));
    const bool negative = IsNegative(z);
    const Fixed magnitude = Abs(z);
    // log1p(z) = sum (-1)^(i+1) z^i / i, |z| <= 2^-8: 32 terms leave less
    // than 2^-260.
    Fixed power = magnitude;
    Fixed sum;
    for (std::uint32_t i = 1; i <= 32; ++i) {
        const Fixed term = DivideSmall(power, i);
        // z < 0: every term is -|z|^i/i; z > 0: the signs alternate.
        sum = (negative || (i % 2 == 0)) ? Sub(sum, term) : Add(sum, term);
        power = Multiply(power, magnitude);
    }
    const std::uint32_t e = static_cast<std::uint32_t>(exponent < 0 ? -exponent : exponent);
    Fixed multiple = MultiplySmall(FromWords(kLn2Fixed), e);
    if (exponent < 0) multiple = Negate(multiple);
    const Fixed value = Add(Add(multiple, FromWords(kLogRowsFixed[row])), sum);
    // Errors: ln 2 within half a unit times |e| <= 1075; the table term half
    // a unit; the series' truncations about 70 units: below 2^10 units.
    const bool below = IsNegative(value);
    const double rounded = RoundWithin(Abs(value), 0, 1u << 10);
    return below ? -rounded : rounded;
}

}  // namespace rounded
}  // namespace corvane
