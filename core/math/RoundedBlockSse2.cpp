// The SSE2 block path (every x86 target: SSE2 is part of x86-64 and required
// of the 32-bit builds).
#include "RoundedBlock.h"
#include "RoundedBlockPaths.h"
#include "RoundedLanesSse2.h"

namespace corvane {
namespace rounded {

void LogBlockSse2(const double* in, double* out, std::int64_t count) {
    LogBlockLanes<Sse2Lanes>(in, out, count);
}
void ExpBlockSse2(const double* in, double* out, std::int64_t count) {
    ExpBlockLanes<Sse2Lanes>(in, out, count);
}

}  // namespace rounded
}  // namespace corvane
