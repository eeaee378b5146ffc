/* The part of MATLAB's MEX and array-library interface that the Corvane
 * gateway uses, declared from MATLAB's documented C API. Builds for MATLAB
 * (Linux .mexa64, Windows .mexw64/.mexw32) compile against this header; the
 * symbols are resolved by MATLAB's libmx and libmex when the file is loaded.
 *
 * mxGetField is MATLAB's versioned export mxGetField_700 (the 32-bit-index
 * form every MATLAB release since 7.0 exports). Every other function here is
 * exported under its plain name. */
#ifndef CORVANE_MATLAB_API_MEX_H
#define CORVANE_MATLAB_API_MEX_H

#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;

mxArray* mxDuplicateArray(const mxArray* array);
mxArray* mxGetField_700(const mxArray* array, int index, const char* name);
#define mxGetField mxGetField_700
double* mxGetPr(const mxArray* array);
size_t mxGetNumberOfElements(const mxArray* array);
const char* mxGetClassName(const mxArray* array);
bool mxIsStruct(const mxArray* array);
bool mxIsDouble(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);
void* mxMalloc(size_t bytes);
void mxFree(void* block);
void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...);

/* The entry point MATLAB calls. */
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif

#endif
