// The sweep's column kernels, eight lanes of AVX-512F, used where the CPU
// reports AVX-512F (fused multiply-adds stay unused: -ffp-contract=off).
#define CORVANE_KERNEL_ISA avx512
#define CORVANE_KERNEL_PATH Avx512
#define CORVANE_KERNEL_LANES 8
#include "internal/SweepKernels.h"
