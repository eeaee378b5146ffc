#include "MpfrReference.h"

#include <mpfr.h>

#include <cmath>
#include <cstring>

namespace corvane {
namespace testing {
namespace {

// f(x) rounded to nearest double, including the subnormal range: MPFR rounds
// correctly to 53 bits, then mpfr_subnormalize rounds again on the subnormal
// grid (using the first rounding's direction, so there is no double rounding).
double Rounded(double x, int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t)) {
    const mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    mpfr_t in, out;
    mpfr_init2(in, 53);
    mpfr_init2(out, 53);
    mpfr_set_d(in, x, MPFR_RNDN);
    int inexact = f(out, in, MPFR_RNDN);
    inexact = mpfr_subnormalize(out, inexact, MPFR_RNDN);
    const double result = mpfr_get_d(out, MPFR_RNDN);
    mpfr_clear(in);
    mpfr_clear(out);
    mpfr_set_emin(emin);
    mpfr_set_emax(emax);
    return result;
}

double RelativeError(double x, double h, double l, int k,
                     int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t)) {
    mpfr_t exact, approx;
    mpfr_init2(exact, 400);
    mpfr_init2(approx, 400);
    mpfr_set_d(exact, x, MPFR_RNDN);
    f(exact, exact, MPFR_RNDN);
    mpfr_set_d(approx, h, MPFR_RNDN);
    mpfr_add_d(approx, approx, l, MPFR_RNDN);
    mpfr_mul_2si(approx, approx, k, MPFR_RNDN);
    mpfr_sub(approx, approx, exact, MPFR_RNDN);
    mpfr_div(approx, approx, exact, MPFR_RNDN);
    const double error = std::fabs(mpfr_get_d(approx, MPFR_RNDN));
    mpfr_clear(exact);
    mpfr_clear(approx);
    return error;
}

double MidpointDistance(double x, int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t)) {
    mpfr_t exact, scaled;
    mpfr_init2(exact, 400);
    mpfr_init2(scaled, 400);
    mpfr_set_d(exact, x, MPFR_RNDN);
    f(exact, exact, MPFR_RNDN);
    // exact / ulp(exact) for a 53-bit result, fractional part against 1/2.
    const mpfr_exp_t e = mpfr_get_exp(exact);  // exact = m * 2^e, 1/2 <= |m| < 1
    mpfr_mul_2si(scaled, exact, 53 - e, MPFR_RNDN);
    mpfr_abs(scaled, scaled, MPFR_RNDN);
    mpfr_frac(scaled, scaled, MPFR_RNDN);
    const double fraction = mpfr_get_d(scaled, MPFR_RNDN);
    mpfr_clear(exact);
    mpfr_clear(scaled);
    return std::fabs(fraction - 0.5);
}

}  // namespace

double MpfrExp(double x) { return Rounded(x, mpfr_exp); }
double MpfrLog(double x) { return Rounded(x, mpfr_log); }

double MpfrRelativeErrorOfExp(double x, double h, double l, int k) {
    return RelativeError(x, h, l, k, mpfr_exp);
}
double MpfrRelativeErrorOfLog(double x, double h, double l) {
    return RelativeError(x, h, l, 0, mpfr_log);
}

double MpfrMidpointDistanceOfExp(double x) { return MidpointDistance(x, mpfr_exp); }
double MpfrMidpointDistanceOfLog(double x) { return MidpointDistance(x, mpfr_log); }

std::uint64_t Bits(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}
double FromBits(std::uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

}  // namespace testing
}  // namespace corvane
