#include "node_matrix_convert.h"

namespace sphnet {

mxArray* cArray2D_to_mxArray2D(int rows, int cols, double** table) {
    const mwSize dims[2] = {rows, cols};
    mxArray* array = mxCreateNumericArray(2, dims, mxDOUBLE_CLASS, mxREAL);
    if (array == nullptr) return nullptr;
    double* pr = mxGetPr(array);
    const auto rowCount = static_cast<std::size_t>(rows);
    // With no nodes there is nothing to copy, however many columns (up to 2^31) there are.
    for (int c = 0; rows > 0 && c < cols; ++c) {
        for (int r = 0; r < rows; ++r) pr[static_cast<std::size_t>(c) * rowCount + r] = table[r][c];
    }
    for (int r = 0; r < rows; ++r) mxFree(table[r]);
    mxFree(table);
    return array;
}

}  // namespace sphnet
