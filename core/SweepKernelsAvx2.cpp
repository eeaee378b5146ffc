// The sweep's column kernels, four lanes of AVX2 (without FMA), used where
// the CPU reports AVX2.
#define CORVANE_KERNEL_ISA avx2
#define CORVANE_KERNEL_PATH Avx2
#define CORVANE_KERNEL_LANES 4
#include "internal/SweepKernels.h"
