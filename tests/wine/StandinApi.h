// The test driver's view of the stand-in libmx.dll and libmex.dll: the MATLAB
// functions the gateway calls (from the project's declaration header) plus the
// stand-ins' own functions for building arrays and reading their counters.
#pragma once

#include <csetjmp>
#include <cstddef>

#include "mex.h"

extern "C" {

// --- libmx.dll -------------------------------------------------------------

// A real double array of `count` elements copied from `values` (zeros when
// null), a char row vector, an empty struct array of `elements` elements.
mxArray* StandinCreateDouble(size_t count, const double* values);
mxArray* StandinCreateChar(const char* text);
mxArray* StandinCreateComplexDouble(size_t count);
mxArray* StandinCreateStruct(size_t elements);
// An array of any numeric class or logical, `sizes` as MATLAB gives them,
// its data copied from `values` (zeros when null).
mxArray* StandinCreateNumeric(mxClassID classId, int dimensions, const int* sizes,
                              const void* values);
// Sets field `name` of element `index` to `value` (taking it over), adding
// the field to the struct when it has none of that name.
void StandinSetField(mxArray* s, size_t index, const char* name, mxArray* value);
// Removes field `name` (and its values) from every element.
void StandinRemoveField(mxArray* s, const char* name);
size_t StandinFieldCount(const mxArray* s);
const char* StandinFieldName(const mxArray* s, size_t k);
// Frees an array and everything in it.
void StandinDestroy(mxArray* array);
// Deep equality: same class, shape, field names in the same order, values
// equal bit for bit.
bool StandinIdentical(const mxArray* a, const mxArray* b);

// mxMalloc / mxFree bookkeeping since the last reset.
struct StandinMemoryStats {
    size_t allocations;  // successful mxMalloc calls
    size_t frees;        // mxFree calls on a live block
    size_t live;         // blocks allocated and not yet freed
    size_t badFrees;     // mxFree on a pointer that is not a live block
    size_t bytesAllocated;
};
void StandinResetMemoryStats(void);
StandinMemoryStats StandinGetMemoryStats(void);
// Frees every live block, as MATLAB does when a MEX call ends in an error.
void StandinReleaseLiveBlocks(void);

// --- libmex.dll ------------------------------------------------------------

// Where mexErrMsgIdAndTxt sends control: it records the identifier and the
// formatted message, then longjmps to `target` (set with setjmp by the
// caller). With no target set it prints the error and exits the process.
int StandinWarningCount(void);
void StandinRunAtExit(void);
void StandinSetErrorTarget(std::jmp_buf* target);
const char* StandinLastErrorId(void);
const char* StandinLastErrorMessage(void);

}  // extern "C"
