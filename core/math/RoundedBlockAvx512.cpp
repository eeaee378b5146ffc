// The AVX-512 block path. This file alone is compiled with -mavx512f; it is
// called only after the CPU has been asked whether it has AVX-512F.
#include "RoundedBlock.h"
#include "RoundedBlockPaths.h"
#include "RoundedLanesAvx512.h"

namespace corvane {
namespace rounded {

// Whole groups of eight here; the rest (a pixel of 9 neurons leaves one)
// on the AVX2 path, where a short group costs half as much.
void LogBlockAvx512(const double* in, double* out, std::int64_t count) {
    const std::int64_t whole = count - count % 8;
    LogBlockLanes<Avx512Lanes>(in, out, whole);
    if (whole < count) LogBlockAvx2(in + whole, out + whole, count - whole);
}
void ExpBlockAvx512(const double* in, double* out, std::int64_t count) {
    const std::int64_t whole = count - count % 8;
    ExpBlockLanes<Avx512Lanes>(in, out, whole);
    if (whole < count) ExpBlockAvx2(in + whole, out + whole, count - whole);
}

}  // namespace rounded
}  // namespace corvane
