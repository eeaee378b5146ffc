// The AVX2 block path. This file alone is compiled with -mavx2; it is called
// only after the CPU has been asked whether it has AVX2.
#include "RoundedBlock.h"
#include "RoundedBlockPaths.h"
#include "RoundedLanesAvx2.h"

namespace corvane {
namespace rounded {

void LogBlockAvx2(const double* in, double* out, std::int64_t count) {
    LogBlockLanes<Avx2Lanes>(in, out, count);
}
void ExpBlockAvx2(const double* in, double* out, std::int64_t count) {
    ExpBlockLanes<Avx2Lanes>(in, out, count);
}

}  // namespace rounded
}  // namespace corvane
