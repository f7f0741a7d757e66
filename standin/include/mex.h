// Stand-in for a MATLAB-style host's mex.h: the subset of the MEX interface that the
// modules call, with the same names, types and class ids as the real headers.
#pragma once

#include <cstddef>
#include <cstdint>

typedef std::int64_t mwSize;
typedef std::int64_t mwIndex;

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

struct mxArray_tag;
typedef struct mxArray_tag mxArray;

extern "C" {

mwSize mxGetNumberOfDimensions(const mxArray* array);
const mwSize* mxGetDimensions(const mxArray* array);
std::size_t mxGetM(const mxArray* array);
std::size_t mxGetN(const mxArray* array);
std::size_t mxGetNumberOfElements(const mxArray* array);
bool mxIsEmpty(const mxArray* array);
mxClassID mxGetClassID(const mxArray* array);
bool mxIsDouble(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);
bool mxIsChar(const mxArray* array);
// The characters of a char array into `buffer` with a terminating zero: 0, or 1 when the
// array is not char or does not fit (the buffer then holds what fits).
int mxGetString(const mxArray* array, char* buffer, mwSize bufferLength);
double mxGetScalar(const mxArray* array);
double* mxGetPr(const mxArray* array);

void* mxCalloc(std::size_t count, std::size_t size);
void* mxMalloc(std::size_t bytes);
void* mxRealloc(void* ptr, std::size_t bytes);
void mxFree(void* ptr);

mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classid,
                              mxComplexity flag);
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag);
mxArray* mxCreateDoubleScalar(double value);
void mxDestroyArray(mxArray* array);

int mexPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void mexErrMsgTxt(const char* text);
[[noreturn]] void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void mexWarnMsgTxt(const char* text);
void mexAddFlops(double count);

// Implemented by each module.
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // extern "C"
