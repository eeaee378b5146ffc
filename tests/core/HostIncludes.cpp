// Compiled by the include tests with only the include directories a host of
// the core gets (the core's, its math library's and setup's public ones):
// every public header compiles, and with CORVANE_REACH_INTERNALS defined the
// core's internals are out of reach.
#include "BackgroundModel.h"
#include "ModelCheck.h"
#include "ModelFieldList.h"
#include "ModelFields.h"
#include "ModelSetup.h"
#include "NeighborOffsets.h"
#include "UpdateModel.h"
#include "WorkerThreads.h"

#if defined(CORVANE_REACH_INTERNALS)
#include "internal/Sweep.h"
#endif

int main() { return corvane::kModelFieldCount > 0 ? 0 : 1; }
