// Small predicates the entry points use to check host arrays before reading any data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mex_host.h"
#include "procedure_status.h"

namespace sphnet {

// Every message is formatted into a buffer of this size before it is raised.
constexpr std::size_t kMessageSize = 1024;

// Formats an entry point's message: `format` takes the function's upper-case name first.
template <typename... Args>
void formatMessage(char* buffer, const char* format, const char* name, Args... args) {
    std::snprintf(buffer, kMessageSize, format, name, args...);
}

// The only arrays whose data the modules read: real, full (non-sparse) doubles.
bool isRealFullDouble(const mxArray* array);
bool isTwoDimensional(const mxArray* array);
// Two-dimensional with a dimension of size 1: the shape every scalar argument must have.
bool hasUnitDimension(const mxArray* array);

// Class and shape of an argument that must hold one number, worst fault first.
enum class ScalarShape { Ok, NotRealDouble, NotTwoDimensional, NoUnitDimension, Empty };
ScalarShape scalarShape(const mxArray* array);

// Sizes the procedures count with int.
bool dimensionsFitInt(const mxArray* array);

bool allFinite(const mxArray* array);
bool anyNaN(const mxArray* array);
// Truncates toward zero into int32 without overflow: the only way a label becomes an int.
bool allLabelsFitInt32(const mxArray* array);

// Formats the message and returns false: checks end on the first failure.
template <typename... Args>
bool reject(char* message, const char* name, const char* format, Args... args) {
    formatMessage(message, format, name, args...);
    return false;
}

// Checks shared by both entry points. `argument` names the argument as messages do, for
// example "1st input argument (Patterns)"; `name` is the function's upper-case name.
// A real double two-dimensional matrix of int-sized dimensions.
bool checkMatrixArgument(const mxArray* array, const char* name, const char* argument,
                         char* message);
// A real double vector of `count` labels, as a row or a column, each convertible to int32.
bool checkLabelVector(const mxArray* array, int count, const char* name, const char* argument,
                      char* message);
// A real double array with a dimension of size 1 that is not empty.
bool checkScalarArgument(const mxArray* array, const char* name, const char* argument,
                         char* message);

// Truncation toward zero for integer arguments; values beyond the int range are clamped
// first so the conversion is always defined. NaN must be rejected before this is called.
int truncateToInt(double value);

// Ends the call after a procedure failed: a resumed interrupt or the memory message, formatted
// with the function's upper-case name. Call it last, when nothing of the call is left to free.
[[noreturn]] void raiseProcedureFailure(ProcedureStatus status, const char* name);

inline std::int32_t labelToInt(double label) { return static_cast<std::int32_t>(label); }

}  // namespace sphnet
