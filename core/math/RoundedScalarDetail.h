// The scalar fast paths' unrounded results, for tests that measure their
// errors against an arbitrary-precision evaluation.
#pragma once

namespace corvane {
namespace rounded {

// log(x) ~ h + l for a positive normal x, within err (the bound the
// rounding test assumes).
void LogFastPath(double x, double& h, double& l, double& err);
// exp(x) ~ (h + l) * 2^k for |x| < 746.
void ExpFastPath(double x, double& h, double& l, int& k);

}  // namespace rounded
}  // namespace corvane
