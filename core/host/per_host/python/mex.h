// mex.h for the Python host: the part of the MEX interface the procedures call. The host
// layer (core/host/per_host/host_python.cpp) implements it on top of the Python C API.
#pragma once

#include <cstddef>

// Host arrays never reach the procedures under Python; the type is only named by shared headers.
struct mxArray_tag;
typedef struct mxArray_tag mxArray;

extern "C" {

void* mxCalloc(std::size_t count, std::size_t size);
void* mxRealloc(void* ptr, std::size_t bytes);
void mxFree(void* ptr);

int mexPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void mexWarnMsgTxt(const char* text);

}  // extern "C"
