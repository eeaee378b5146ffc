// corvane_math_check: the long accuracy run of the correctly rounded exp and
// log against GNU MPFR.
//
//   corvane_math_check [--count N] [--seed S] [--hardest K]
//
// Draws N random arguments per function from each of its distributions (log:
// every positive double by bit pattern, and 1e-3..1e6 log-uniformly; exp:
// -745.2..0 and -746..710 uniformly, and |x| < 1 by bit pattern), checks the
// scalar function and every block path against MPFR, and prints the counts.
// --hardest K also prints the K arguments of each function whose results lie
// closest to a midpoint between two doubles. Exits 1 on any mismatch.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "MpfrReference.h"
#include "RoundedExact.h"
#include "RoundedMath.h"

namespace {

using corvane::testing::Bits;
using corvane::testing::FromBits;

struct Tally {
    std::uint64_t checked = 0;
    std::uint64_t mismatches = 0;
    std::vector<std::pair<double, double>> hardest;  // (midpoint distance, x)
};

void Check(bool isExp, const std::vector<double>& args, Tally& tally, std::size_t keep) {
    std::vector<double> scalar(args.size()), block(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        scalar[i] = isExp ? corvane::ExpCorrectlyRounded(args[i]) : corvane::LogCorrectlyRounded(args[i]);
        const double want = isExp ? corvane::testing::MpfrExp(args[i]) : corvane::testing::MpfrLog(args[i]);
        ++tally.checked;
        if (Bits(scalar[i]) != Bits(want) && !(std::isnan(want) && std::isnan(scalar[i]))) {
            ++tally.mismatches;
            std::printf("MISMATCH %s(%a) = %a, MPFR %a\n", isExp ? "exp" : "log", args[i], scalar[i], want);
        }
        if (keep > 0 && std::isfinite(want) && want != 0) {
            const double d = isExp ? corvane::testing::MpfrMidpointDistanceOfExp(args[i])
                                   : corvane::testing::MpfrMidpointDistanceOfLog(args[i]);
            tally.hardest.emplace_back(d, args[i]);
            if (tally.hardest.size() > 4 * keep) {
                std::sort(tally.hardest.begin(), tally.hardest.end());
                tally.hardest.resize(keep);
            }
        }
    }
    for (corvane::RoundedMathPath path : {corvane::RoundedMathPath::Sse2, corvane::RoundedMathPath::Avx2,
                                          corvane::RoundedMathPath::Avx512}) {
        if (!corvane::RoundedMathPathAvailable(path)) continue;
        for (std::size_t i = 0; i < args.size(); i += 9) {  // the model's block of 9 neurons
            const std::int64_t n = static_cast<std::int64_t>(std::min<std::size_t>(9, args.size() - i));
            (isExp ? corvane::ExpCorrectlyRoundedBlockWith : corvane::LogCorrectlyRoundedBlockWith)(
                path, args.data() + i, block.data() + i, n);
        }
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (Bits(block[i]) != Bits(scalar[i])) {
                ++tally.mismatches;
                std::printf("MISMATCH path %d %s(%a) = %a, scalar %a\n", static_cast<int>(path),
                            isExp ? "exp" : "log", args[i], block[i], scalar[i]);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t count = 1000000, seed = 1;
    std::size_t hardest = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count" && i + 1 < argc) {
            count = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--hardest" && i + 1 < argc) {
            hardest = std::strtoull(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: corvane_math_check [--count N] [--seed S] [--hardest K]\n");
            return 2;
        }
    }
    std::mt19937_64 random(seed);
    Tally logs, exps;
    const std::uint64_t chunk = 1 << 16;
    for (std::uint64_t done = 0; done < count; done += chunk) {
        const std::uint64_t n = std::min(chunk, count - done);
        std::vector<double> logArgs, expArgs;
        for (std::uint64_t i = 0; i < n; ++i) {
            double x;
            do {
                x = FromBits(random() & 0x7fffffffffffffffULL);
            } while (!(x > 0 && x <= 1.7976931348623157e308));
            logArgs.push_back(x);
            // Log-uniform on 1e-3 .. 1e6. exp of a double has a logarithm
            // within a fraction of an ulp of that double, never near a
            // midpoint, so the low half of its bits is drawn anew.
            const double grid = std::exp(std::uniform_real_distribution<double>(-6.9078, 13.8156)(random));
            logArgs.push_back(FromBits((Bits(grid) & ~0xffffffffULL) | (random() & 0xffffffffULL)));
            expArgs.push_back(std::uniform_real_distribution<double>(-745.2, 0.0)(random));
            expArgs.push_back(std::uniform_real_distribution<double>(-746.0, 710.0)(random));
            expArgs.push_back(FromBits(random() & 0xbfefffffffffffffULL));  // |x| < 1
        }
        Check(false, logArgs, logs, hardest);
        Check(true, expArgs, exps, hardest);
    }
    std::printf("log: %" PRIu64 " arguments, %" PRIu64 " mismatches\n", logs.checked, logs.mismatches);
    std::printf("exp: %" PRIu64 " arguments, %" PRIu64 " mismatches\n", exps.checked, exps.mismatches);
    std::printf("exact-path evaluations: %" PRIu64 ", undecided: %" PRIu64 "\n",
                corvane::rounded::ExactEvaluationCount(), corvane::rounded::ExactUndecidedCount());
    for (Tally* t : {&logs, &exps}) {
        std::sort(t->hardest.begin(), t->hardest.end());
        for (std::size_t i = 0; i < std::min(hardest, t->hardest.size()); ++i) {
            std::printf("hardest %s: %a  (midpoint distance 2^%.1f ulp)\n", t == &logs ? "log" : "exp",
                        t->hardest[i].second, std::log2(t->hardest[i].first));
        }
    }
    const bool ok = logs.mismatches == 0 && exps.mismatches == 0 &&
                    corvane::rounded::ExactUndecidedCount() == 0;
    return ok ? 0 : 1;
}
