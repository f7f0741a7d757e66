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
constexpr std::size_t kIdentifierSize = 64;

// An entry point as its errors name it: `name` starts every message ("SPHNET_LEARN"),
// `component` every identifier ("sphnet:learn").
struct EntryPoint {
    const char* name;
    const char* component;
};

// What an entry point raises: the identifier "<component>:<mnemonic>" and the message.
struct ErrorReport {
    char identifier[kIdentifierSize];
    char message[kMessageSize];
};

// Formats an entry point's error: `format` takes the function's upper-case name first.
template <typename... Args>
void formatError(ErrorReport& error, const EntryPoint& entry, const char* mnemonic,
                 const char* format, Args... args) {
    std::snprintf(error.identifier, kIdentifierSize, "%s:%s", entry.component, mnemonic);
    std::snprintf(error.message, kMessageSize, format, entry.name, args...);
}

// Ends the call with the error. Call it last, when nothing of the call is left to free.
[[noreturn]] void raiseError(const ErrorReport& error);

// The only arrays whose data the modules read: real, full (non-sparse) doubles.
bool isRealFullDouble(const mxArray* array);

// Class and shape of an argument that must hold one number, worst fault first.
enum class ScalarShape { Ok, NotRealDouble, NotTwoDimensional, NoUnitDimension, Empty };
ScalarShape scalarShape(const mxArray* array);

// The values a number may take: within [low, high], or (low, high) when `open` (the whole
// numbers read by truncation toward zero: (-1, 4) truncates to 0..3). NaN lies in no range.
struct Range {
    double low;
    double high;
    bool open = false;
    bool holds(double v) const { return open ? v > low && v < high : v >= low && v <= high; }
};
// What truncation toward zero takes into int32.
constexpr Range kInt32Range{-2147483649.0, 2147483648.0, true};

bool allFinite(const mxArray* array);

// Formats the error and returns false: checks end on the first failure.
template <typename... Args>
bool reject(ErrorReport& error, const EntryPoint& entry, const char* mnemonic, const char* format,
            Args... args) {
    formatError(error, entry, mnemonic, format, args...);
    return false;
}

// Checks the entry points share: `argument` names the argument as messages do ("1st input
// argument (Patterns)"), `mnemonic` ends the identifier of every message about it ("badPatterns").
// A real double two-dimensional matrix of int-sized dimensions.
bool checkMatrixArgument(const mxArray* array, const EntryPoint& entry, const char* argument,
                         const char* mnemonic, ErrorReport& error);
// A real double vector of `count` labels, as a row or a column, each convertible to int32.
bool checkLabelVector(const mxArray* array, int count, const EntryPoint& entry,
                      const char* argument, const char* mnemonic, ErrorReport& error);
// Nodes as rows of centre and radius, possibly edited by users: a NaN anywhere, or an infinite
// centre, makes a NaN distance, which counts as covering every pattern. Infinite radii are
// legitimate (training with Rmax = Inf makes them).
bool checkNodeMatrix(const mxArray* array, const EntryPoint& entry, const char* argument,
                     const char* mnemonic, ErrorReport& error);
// Every value a whole number (checkLabelVector has ruled out NaN and values beyond int32).
bool allWholeNumbers(const mxArray* array);
// A scalar argument as an entry point names and checks it. Messages read "<entry>: <name>
// <text>": "must be a real double scalar." for another class, `notScalar` for another shape
// (empty, or without a dimension of size 1), `outOfRange` for a value outside `range`.
struct ScalarArgument {
    const char* name;      // "3rd input argument (norm_type)"
    const char* mnemonic;  // ends the identifier: "badNormType"
    Range range;
    const char* outOfRange;                       // "must be >= 1."
    const char* notScalar = "must be a scalar.";  // some older messages: "must be scalar."
};
bool readScalar(const mxArray* array, const EntryPoint& entry, const ScalarArgument& argument,
                double& value, ErrorReport& error);
// The verbosity oflag of the classic entry points, 0..3 after truncation; `outOfRange` as
// each has always worded it.
bool readOflag(const mxArray* array, const EntryPoint& entry, const char* outOfRange, int& oflag,
               ErrorReport& error);

// Truncation toward zero for integer arguments; values beyond the int range are clamped
// first so the conversion is always defined. NaN must be rejected before this is called.
int truncateToInt(double value);

// Ends the call after a procedure failed: a resumed interrupt or the memory message of `entry`.
// Call it last, when nothing of the call is left to free.
[[noreturn]] void raiseProcedureFailure(ProcedureStatus status, const EntryPoint& entry);

// The frame of a classic entry point: `inputs` arguments, then its own checks, which fill
// `input`, then `outputs` outputs (`outputCount` words that message), then run(input). Every
// failure ends in one host error, raised last, when nothing of the call is left to release.
template <typename Input, typename Check, typename Run>
void serveEntryPoint(const EntryPoint& entry, int nrhs, int inputs, int nlhs, int outputs,
                     const char* outputCount, Check check, Run run) {
    ErrorReport error;
    Input input;
    bool valid = nrhs == inputs ? check(input, error)
                                : reject(error, entry, "inputCount",
                                         "%s: %d input arguments required.", inputs);
    if (valid && nlhs != outputs) valid = reject(error, entry, "outputCount", outputCount, outputs);
    if (!valid) raiseError(error);
    const ProcedureStatus status = run(input);
    if (status != ProcedureStatus::Done) raiseProcedureFailure(status, entry);
}

inline std::int32_t labelToInt(double label) {
    return static_cast<std::int32_t>(label);
}

}  // namespace sphnet
