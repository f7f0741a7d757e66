#include "arg_checks.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace sphnet {

namespace {
// Whether test(v) holds for every value. The end is taken once: asking the host for it per
// element costs more than the test.
template <typename Test>
bool everyValue(const mxArray* array, Test test) {
    const double* last = mxGetPr(array) + mxGetNumberOfElements(array);
    for (const double* v = mxGetPr(array); v != last; ++v) {
        if (!test(*v)) return false;
    }
    return true;
}

bool isTwoDimensional(const mxArray* array) {
    return mxGetNumberOfDimensions(array) == 2;
}

// Sizes the procedures count with int.
bool dimensionsFitInt(const mxArray* array) {
    const mwSize* dims = mxGetDimensions(array);
    // One below INT_MAX, so that a column count plus the radius column still fits.
    return dims[0] < INT_MAX && dims[1] < INT_MAX;
}

bool anyNaN(const mxArray* array) {
    return !everyValue(array, [](double v) { return !std::isnan(v); });
}

// Truncates toward zero into int32 without overflow: the only way a label becomes an int.
bool allLabelsFitInt32(const mxArray* array) {
    return everyValue(array, [](double v) { return kInt32Range.holds(v); });
}
}  // namespace

bool isRealFullDouble(const mxArray* array) {
    return mxIsDouble(array) && !mxIsComplex(array) && !mxIsSparse(array);
}

ScalarShape scalarShape(const mxArray* array) {
    if (!isRealFullDouble(array)) return ScalarShape::NotRealDouble;
    if (!isTwoDimensional(array)) return ScalarShape::NotTwoDimensional;
    const mwSize* dims = mxGetDimensions(array);
    if (dims[0] != 1 && dims[1] != 1) return ScalarShape::NoUnitDimension;
    if (mxIsEmpty(array)) return ScalarShape::Empty;
    return ScalarShape::Ok;
}

bool allFinite(const mxArray* array) {
    return everyValue(array, [](double v) { return std::isfinite(v); });
}

bool allWholeNumbers(const mxArray* array) {
    return everyValue(array, [](double v) { return std::trunc(v) == v; });
}

bool checkMatrixArgument(const mxArray* array, const EntryPoint& entry, const char* argument,
                         const char* mnemonic, ErrorReport& error) {
    if (!isRealFullDouble(array)) {
        return reject(error, entry, mnemonic, "%s: %s must be a real double matrix.", argument);
    }
    if (!isTwoDimensional(array)) {
        return reject(error, entry, mnemonic, "%s: %s must be  a two dimensional array (matrix).",
                      argument);
    }
    if (!dimensionsFitInt(array)) {
        return reject(error, entry, mnemonic, "%s: %s is too large.", argument);
    }
    return true;
}

bool checkLabelVector(const mxArray* array, int count, const EntryPoint& entry,
                      const char* argument, const char* mnemonic, ErrorReport& error) {
    if (!isRealFullDouble(array)) {
        return reject(error, entry, mnemonic, "%s: %s must be a real double vector.", argument);
    }
    if (!isTwoDimensional(array)) {
        return reject(error, entry, mnemonic, "%s: %s must a vector.", argument);
    }
    const mwSize* dims = mxGetDimensions(array);
    const bool row = dims[0] == 1 && dims[1] == count;
    const bool column = dims[1] == 1 && dims[0] == count;
    if (!row && !column) {
        return reject(error, entry, mnemonic, "%s: %s must be of type  %dx1 or 1x%d.", argument,
                      count, count);
    }
    if (anyNaN(array)) {
        return reject(error, entry, mnemonic, "%s: %s must not contain NaN.", argument);
    }
    if (!allLabelsFitInt32(array)) {
        return reject(error, entry, mnemonic, "%s: %s must lie within the 32-bit integer range.",
                      argument);
    }
    return true;
}

bool checkNodeMatrix(const mxArray* array, const EntryPoint& entry, const char* argument,
                     const char* mnemonic, ErrorReport& error) {
    if (!checkMatrixArgument(array, entry, argument, mnemonic, error)) return false;
    if (mxGetN(array) < 1) {
        return reject(error, entry, mnemonic, "%s: %s must have a column for the radius.",
                      argument);
    }
    if (anyNaN(array))
        return reject(error, entry, mnemonic, "%s: %s must not contain NaN.", argument);
    const double* values = mxGetPr(array);
    const std::size_t centreValues = mxGetM(array) * (mxGetN(array) - 1);  // radii come last
    for (std::size_t v = 0; v < centreValues; ++v) {
        if (std::isinf(values[v]))
            return reject(error, entry, mnemonic, "%s: %s must have finite centres.", argument);
    }
    return true;
}

bool readScalar(const mxArray* array, const EntryPoint& entry, const ScalarArgument& argument,
                double& value, ErrorReport& error) {
    const ScalarShape shape = scalarShape(array);
    if (shape == ScalarShape::NotRealDouble) {
        return reject(error, entry, argument.mnemonic, "%s: %s must be a real double scalar.",
                      argument.name);
    }
    if (shape != ScalarShape::Ok)
        return reject(error, entry, argument.mnemonic, "%s: %s %s", argument.name,
                      argument.notScalar);
    value = mxGetScalar(array);
    if (!argument.range.holds(value)) {
        return reject(error, entry, argument.mnemonic, "%s: %s %s", argument.name,
                      argument.outOfRange);
    }
    return true;
}

bool readOflag(const mxArray* array, const EntryPoint& entry, const char* outOfRange, int& oflag,
               ErrorReport& error) {
    const ScalarArgument argument{
        "7th input argument (oflag)", "badOflag", {-1, 4, true}, outOfRange, "must be scalar."};
    double value = 0;
    if (!readScalar(array, entry, argument, value, error)) return false;
    oflag = truncateToInt(value);
    return true;
}

int truncateToInt(double value) {
    return static_cast<int>(std::clamp(value, double{INT_MIN}, double{INT_MAX}));
}

void raiseError(const ErrorReport& error) {
    // The message goes through "%s": a '%' in it must not be read as a conversion.
    mexErrMsgIdAndTxt(error.identifier, "%s", error.message);
    std::abort();  // not reached: mexErrMsgIdAndTxt does not return
}

void raiseProcedureFailure(ProcedureStatus status, const EntryPoint& entry) {
    ErrorReport error;
    if (status == ProcedureStatus::Interrupted) {
        formatError(error, entry, "interrupted", "%s: Interrupted by the user.");
        hostRaiseInterrupt(error.identifier, error.message);
    }
    formatError(error, entry, "outOfMemory", "%s: Not enough memory available; unable to run!");
    raiseError(error);
}

}  // namespace sphnet
