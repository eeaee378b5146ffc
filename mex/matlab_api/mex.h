/* The part of MATLAB's MEX and array-library interface that the Corvane
 * gateway uses, declared from MATLAB's documented C API. Builds for MATLAB
 * (Linux .mexa64, Windows .mexw64/.mexw32) compile against this header; the
 * symbols are resolved by MATLAB's libmx and libmex when the file is loaded.
 *
 * Functions whose index and size arguments MATLAB widened in release 7.3 are
 * bound to their versioned exports with the 32-bit forms (mxGetField_700,
 * mxCreateNumericArray_700, ...), which every MATLAB release since 7.0
 * exports; with them mwSize and mwIndex are int. Every other function here is
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
typedef int mwSize;
typedef int mwIndex;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

#ifdef __cplusplus
typedef bool mxLogical;
#else
typedef unsigned char mxLogical;
#endif

mxArray* mxDuplicateArray(const mxArray* array);
mxArray* mxGetField_700(const mxArray* array, int index, const char* name);
#define mxGetField mxGetField_700
mxArray* mxGetFieldByNumber_700(const mxArray* array, int index, int field);
#define mxGetFieldByNumber mxGetFieldByNumber_700
void mxSetFieldByNumber_700(mxArray* array, int index, int field, mxArray* value);
#define mxSetFieldByNumber mxSetFieldByNumber_700
int mxGetNumberOfFields(const mxArray* array);
const char* mxGetFieldNameByNumber(const mxArray* array, int field);
mxArray* mxCreateStructArray_700(int dimensions, const int* sizes, int fields,
                                 const char** names);
#define mxCreateStructArray mxCreateStructArray_700
mxArray* mxCreateNumericArray_700(int dimensions, const int* sizes, mxClassID classId,
                                  mxComplexity complexity);
#define mxCreateNumericArray mxCreateNumericArray_700
int mxGetNumberOfDimensions_700(const mxArray* array);
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700
const int* mxGetDimensions_700(const mxArray* array);
#define mxGetDimensions mxGetDimensions_700
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

/* Used by the detector object's MEX file as well. */
bool mxIsChar(const mxArray* array);
bool mxIsNumeric(const mxArray* array);
bool mxIsLogical(const mxArray* array);
mxClassID mxGetClassID(const mxArray* array);
void* mxGetData(const mxArray* array);
mxLogical* mxGetLogicals(const mxArray* array);
double mxGetScalar(const mxArray* array);
int mxGetString_700(const mxArray* array, char* text, int room);
#define mxGetString mxGetString_700
mxArray* mxCreateDoubleScalar(double value);
mxArray* mxCreateDoubleMatrix_700(int rows, int columns, mxComplexity complexity);
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
mxArray* mxCreateNumericMatrix_700(int rows, int columns, mxClassID classId,
                                   mxComplexity complexity);
#define mxCreateNumericMatrix mxCreateNumericMatrix_700
mxArray* mxCreateLogicalMatrix_700(int rows, int columns);
#define mxCreateLogicalMatrix mxCreateLogicalMatrix_700
void mexWarnMsgIdAndTxt(const char* identifier, const char* format, ...);
int mexAtExit(void (*function)(void));

/* The entry point MATLAB calls. */
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif

#endif
