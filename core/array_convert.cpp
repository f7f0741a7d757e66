#include "array_convert.h"

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
    auto** table = static_cast<double**>(hostCalloc(*rows, sizeof(double*)));
    if (table == nullptr) return nullptr;
    for (int r = 0; r < *rows; ++r) {
        table[r] = static_cast<double*>(hostCalloc(*cols, sizeof(double)));
        if (table[r] == nullptr) return nullptr;
    }
    const double* pr = mxGetPr(array);
    const auto rowCount = static_cast<std::size_t>(*rows);
    // With no rows there is nothing to copy, however many columns (up to 2^31) are declared.
    // Column by column within bands of rows: each column's stretch is read in order while the
    // band's rows stay in cache.
    constexpr int kBand = 64;
    for (int r0 = 0; r0 < *rows; r0 += kBand) {
        const int r1 = *rows - r0 > kBand ? r0 + kBand : *rows;
        for (int c = 0; c < *cols; ++c) {
            const double* column = pr + static_cast<std::size_t>(c) * rowCount;
            for (int r = r0; r < r1; ++r) table[r][c] = column[r];
        }
    }
    return table;
}

mxArray* cArray1D_to_mxArray1D(int count, double* vector) {
    const mwSize dims[2] = {count, 1};
    mxArray* array = mxCreateNumericArray(2, dims, mxDOUBLE_CLASS, mxREAL);
    if (array == nullptr) return nullptr;
    if (count > 0) std::memcpy(mxGetPr(array), vector, static_cast<std::size_t>(count) * sizeof(double));
    mxFree(vector);
    return array;
}

}  // namespace sphnet
