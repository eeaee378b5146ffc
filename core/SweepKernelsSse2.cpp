// The sweep's column kernels, two lanes of SSE2, which every x86-64 CPU (and
// every x86 target this project builds) has.
#define CORVANE_KERNEL_ISA sse2
#define CORVANE_KERNEL_PATH Sse2
#define CORVANE_KERNEL_LANES 2
#include "internal/SweepKernels.h"
