#include "array_convert.h"

#include <cstring>

namespace sphnet {

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
