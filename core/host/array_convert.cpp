#include "array_convert.h"

#include <cstdint>
#include <cstring>

namespace sphnet {

// Zero-length requests still ask for one element: hosts may answer mxCalloc(0, ...) with null,
// which must not read as running out of memory.
static void* hostCalloc(int count, std::size_t size) {
    return mxCalloc(count > 0 ? static_cast<std::size_t>(count) : 1, size);
}

double* mxArray1D_to_cArray1D(int* count, const mxArray* array) {
    if (mxGetNumberOfDimensions(array) != 2) {
        *count = 0;
        mexWarnMsgTxt("mxArray1D_to_cArray1D: Argument passed was not appropriate!");
        return nullptr;
    }
    const mwSize* dims = mxGetDimensions(array);
    if (dims[0] == 1) {
        *count = static_cast<int>(dims[1]);
    } else if (dims[1] == 1) {
        *count = static_cast<int>(dims[0]);
    } else {
        *count = 0;
        mexWarnMsgTxt("mxArray1D_to_cArray1D: mxArray argument passed was not appropriate!");
        return nullptr;
    }
    auto* vector = static_cast<double*>(hostCalloc(*count, sizeof(double)));
    if (vector == nullptr) return nullptr;
    if (*count > 0) {
        std::memcpy(vector, mxGetPr(array), static_cast<std::size_t>(*count) * sizeof(double));
    }
    return vector;
}

constexpr std::size_t kPointersPerLine = 64 / sizeof(double*);
static_assert(sizeof(double*) == sizeof(double), "row pointers and values share one block");

double** mxArray2D_to_cArray2D(int* rows, int* cols, const mxArray* array) {
    if (mxGetNumberOfDimensions(array) != 2) {
        *rows = 0;
        *cols = 0;
        mexWarnMsgTxt("mxArray2D_to_cArray2D: mxArray argument passed was not appropriate!");
        return nullptr;
    }
    const mwSize* dims = mxGetDimensions(array);
    *rows = static_cast<int>(dims[0]);
    *cols = static_cast<int>(dims[1]);
    // One host block: the row pointers, then the rows one after another. A block per row
    // would cost the host a bookkeeping entry each, as much again as a short row.
    const auto rowCount = static_cast<std::size_t>(*rows);
    const std::size_t rowValues = static_cast<std::size_t>(*cols);
    // Whole cache lines of pointers, so that the rows start as aligned as the block.
    const std::size_t pointerSlots =
        (rowCount + kPointersPerLine - 1) / kPointersPerLine * kPointersPerLine;
    if (rowValues != 0 && rowCount > (SIZE_MAX / sizeof(double) - pointerSlots) / rowValues)
        return nullptr;
    const std::size_t slots = pointerSlots + rowCount * rowValues;
    auto** table = static_cast<double**>(mxCalloc(slots > 0 ? slots : 1, sizeof(double)));
    if (table == nullptr) return nullptr;
    double* values = reinterpret_cast<double*>(table + pointerSlots);
    for (std::size_t r = 0; r < rowCount; ++r) table[r] = values + r * rowValues;
    const double* pr = mxGetPr(array);
    // A band of rows at a time: each column's part of the band is one or two cache lines, and
    // each row of the band is written in order. Column by column over all rows would touch a
    // new line of every row for each value. With no rows there is nothing to copy, however
    // many columns (up to 2^31) are declared.
    constexpr int kBand = 8;
    for (int first = 0; first < *rows; first += kBand) {
        const int last = first + kBand < *rows ? first + kBand : *rows;
        for (int c = 0; c < *cols; ++c) {
            const double* column = pr + static_cast<std::size_t>(c) * rowCount;
            for (int r = first; r < last; ++r) table[r][c] = column[r];
        }
    }
    return table;
}

mxArray* cArray1D_to_mxArray1D(int count, const double* vector) {
    return cColumns_to_mxArray2D(count, 1, vector);
}

mxArray* cColumns_to_mxArray2D(int rows, int cols, const double* values) {
    const mwSize dims[2] = {rows, cols};
    mxArray* array = mxCreateNumericArray(2, dims, mxDOUBLE_CLASS, mxREAL);
    if (array == nullptr) return nullptr;
    // With no rows there is nothing to copy, however many columns (up to 2^31) there are.
    const std::size_t count =
        static_cast<std::size_t>(rows) * static_cast<std::size_t>(rows > 0 ? cols : 0);
    if (count > 0) std::memcpy(mxGetPr(array), values, count * sizeof(double));
    return array;
}

bool trainingToHost(int wanted, mxArray* plhs[], int nodeCount, int width, const double* values,
                    const double* labels, int presentations, bool converged) {
    if ((plhs[0] = cColumns_to_mxArray2D(nodeCount, width, values)) == nullptr) return false;
    if (wanted > 1 && (plhs[1] = cArray1D_to_mxArray1D(nodeCount, labels)) == nullptr) return false;
    if (wanted > 2 && (plhs[2] = mxCreateDoubleScalar(presentations)) == nullptr) return false;
    return wanted <= 3 || (plhs[3] = mxCreateDoubleScalar(converged ? 1.0 : 0.0)) != nullptr;
}

}  // namespace sphnet
