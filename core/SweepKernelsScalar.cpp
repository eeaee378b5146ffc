// The sweep's column kernels, one pixel at a time: the same source with the
// compiler's vectorisation turned off, the path the others are tested against.
#define CORVANE_KERNEL_ISA scalar
#define CORVANE_KERNEL_PATH Scalar
#define CORVANE_KERNEL_LANES 1
#include "internal/SweepKernels.h"
